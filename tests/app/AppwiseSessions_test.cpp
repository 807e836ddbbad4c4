// Appwise hands a login session from one engine to the other, against the
// stand-in server: whichever engine logged in, both hold a session the
// server accepts. No widgets: the ThreadSanitizer build runs this program.

#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "devserver/AccountEndpoints.h"
#include "support/EngineRequests.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"
#include "user/UserNotifications.h"

using namespace apptest;
using ostrelcomm::SecretBytes;
using ostrelcomm::SrvComm;
using quorvel::Appwise;
using quorvel::CommTasks;
using testsupport::NotificationRecorder;

Q_DECLARE_METATYPE(CommTasks)

namespace {

constexpr int kGuardMs = 30'000;
constexpr char kPassword[] = "app-session-pw";

devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

std::string makeUser(const std::string& stem) {
    std::string name = testsupport::uniqueName(stem);
    devserver::addDemoUser(server().users(), name, kPassword);
    return name;
}

// An engine's login ends and profile answers, as posted.
class EngineRecorder : public NotificationRecorder {
public:
    explicit EngineRecorder(const SrvComm& engine)
        : NotificationRecorder(engine.notifications(), {ostrelcomm::auth::kSRPAuthenticatedNotification,
                                                        ostrelcomm::user::kUserProfileDataAvailableNotification}) {}
    // The words of the notifications with this name, "InProgress" left out.
    std::vector<std::string> words(const char* name) const {
        std::vector<std::string> out;
        for (const auto& p : all())
            if (p.name == name && p.result != ostrelcomm::auth::kInProgress) out.push_back(p.result);
        return out;
    }
};

int statusChanges(const NotificationRecorder& recorder) {
    int n = 0;
    for (const auto& p : recorder.all()) n += p.name == quorvel::kAuthenticationStatusChangedNotification;
    return n;
}

// The engine's session is one the server keeps, with the same key.
bool serverKnows(const SrvComm& engine) {
    const auto session = engine.sessionForHandOver();
    if (!session) return false;
    const auto kept = server().sessions().find(session->sessionID);
    return kept && !kept->expired && kept->key == session->sessionKey.copyOut();
}

}  // namespace

class AppwiseSessionsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before any engine makes its first HTTPS session.
        server();
    }

    void aLoginIsHandedToTheOtherEngine_data() {
        QTest::addColumn<CommTasks>("source");
        QTest::addColumn<CommTasks>("target");
        QTest::newRow("fast to slow") << CommTasks::fastTask << CommTasks::slowTask;
        QTest::newRow("slow to fast") << CommTasks::slowTask << CommTasks::fastTask;
    }
    void aLoginIsHandedToTheOtherEngine() {
        QFETCH(CommTasks, source);
        QFETCH(CommTasks, target);
        const std::string user = makeUser("app-hand-over");
        auto appwise = makeAppwise(uniqueSuite("hand-over"));
        SrvComm& from = *appwise->engine(source);
        SrvComm& to = *appwise->engine(target);
        NotificationRecorder status(appwise->notifications(), {quorvel::kAuthenticationStatusChangedNotification});
        EngineRecorder fromRecorder(from);
        EngineRecorder toRecorder(to);

        from.auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
        QTRY_VERIFY_WITH_TIMEOUT(!fromRecorder.words(ostrelcomm::auth::kSRPAuthenticatedNotification).empty(),
                                 kGuardMs);

        QCOMPARE(fromRecorder.words(ostrelcomm::auth::kSRPAuthenticatedNotification),
                 std::vector<std::string>{ostrelcomm::auth::kAuthenticated});
        const auto handed = from.sessionForHandOver();
        const auto received = to.sessionForHandOver();
        QVERIFY(handed && received);
        QCOMPARE(received->username, user);
        QVERIFY(received->password == handed->password);
        QCOMPARE(received->sessionID, handed->sessionID);
        QVERIFY(received->sessionKey == handed->sessionKey);
        QVERIFY(appwise->authenticated());
        QCOMPARE(statusChanges(status), 1);

        // The target signs with the handed session, and the server takes it.
        to.user_addGetProfile();
        QTRY_VERIFY_WITH_TIMEOUT(
            !toRecorder.words(ostrelcomm::user::kUserProfileDataAvailableNotification).empty(), kGuardMs);
        QCOMPARE(toRecorder.words(ostrelcomm::user::kUserProfileDataAvailableNotification),
                 std::vector<std::string>{ostrelcomm::user::kCompleted});
        const auto requests = testsupport::requestsOf(server(), user);
        QVERIFY(!requests.empty());
        QCOMPARE(requests.back().path, std::string("/userprofile/getprofile/"));
        QCOMPARE(requests.back().values("x-sb-sessionid"), std::vector<std::string>{handed->sessionID});
        QCOMPARE(statusChanges(status), 1);
    }

    // Both engines log in at the same moment, each handing its session to
    // the other while the other's own login runs. Whatever the order, each
    // engine ends with a whole session the server accepts and signs with.
    void loginsOnBothEnginesAtOnce() {
        const std::string user = makeUser("app-both-engines");
        auto appwise = makeAppwise(uniqueSuite("both-engines"));
        SrvComm& fast = *appwise->engine(CommTasks::fastTask);
        SrvComm& slow = *appwise->engine(CommTasks::slowTask);
        EngineRecorder fastRecorder(fast);
        EngineRecorder slowRecorder(slow);
        const char* login = ostrelcomm::auth::kSRPAuthenticatedNotification;
        const char* profile = ostrelcomm::user::kUserProfileDataAvailableNotification;
        // Each engine has posted `count` ends of `name`.
        auto bothEnded = [&](const char* name, std::size_t count) {
            return fastRecorder.words(name).size() == count && slowRecorder.words(name).size() == count;
        };

        for (std::size_t round = 1; round <= 20; ++round) {
            fast.auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
            slow.auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
            QTRY_VERIFY_WITH_TIMEOUT(bothEnded(login, round), kGuardMs);
            // A login may end in error: the other engine's session, handed
            // over during its first exchange, takes the place of the
            // exchange's. The engine still holds a whole session.
            QVERIFY2(serverKnows(fast), std::to_string(round).c_str());
            QVERIFY2(serverKnows(slow), std::to_string(round).c_str());

            fast.user_addGetProfile();
            slow.user_addGetProfile();
            QTRY_VERIFY_WITH_TIMEOUT(bothEnded(profile, round), kGuardMs);
            QCOMPARE(fastRecorder.words(profile).back(), std::string(ostrelcomm::user::kCompleted));
            QCOMPARE(slowRecorder.words(profile).back(), std::string(ostrelcomm::user::kCompleted));
        }
    }

    // A password change or a deletion logs in again with the password typed
    // first; the server refuses it here, and the engine gets its session
    // back. While a password change counts, Appwise announces nothing of the
    // refused login (the change's own result tells the user) until the
    // change has reported its end; a deletion's refused login is announced
    // as a logout, as any other.
    void aRefusedRenewal_data() {
        QTest::addColumn<bool>("passwordChange");
        QTest::newRow("password change") << true;
        QTest::newRow("profile deletion") << false;
    }
    void aRefusedRenewal() {
        QFETCH(bool, passwordChange);
        const std::string user = makeUser("app-renewal-refused");
        auto appwise = makeAppwise(uniqueSuite("renewal-refused"));
        SrvComm& fast = *appwise->engine(CommTasks::fastTask);
        SrvComm& slow = *appwise->engine(CommTasks::slowTask);
        fast.auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
        QTRY_VERIFY_WITH_TIMEOUT(appwise->authenticated() && serverKnows(slow), kGuardMs);
        NotificationRecorder status(appwise->notifications(), {quorvel::kAuthenticationStatusChangedNotification});
        const char* end = passwordChange ? ostrelcomm::user::kUserModificationNotification
                                         : ostrelcomm::user::kUserProfileDeletedNotification;
        NotificationRecorder ends(fast.notifications(), {ostrelcomm::auth::kSRPAuthenticatedNotification, end});
        const auto ended = [&](const char* name) {
            for (const auto& p : ends.all())
                if (p.name == name && p.result != ostrelcomm::auth::kInProgress) return p.result;
            return std::string();
        };
        LogCapture log;

        const SecretBytes wrong = SecretBytes::fromText("not-the-password");
        if (passwordChange) {
            appwise->beginPasswordChange();
            fast.user_modify(user, wrong, SecretBytes::fromText("a-new-password"));
        } else {
            fast.user_delete(wrong);
        }
        QTRY_VERIFY_WITH_TIMEOUT(!ended(end).empty() && !ended(ostrelcomm::auth::kSRPAuthenticatedNotification).empty(),
                                 kGuardMs);
        QCOMPARE(ended(end), std::string(ostrelcomm::user::kError));
        QCOMPARE(ended(ostrelcomm::auth::kSRPAuthenticatedNotification), std::string(ostrelcomm::auth::kError));
        QVERIFY(serverKnows(fast));
        QVERIFY(serverKnows(slow));
        QCOMPARE(statusChanges(status), passwordChange ? 0 : 1);
        QCOMPARE(appwise->authenticated(), passwordChange);
        QCOMPARE(log.contains(Appwise::kRenewalRefusedLog), passwordChange);
        QTRY_VERIFY_WITH_TIMEOUT(!appwise->passwordChangeRunning(), kGuardMs);
    }
};

QTEST_GUILESS_MAIN(AppwiseSessionsTest)
#include "AppwiseSessions_test.moc"
