// The application's shared state: its settings file, its reaction to the
// engines' login and logout notifications, the local path, the keychain
// identifier and the alert hop. The hand-over against the stand-in server is
// in AppwiseSessions_test.cpp.

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <any>
#include <memory>
#include <string>
#include <thread>

#include "AppTestSupport.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "auth/AuthNotifications.h"
#include "crypto/SecretBytes.h"
#include "platform/AppInfo.h"
#include "platform/NotificationCenter.h"
#include "support/NotificationRecorder.h"

using namespace apptest;
using ostrelcomm::ConflictingBehaviours;
using ostrelcomm::SecretBytes;
using ostrelcomm::UserInfo;
using quorvel::Appwise;
using quorvel::CommTasks;

Q_DECLARE_METATYPE(ConflictingBehaviours)
Q_DECLARE_METATYPE(CommTasks)
Q_DECLARE_METATYPE(UserInfo)

namespace {

// The notifications Appwise posts on its own center.
class StatusRecorder : public testsupport::NotificationRecorder {
public:
    explicit StatusRecorder(const Appwise& appwise)
        : NotificationRecorder(appwise.notifications(), {quorvel::kAuthenticationStatusChangedNotification,
                                                          quorvel::kRefreshLocalFilesListNotification}) {}
    int count(const char* name) const {
        int n = 0;
        for (const auto& posted : all()) n += posted.name == name;
        return n;
    }
};

// Gives the engine a whole session and lets Appwise see its login end, so
// that Appwise holds `authenticated` true.
void establishLogin(Appwise& appwise) {
    auto& fast = *appwise.engine(CommTasks::fastTask);
    fast.auth_setup("someone", SecretBytes::fromText("pw"), "SESSION", SecretBytes::fromText("0123456789abcdef"));
    fast.notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification,
                               {{"Result", std::string(ostrelcomm::auth::kAuthenticated)}});
}

UserInfo result(const char* word) { return {{"Result", std::string(word)}}; }

}  // namespace

class AppwiseTest : public QObject {
    Q_OBJECT

private slots:
    void firstRunWritesTheDefaults() {
        const std::string suite = uniqueSuite("first-run");
        LogCapture log;
        auto appwise = makeAppwise(suite);

        QVERIFY(appwise->setup() == quorvel::AppSetup{});
        QVERIFY(log.contains("App default setup loaded"));
        const QString text = readText(settingsFile(suite));
        for (const char* line : {"logoffTimeout=0", "biometricLogin=false", "automaticAccessAtStartup=false",
                                 "showFullLog=false", "sendingConflictBehaviour=0", "setupInitDone=true"})
            QVERIFY2(text.contains(QLatin1String(line)), line);
        QVERIFY(!appwise->initializing());
        QVERIFY(!appwise->gcAccepted());
    }

    void storedSettingsAreLoaded_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<ConflictingBehaviours>("loaded");
        QTest::addColumn<QByteArray>("savedAgain");
        QTest::newRow("1") << QByteArray("1") << ConflictingBehaviours::alwaysReplace << QByteArray("1");
        QTest::newRow("2") << QByteArray("2") << ConflictingBehaviours::rename << QByteArray("2");
        QTest::newRow("0") << QByteArray("0") << ConflictingBehaviours::skipIfEqual << QByteArray("0");
        QTest::newRow("7") << QByteArray("7") << ConflictingBehaviours::skipIfEqual << QByteArray("0");
        QTest::newRow("-1") << QByteArray("-1") << ConflictingBehaviours::skipIfEqual << QByteArray("0");
        QTest::newRow("x") << QByteArray("x") << ConflictingBehaviours::skipIfEqual << QByteArray("0");
    }
    void storedSettingsAreLoaded() {
        QFETCH(QByteArray, stored);
        QFETCH(ConflictingBehaviours, loaded);
        QFETCH(QByteArray, savedAgain);
        const std::string suite = uniqueSuite("stored");
        const QByteArray file = "[General]\nsetupInitDone=true\nlogoffTimeout=15\nbiometricLogin=true\n"
                                "automaticAccessAtStartup=true\nshowFullLog=true\nsendingConflictBehaviour=" +
                                stored + "\n";
        QVERIFY(writeText(settingsFile(suite), file));
        LogCapture log;
        auto appwise = makeAppwise(suite);

        const quorvel::AppSetup& setup = appwise->setup();
        QCOMPARE(setup.sendingConflictBehaviour, loaded);
        QCOMPARE(setup.logoffTimeout, std::int64_t{15});
        QVERIFY(setup.biometricLogin);
        QVERIFY(setup.automaticAccessAtStartup);
        QVERIFY(setup.showFullLog);
        // Loading writes nothing back.
        QVERIFY(log.lines().empty());
        QCOMPARE(readText(settingsFile(suite)).toUtf8(), file);

        appwise->saveSetup();
        QVERIFY(readText(settingsFile(suite)).contains("sendingConflictBehaviour=" + savedAgain + "\n"));
    }

    // Anything but a stored true reads as false: a damaged file never turns
    // the automatic login on.
    void damagedValuesLoadAsDefaults() {
        const std::string suite = uniqueSuite("damaged");
        QVERIFY(writeText(settingsFile(suite), "[General]\nsetupInitDone=true\nlogoffTimeout=soon\n"
                                               "biometricLogin=maybe\nautomaticAccessAtStartup=\n"));
        auto appwise = makeAppwise(suite);
        QVERIFY(appwise->setup() == quorvel::AppSetup{});
    }

    // A settings file that cannot be opened or parsed: logged, the defaults
    // stay in memory, and nothing is written over it.
    void anUnusableSuiteLeavesTheDefaults_data() {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("a folder in its place") << true << QByteArray();
        QTest::newRow("malformed") << false << QByteArray("[General\nsetupInitDone=true\nbiometricLogin=true\n");
    }
    void anUnusableSuiteLeavesTheDefaults() {
        QFETCH(bool, folder);
        QFETCH(QByteArray, content);
        const std::string suite = uniqueSuite("unusable");
        const QString path = settingsFile(suite);
        QVERIFY(folder ? QDir().mkpath(path) : writeText(path, content));
        LogCapture log;
        auto appwise = makeAppwise(suite);

        QVERIFY(log.contains(Appwise::kSetupDatabaseError));
        QVERIFY(!log.contains("App default setup loaded"));
        QVERIFY(appwise->setup() == quorvel::AppSetup{});
        QVERIFY(!appwise->gcAccepted());
        appwise->setGcAccepted(true);
        QVERIFY(!appwise->gcAccepted());
        appwise->saveSetup();
        QCOMPARE(QFileInfo(path).isDir(), folder);
        if (!folder) QCOMPARE(readText(path).toUtf8(), content);
    }

    void acceptedTermsAreKeptInTheSuite() {
        const std::string suite = uniqueSuite("terms");
        {
            auto appwise = makeAppwise(suite);
            QVERIFY(!appwise->gcAccepted());
            appwise->setGcAccepted(true);
        }
        QVERIFY(readText(settingsFile(suite)).contains("GCAccepted=true"));
        auto appwise = makeAppwise(suite);
        QVERIFY(appwise->gcAccepted());
    }

    // A login's end on either engine: only "Authenticated" (with a session to
    // hand over) makes the state authenticated; "InProgress" is no end; every
    // other end, malformed ones included, is announced as not authenticated,
    // also when that changes nothing.
    void loginEnds_data() {
        QTest::addColumn<CommTasks>("engine");
        QTest::addColumn<bool>("before");
        QTest::addColumn<UserInfo>("userInfo");
        QTest::addColumn<int>("posts");
        QTest::addColumn<bool>("after");
        const UserInfo nonText{{"Result", 1}};
        const UserInfo nullResult{{"Result", std::any(ostrelcomm::NullObject{})}};
        for (CommTasks engine : {CommTasks::fastTask, CommTasks::slowTask}) {
            const char* e = engine == CommTasks::fastTask ? "fast" : "slow";
            for (bool before : {true, false}) {
                const char* b = before ? "authenticated" : "not authenticated";
                auto row = [&](const char* what) -> QTestData& { return QTest::addRow("%s, %s, %s", e, b, what); };
                row("InProgress") << engine << before << result("InProgress") << 0 << before;
                row("Error") << engine << before << result("Error") << 1 << false;
                row("Aborted") << engine << before << result("Aborted") << 1 << false;
                row("another word") << engine << before << result("Completed") << 1 << false;
                row("no userInfo") << engine << before << UserInfo{} << 1 << false;
                row("non-text Result") << engine << before << nonText << 1 << false;
                row("null Result") << engine << before << nullResult << 1 << false;
            }
        }
    }
    void loginEnds() {
        QFETCH(CommTasks, engine);
        QFETCH(bool, before);
        QFETCH(UserInfo, userInfo);
        QFETCH(int, posts);
        QFETCH(bool, after);
        auto appwise = makeAppwise(uniqueSuite("login-end"));
        if (before) establishLogin(*appwise);
        QCOMPARE(appwise->authenticated(), before);
        StatusRecorder recorder(*appwise);

        appwise->engine(engine)->notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification, userInfo);

        QCOMPARE(recorder.count(quorvel::kAuthenticationStatusChangedNotification), posts);
        QCOMPARE(appwise->authenticated(), after);
    }

    // "Authenticated" from an engine that holds no whole session: nothing is
    // handed over, and the login counts as failed.
    void anAuthenticatedEngineWithoutASessionHandsNothingOver() {
        auto appwise = makeAppwise(uniqueSuite("no-session"));
        establishLogin(*appwise);
        auto& fast = *appwise->engine(CommTasks::fastTask);
        auto& slow = *appwise->engine(CommTasks::slowTask);
        fast.setSrpSessionKey(std::nullopt);
        StatusRecorder recorder(*appwise);
        LogCapture log;

        fast.notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification, result("Authenticated"));

        QVERIFY(!appwise->authenticated());
        QCOMPARE(recorder.count(quorvel::kAuthenticationStatusChangedNotification), 1);
        QVERIFY(log.contains("Login reported without a complete session: nothing to hand over"));
        // The slow engine keeps the session it was handed before.
        QCOMPARE(slow.sessionID(), std::optional<std::string>("SESSION"));
    }

    void logouts_data() {
        QTest::addColumn<CommTasks>("engine");
        QTest::addColumn<UserInfo>("userInfo");
        QTest::addColumn<int>("posts");
        QTest::addColumn<bool>("after");
        QTest::newRow("fast, Completed") << CommTasks::fastTask << result("Completed") << 1 << false;
        QTest::newRow("fast, Error") << CommTasks::fastTask << result("Error") << 1 << false;
        QTest::newRow("fast, no userInfo") << CommTasks::fastTask << UserInfo{} << 1 << false;
        QTest::newRow("slow, Completed") << CommTasks::slowTask << result("Completed") << 0 << true;
    }
    void logouts() {
        QFETCH(CommTasks, engine);
        QFETCH(UserInfo, userInfo);
        QFETCH(int, posts);
        QFETCH(bool, after);
        auto appwise = makeAppwise(uniqueSuite("logout"));
        establishLogin(*appwise);
        StatusRecorder recorder(*appwise);

        appwise->engine(engine)->notifications()->post(ostrelcomm::auth::kUserLogoutNotification, userInfo);

        QCOMPARE(recorder.count(quorvel::kAuthenticationStatusChangedNotification), posts);
        QCOMPARE(appwise->authenticated(), after);
    }

    void everySetOfTheLocalPathIsAnnounced() {
        auto appwise = makeAppwise(uniqueSuite("local-path"));
        QCOMPARE(QString::fromStdString(appwise->localPath().string()), QDir::homePath());
        StatusRecorder recorder(*appwise);
        const std::filesystem::path folder = QDir::tempPath().toStdString();

        appwise->setLocalPath(folder);
        appwise->setLocalPath(folder);

        QCOMPARE(recorder.count(quorvel::kRefreshLocalFilesListNotification), 2);
        QCOMPARE(appwise->localPath(), folder);
    }

    void theKeychainIdentifierJoinsPrefixAndSuite_data() {
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QString>("expected");
        QTest::newRow("prefix") << "AB12CD34EF." << "AB12CD34EF.";
        QTest::newRow("empty prefix") << "" << "INVALID AppIdentifierPrefix";
    }
    void theKeychainIdentifierJoinsPrefixAndSuite() {
        QFETCH(QString, prefix);
        QFETCH(QString, expected);
        const ostrelcomm::AppInfo saved = ostrelcomm::AppInfo::current();
        ostrelcomm::AppInfo info = saved;
        info.identifierPrefix = prefix.toStdString();
        ostrelcomm::AppInfo::set(info);
        const std::string suite = uniqueSuite("keychain");
        auto appwise = makeAppwise(suite);
        ostrelcomm::AppInfo::set(saved);

        QCOMPARE(QString::fromStdString(appwise->appIdentifierPrefix()), expected);
        QCOMPARE(appwise->keychainID(), expected.toStdString() + suite);
    }

    // From any thread: the call queues the alert and returns; the alert comes
    // on the main thread, its texts looked up ("Localizable" lacks these keys,
    // so they show themselves).
    void anAlertFromAnotherThreadIsShownOnTheMainThread() {
        auto presenter = std::make_shared<RecordingAlertPresenter>();
        Appwise::installShared(makeAppwise(uniqueSuite("alert"), presenter));

        std::thread caller([] { Appwise::runAlert("NoSuchTitleKey", "No such message key", "NSCaution"); });
        caller.join();
        QVERIFY(presenter->shown().empty());

        QTRY_COMPARE(presenter->shown().size(), std::size_t{1});
        const auto shown = presenter->shown().front();
        QVERIFY(shown.onMainThread);
        QCOMPARE(shown.messageText, QString("NoSuchTitleKey"));
        QCOMPARE(shown.informativeText, QString("No such message key"));
    }
};

QTEST_GUILESS_MAIN(AppwiseTest)
#include "Appwise_test.moc"
