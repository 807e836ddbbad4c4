// The login sheet against the stand-in server: a typed login, a wrong
// password corrected, the automatic login from the keychain and its
// failures, the eye and the two password fields, Cancel with and without a
// login to abort, and what each word of the fast engine's login does to it.

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/QuorvelCredentials.h"
#include "app/sheets/LoginViewController.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "devserver/AccountEndpoints.h"
#include "jobs/CommJobs.h"
#include "jobs/JobStatus.h"
#include "jobs/JobType.h"
#include "jobs/UserAuthStatus.h"
#include "securestore/AppleSecureStore.h"
#include "securestore/GenericPasswordQueryable.h"
#include "support/EngineRequests.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"

using namespace apptest;
using ostrelcomm::JobStatus;
using ostrelcomm::SecretBytes;
using ostrelcomm::UserInfo;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::LoginViewController;

Q_DECLARE_METATYPE(UserInfo)

namespace {

constexpr int kGuardMs = 30'000;
constexpr char kPassword[] = "sheet-password";

devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

std::string makeUser(const std::string& stem, const std::string& password = kPassword) {
    std::string name = testsupport::uniqueName(stem);
    devserver::addDemoUser(server().users(), name, password);
    return name;
}

bool inCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

bool haveKeyring() { return std::getenv("QUORVEL_TEST_KEYRING") != nullptr; }

// The keychain cases need the throw-away Secret Service of
// scripts/with-keyring: they fail without it in CI and are skipped elsewhere.
#define REQUIRE_KEYRING()                                                                                 \
    do {                                                                                                  \
        if (!haveKeyring()) {                                                                             \
            if (inCI()) QFAIL("The keychain tests must run against a Secret Service in CI (with-keyring)"); \
            QSKIP("Needs a Secret Service (run under scripts/with-keyring)");                             \
        }                                                                                                 \
    } while (false)

// Runs what the main thread has queued, and what that queues in turn (a
// result's hop, then the spinner's or an alert's).
void drainMainQueue() {
    for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
}

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

int countOf(const testsupport::NotificationRecorder& recorder, const char* name) {
    int n = 0;
    for (const auto& posted : recorder.all()) n += posted.name == name;
    return n;
}

// A window with the sheet opened on it, as the main window opens it.
struct OpenSheet {
    OpenSheet() {
        window.show();
        sheet = new LoginViewController(&window);
        sheet->open();
    }

    template <class Widget>
    Widget* outlet(const char* name) const {
        return apptest::outlet<Widget>(sheet, name);
    }
    QLineEdit* txtUsername() const { return outlet<QLineEdit>("txtUsername"); }
    QLineEdit* txtPassword() const { return outlet<QLineEdit>("txtPassword"); }
    QLineEdit* clrPassword() const { return outlet<QLineEdit>("clrPassword"); }
    QProgressBar* spinner() const { return outlet<QProgressBar>("spinner"); }
    QToolButton* eye() const { return outlet<QToolButton>("showPassword"); }
    QString eyeImage() const { return eye()->property(LoginViewController::kImageNameProperty).toString(); }

    void type(const std::string& user, const std::string& password) const {
        QTest::keyClicks(txtUsername(), QString::fromStdString(user));
        QTest::keyClicks(txtPassword(), QString::fromStdString(password));
    }
    void ok() const { QTest::mouseClick(outlet<QPushButton>("okButton"), Qt::LeftButton); }
    void cancel() const { QTest::mouseClick(outlet<QPushButton>("cancelButton"), Qt::LeftButton); }
    bool open() const { return sheet && sheet->isVisible(); }

    QWidget window;
    QPointer<LoginViewController> sheet;
};

}  // namespace

class LoginViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before any engine makes its first HTTPS session.
        server();
    }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        suite = uniqueSuite("login-sheet");
        appwise = &Appwise::installShared(makeAppwise(suite, presenter, Terms::accepted));
        fast = appwise->engine(CommTasks::fastTask).get();
        slow = appwise->engine(CommTasks::slowTask).get();
    }

    void cleanup() {
        server().clearFaults();
        server().releaseStalls();
        if (!haveKeyring()) return;
        try {
            ostrelcomm::AppleSecureStore(ostrelcomm::GenericPasswordQueryable(appwise->keychainID()))
                .removeValue(quorvel::QuorvelCredentials::kAccount);
        } catch (const std::exception&) {
        }
    }

    void aTypedLoginOpensTheSessionOnBothEngines() {
        const std::string user = makeUser("typed");
        OpenSheet s;
        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});
        // The servers of the engine's transport, the first one chosen.
        auto* servers = s.outlet<QComboBox>("serverChoice");
        QCOMPARE(servers->count(), 1);
        QCOMPARE(servers->itemText(0), QStringLiteral("Switzerland"));
        QCOMPARE(servers->currentIndex(), 0);

        s.type(user, kPassword);
        s.ok();
        QCOMPARE(fast->urlToUse(), std::string("Switzerland"));
        QCOMPARE(slow->urlToUse(), std::string("Switzerland"));
        QTRY_VERIFY_WITH_TIMEOUT(!s.open(), kGuardMs);
        drainMainQueue();

        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 1);
        QVERIFY(appwise->authenticated());
        QCOMPARE(appwise->username(), std::optional<std::string>(user));
        QVERIFY(appwise->password() == SecretBytes::fromText(kPassword));
        QVERIFY(fast->sessionID().has_value());
        QCOMPARE(slow->sessionID(), fast->sessionID());
        QVERIFY(slow->sessionKey() == fast->sessionKey());
        QCOMPARE(s.outlet<QPushButton>("cancelButton")->text(), localized("Close"));
        QVERIFY(s.spinner()->isHidden());
        QCOMPARE(presenter->shown().size(), std::size_t{0});
    }

    void aWrongPasswordLeavesTheSheetAsTypedUntilCorrected() {
        const std::string user = makeUser("typo");
        OpenSheet s;
        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});
        s.type(user, "not-the-password");
        s.ok();
        QTRY_COMPARE_WITH_TIMEOUT(presenter->shown().size(), std::size_t{1}, kGuardMs);
        drainMainQueue();

        QCOMPARE(presenter->shown()[0].messageText, localized("Login-Error"));
        QCOMPARE(presenter->shown()[0].informativeText, localized("LoginFailureMessage"));
        QVERIFY(s.open());
        QCOMPARE(s.txtUsername()->text(), QString::fromStdString(user));
        QCOMPARE(s.txtPassword()->text(), QStringLiteral("not-the-password"));
        QCOMPARE(s.clrPassword()->text(), QStringLiteral("not-the-password"));
        QVERIFY(s.spinner()->isHidden());
        QVERIFY(!appwise->authenticated());
        QVERIFY(appwise->password() == SecretBytes::fromText("not-the-password"));

        s.txtPassword()->clear();
        QTest::keyClicks(s.txtPassword(), QString::fromLatin1(kPassword));
        s.ok();
        QTRY_VERIFY_WITH_TIMEOUT(!s.open(), kGuardMs);
        drainMainQueue();
        QVERIFY(appwise->authenticated());
        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 1);
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(fast->queue()->getJobsList().size(), std::size_t{2});
    }

    // Each word of the fast engine's "SRPAuthenticated", whoever posts it.
    void whatEachLoginWordDoes_data() {
        QTest::addColumn<UserInfo>("userInfo");
        QTest::addColumn<bool>("alert");
        QTest::addColumn<bool>("spinner");
        QTest::addColumn<bool>("closed");
        const auto word = [](const char* w) { return UserInfo{{"Result", std::string(w)}}; };
        QTest::newRow("no userInfo") << UserInfo{} << false << false << false;
        QTest::newRow("a Result that is no text") << UserInfo{{"Result", 1}} << false << false << false;
        QTest::newRow("InProgress") << word(ostrelcomm::auth::kInProgress) << false << true << false;
        QTest::newRow("Error") << word(ostrelcomm::auth::kError) << true << false << false;
        QTest::newRow("Aborted") << word(ostrelcomm::auth::kAborted) << true << false << false;
        QTest::newRow("another word") << word("Unheard") << true << false << false;
        QTest::newRow("Authenticated") << word(ostrelcomm::auth::kAuthenticated) << false << false << true;
    }
    void whatEachLoginWordDoes() {
        QFETCH(UserInfo, userInfo);
        QFETCH(bool, alert);
        QFETCH(bool, spinner);
        QFETCH(bool, closed);
        OpenSheet s;
        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});

        fast->notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification, userInfo);
        // Nothing of the sheet is touched on the posting thread's turn.
        QVERIFY(s.open());
        drainMainQueue();

        QCOMPARE(presenter->shown().size(), std::size_t(alert ? 1 : 0));
        if (alert) QCOMPARE(presenter->shown()[0].messageText, localized("Login-Error"));
        QCOMPARE(!s.spinner()->isHidden(), spinner);
        QCOMPARE(!s.open(), closed);
        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), closed ? 1 : 0);

        // A closed sheet hears no more: no second refresh, no alert.
        fast->notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification,
                                    {{"Result", std::string(closed ? ostrelcomm::auth::kAuthenticated
                                                                   : ostrelcomm::auth::kInProgress)}});
        fast->notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification,
                                    {{"Result", std::string(ostrelcomm::auth::kError)}});
        drainMainQueue();
        if (closed) {
            QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 1);
            QCOMPARE(presenter->shown().size(), std::size_t{0});
        }
    }

    void withNoServerToChooseNothingIsQueued() {
        OpenSheet s;
        s.outlet<QComboBox>("serverChoice")->clear();
        s.type("someone", "a password");
        s.ok();
        drainMainQueue();

        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, localized("Login-NoServer"));
        QCOMPARE(presenter->shown()[0].informativeText, localized("LoginNoServerMessage"));
        QVERIFY(fast->queue()->getJobsList().empty());
        QVERIFY(!appwise->username());
        QCOMPARE(fast->urlToUse(), std::string("https"));
        QVERIFY(s.open());
    }

    // Whichever field is on show, both hold the same password; OK reads the
    // visible one.
    void theEyeSwapsTheFieldsThatStayEqual() {
        const std::string user = makeUser("eye", "secret-pw");
        OpenSheet s;
        QTest::keyClicks(s.txtUsername(), QString::fromStdString(user));
        QVERIFY(s.clrPassword()->isHidden());
        QCOMPARE(s.eyeImage(), QStringLiteral("eye-black"));

        QTest::keyClicks(s.txtPassword(), QStringLiteral("secret"));
        QCOMPARE(s.clrPassword()->text(), QStringLiteral("secret"));

        QTest::mouseClick(s.eye(), Qt::LeftButton);
        QVERIFY(s.sheet->passwordShown());
        QCOMPARE(s.eyeImage(), QStringLiteral("eye-blue"));
        QVERIFY(!s.clrPassword()->isHidden());
        QVERIFY(s.txtPassword()->isHidden());
        QTest::keyClicks(s.clrPassword(), QStringLiteral("-pwx"));
        QTest::keyClick(s.clrPassword(), Qt::Key_Backspace);
        QCOMPARE(s.txtPassword()->text(), QStringLiteral("secret-pw"));

        QTest::mouseClick(s.eye(), Qt::LeftButton);
        QVERIFY(!s.sheet->passwordShown());
        QCOMPARE(s.eyeImage(), QStringLiteral("eye-black"));
        QVERIFY(s.clrPassword()->isHidden());
        QVERIFY(!s.txtPassword()->isHidden());
        QCOMPARE(s.txtPassword()->text(), QStringLiteral("secret-pw"));
        QCOMPARE(s.clrPassword()->text(), QStringLiteral("secret-pw"));

        QTest::mouseClick(s.eye(), Qt::LeftButton);
        s.ok();
        QVERIFY(appwise->password() == SecretBytes::fromText("secret-pw"));
        QTRY_VERIFY_WITH_TIMEOUT(!s.open(), kGuardMs);
        QVERIFY(appwise->authenticated());
    }

    void cancelAbortsTheRunningLoginAndCloses() {
        const std::string user = makeUser("cancel");
        OpenSheet s;
        s.type(user, kPassword);
        server().setFault("POST", "/authenticate/", once(devserver::Fault::stalled()));
        s.ok();
        QVERIFY(server().waitForStalledRequests(1, std::chrono::milliseconds(kGuardMs)));
        QCOMPARE(fast->authStatus(), ostrelcomm::UserAuthStatus::inProgress);

        s.cancel();
        QVERIFY(!s.open());
        const auto jobs = fast->queue()->getJobsList();
        QCOMPARE(jobs.size(), std::size_t{1});
        const std::string job = jobs.begin()->first;
        QCOMPARE(jobs.begin()->second.status, JobStatus::reqAbort);

        server().releaseStalls();
        QTRY_COMPARE_WITH_TIMEOUT(fast->queue()->getJobData(job)->status, JobStatus::aborted, kGuardMs);
        drainMainQueue();
        // The sheet had gone: the aborted login shows no alert.
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        QVERIFY(!appwise->authenticated());
    }

    // Only a login is aborted by Cancel: another job running on the fast
    // engine goes on.
    void cancelWithNoLoginRunningAbortsNothing() {
        const std::string user = makeUser("no-abort");
        fast->auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
        QTRY_VERIFY_WITH_TIMEOUT(appwise->authenticated(), kGuardMs);
        server().setFault("GET", "/userprofile/getprofile/", once(devserver::Fault::stalled()));
        const std::string profile = fast->user_addGetProfile();
        QVERIFY(server().waitForStalledRequests(1, std::chrono::milliseconds(kGuardMs)));

        OpenSheet s;
        s.cancel();
        QVERIFY(!s.open());
        QCOMPARE(fast->queue()->getJobData(profile)->status, JobStatus::inProgress);

        server().releaseStalls();
        QTRY_COMPARE_WITH_TIMEOUT(fast->queue()->getJobData(profile)->status, JobStatus::completed, kGuardMs);
    }

    void anAutomaticLoginNeedsNoClick() {
        REQUIRE_KEYRING();
        const std::string user = makeUser("automatic");
        quorvel::QuorvelCredentials stored;
        QVERIFY(stored.storeCredentials(appwise->keychainID(), user, SecretBytes::fromText(kPassword)));
        setAutomaticAccess(true);
        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});

        OpenSheet s;
        QCOMPARE(s.txtUsername()->text(), QString::fromStdString(user));
        QCOMPARE(s.txtPassword()->text(), QString::fromLatin1(kPassword));
        QCOMPARE(s.clrPassword()->text(), QString::fromLatin1(kPassword));
        QVERIFY(appwise->credentialsInKeyring());
        QCOMPARE(appwise->username(), std::optional<std::string>(user));
        QTRY_VERIFY_WITH_TIMEOUT(!s.open(), kGuardMs);
        drainMainQueue();

        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 1);
        QVERIFY(appwise->authenticated());
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        const auto jobs = fast->queue()->getJobsList();
        QCOMPARE(jobs.size(), std::size_t{1});
        QCOMPARE(jobs.begin()->second.jobType, ostrelcomm::JobType::authenticate);
    }

    // No usable record: one alert, automatic access off and saved, no login.
    void anAutomaticLoginWithoutAUsableRecord_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("no item") << QByteArray();
        QTest::newRow("no password") << QByteArray(R"({"username":"demo"})");
        QTest::newRow("no user name") << QByteArray(R"({"password":"pw"})");
    }
    void anAutomaticLoginWithoutAUsableRecord() {
        QFETCH(QByteArray, stored);
        REQUIRE_KEYRING();
        if (!stored.isEmpty()) {
            ostrelcomm::AppleSecureStore(ostrelcomm::GenericPasswordQueryable(appwise->keychainID()))
                .setValue(stored.toStdString(), quorvel::QuorvelCredentials::kAccount);
        }
        setAutomaticAccess(true);
        appwise->setCredentialsInKeyring(true);

        OpenSheet s;
        drainMainQueue();

        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, localized("Keyring error"));
        QCOMPARE(presenter->shown()[0].informativeText, localized("AutoLoginErrorMsg"));
        QVERIFY(!appwise->credentialsInKeyring());
        QVERIFY(!appwise->setup().automaticAccessAtStartup);
        QSettings file(settingsFile(suite), QSettings::IniFormat);
        QCOMPARE(file.value("automaticAccessAtStartup").toString(), QStringLiteral("false"));
        QVERIFY(fast->queue()->getJobsList().empty());
        QVERIFY(s.open());
        QVERIFY(s.txtUsername()->text().isEmpty());
        QVERIFY(s.txtPassword()->text().isEmpty());
    }

    // Automatic access off, or the user logged out in this run: the keychain
    // is not read, nothing logs in.
    void noAutomaticLogin_data() {
        QTest::addColumn<bool>("automaticAccess");
        QTest::addColumn<bool>("loggedOut");
        QTest::newRow("automatic access off") << false << false;
        QTest::newRow("after a logout") << true << true;
    }
    void noAutomaticLogin() {
        QFETCH(bool, automaticAccess);
        QFETCH(bool, loggedOut);
        if (haveKeyring()) {
            // A record that would log in, were it read.
            quorvel::QuorvelCredentials stored;
            QVERIFY(stored.storeCredentials(appwise->keychainID(), makeUser("not-automatic"),
                                            SecretBytes::fromText(kPassword)));
        }
        setAutomaticAccess(automaticAccess);
        appwise->setLoggedOut(loggedOut);
        // Left as it is: a read would set it, to either value.
        appwise->setCredentialsInKeyring(false);

        OpenSheet s;
        drainMainQueue();

        QVERIFY(fast->queue()->getJobsList().empty());
        QVERIFY(!appwise->credentialsInKeyring());
        QCOMPARE(appwise->setup().automaticAccessAtStartup, automaticAccess);
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        QVERIFY(s.txtUsername()->text().isEmpty());
        QVERIFY(s.open());
    }

    // The sheet observes before it queues the automatic login: a login that
    // ends at once (here: announced by a test as soon as the job is queued,
    // while the real exchange is held) still closes it.
    void theAutomaticLoginIsQueuedOnlyOnceTheSheetObserves() {
        REQUIRE_KEYRING();
        const std::string user = makeUser("observed-first");
        quorvel::QuorvelCredentials stored;
        QVERIFY(stored.storeCredentials(appwise->keychainID(), user, SecretBytes::fromText(kPassword)));
        setAutomaticAccess(true);
        server().setFault("GET", "/authenticate/", once(devserver::Fault::stalled()));
        auto queueCenter = fast->queue()->notifications();
        auto* engine = fast;
        const auto token =
            queueCenter->addObserver(ostrelcomm::kNewJobAvailableNotification, [engine](const ostrelcomm::Notification&) {
                engine->notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification,
                                              {{"Result", std::string(ostrelcomm::auth::kAuthenticated)}});
            });

        OpenSheet s;
        queueCenter->removeObserver(token);
        QTRY_VERIFY_WITH_TIMEOUT(!s.open(), kGuardMs);

        // The held exchange then ends on its own.
        QVERIFY(server().waitForStalledRequests(1, std::chrono::milliseconds(kGuardMs)));
        server().releaseStalls();
        QTRY_VERIFY_WITH_TIMEOUT(appwise->authenticated(), kGuardMs);
    }

private:
    void setAutomaticAccess(bool on) {
        quorvel::AppSetup setup = appwise->setup();
        setup.automaticAccessAtStartup = on;
        appwise->setSetup(setup);
        appwise->saveSetup();
    }

    std::shared_ptr<RecordingAlertPresenter> presenter;
    std::string suite;
    Appwise* appwise = nullptr;
    ostrelcomm::SrvComm* fast = nullptr;
    ostrelcomm::SrvComm* slow = nullptr;
};

QTEST_MAIN(LoginViewControllerTest)
#include "LoginViewController_test.moc"
