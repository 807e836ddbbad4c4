// The main window's biometric login: what each outcome of the check leads
// to, and the stored credentials logged in against the stand-in server, with
// the window following that one login alone. Its Login/Logout action: which
// way a login goes, the local logout, and the label that follows the
// announcements; and the login sheet asked for by notification.

#include <QAction>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "FakeBiometryProvider.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/QuorvelCredentials.h"
#include "app/sheets/LoginViewController.h"
#include "app/window/MainWindow.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/BiometricAuthentication.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/PlatformInfo.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "devserver/AccountEndpoints.h"
#include "jobs/JobType.h"
#include "securestore/AppleSecureStore.h"
#include "securestore/GenericPasswordQueryable.h"
#include "support/EngineRequests.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"

using namespace apptest;
using ostrelcomm::SecretBytes;
using quorvel::Appwise;
using quorvel::BiometryError;
using quorvel::CommTasks;
using quorvel::LAErrorCode::appCancel;
using quorvel::LAErrorCode::authenticationFailed;
using quorvel::LAErrorCode::biometryLockout;
using quorvel::LAErrorCode::biometryNotEnrolled;
using quorvel::LAErrorCode::notInteractive;
using quorvel::LAErrorCode::systemCancel;
using quorvel::LAErrorCode::userCancel;
using quorvel::LAErrorCode::userFallback;
using quorvel::LAErrorCode::watchNotAvailable;
using quorvel::MainWindow;
using quorvel::OperatingSystemVersion;
using quorvel::PlatformInfo;

Q_DECLARE_METATYPE(BiometryError)
Q_DECLARE_METATYPE(quorvel::BiometrySupport)
Q_DECLARE_METATYPE(std::optional<OperatingSystemVersion>)

namespace {

constexpr int kGuardMs = 30'000;
constexpr char kPassword[] = "biometric-pw";

devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

std::string makeUser(const std::string& stem) {
    std::string name = testsupport::uniqueName(stem);
    devserver::addDemoUser(server().users(), name, kPassword);
    return name;
}

bool inCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

// The keychain cases need the throw-away Secret Service of
// scripts/with-keyring: they fail without it in CI and are skipped elsewhere.
#define REQUIRE_KEYRING()                                                                                 \
    do {                                                                                                  \
        if (std::getenv("QUORVEL_TEST_KEYRING") == nullptr) {                                             \
            if (inCI()) QFAIL("The keychain tests must run against a Secret Service in CI (with-keyring)"); \
            QSKIP("Needs a Secret Service (run under scripts/with-keyring)");                             \
        }                                                                                                 \
    } while (false)

// Runs what the main thread has queued, and what that queues in turn (a
// reply's hop, then an alert's).
void drainMainQueue() {
    for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
}

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

// The ends of the fast engine's logins, as the main thread hears of them: a
// window that still followed the logins would have acted on each by the
// time it is counted here.
class LoginEnds : public QObject {
public:
    explicit LoginEnds(Appwise& appwise) {
        connect(&appwise.bridge(CommTasks::fastTask), &quorvel::EngineBridge::srpAuthenticated, this,
                [this](const quorvel::LoginEvent& event) {
                    if (event.result && *event.result != ostrelcomm::auth::kInProgress) words.push_back(*event.result);
                });
    }
    std::vector<std::string> words;
};

int countOf(const testsupport::NotificationRecorder& recorder, const char* name) {
    int n = 0;
    for (const auto& posted : recorder.all()) n += posted.name == name;
    return n;
}

// The login sheets open on the window.
int openSheets(const MainWindow& window) {
    int n = 0;
    for (const auto* sheet : window.findChildren<quorvel::LoginViewController*>()) n += sheet->isVisible();
    return n;
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before any engine makes its first HTTPS session.
        server();
        provider = std::make_shared<FakeBiometryProvider>();
        quorvel::BiometricAuthentication::installShared(
            std::make_unique<quorvel::BiometricAuthentication>(provider, PlatformInfo()));
    }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        suite = uniqueSuite("main-window");
        appwise = &Appwise::installShared(makeAppwise(suite, presenter));
        provider->reply = std::nullopt;
        provider->evaluations = 0;
        if (provider->support != quorvel::BiometrySupport::touchID) {
            provider->support = quorvel::BiometrySupport::touchID;
            quorvel::BiometricAuthentication::installShared(
                std::make_unique<quorvel::BiometricAuthentication>(provider, PlatformInfo()));
        }
        PlatformInfo::setCurrent(PlatformInfo());
    }

    void cleanup() {
        PlatformInfo::setCurrent(PlatformInfo());
        try {
            ostrelcomm::AppleSecureStore(ostrelcomm::GenericPasswordQueryable(appwise->keychainID()))
                .removeValue(quorvel::QuorvelCredentials::kAccount);
        } catch (const std::exception&) {
        }
    }

    void theWindowIsTitled() { QCOMPARE(MainWindow().windowTitle(), QStringLiteral("Quorvel Connect")); }

    // A check that did not pass: the login sheet when the user can still
    // type, nothing when they cancelled or failed; never an alert or a job.
    void aCheckThatDidNotPass_data() {
        QTest::addColumn<BiometryError>("error");
        QTest::addColumn<std::optional<OperatingSystemVersion>>("system");
        QTest::addColumn<bool>("sheet");
        const std::optional<OperatingSystemVersion> running;
        const auto la = &BiometryError::localAuthentication;
        QTest::newRow("user cancel") << la(userCancel) << running << false;
        QTest::newRow("system cancel") << la(systemCancel) << running << false;
        QTest::newRow("app cancel") << la(appCancel) << running << false;
        QTest::newRow("authentication failed") << la(authenticationFailed) << running << false;
        QTest::newRow("a code of no meaning here") << la(-5) << running << false;
        // The number of user fallback, but not a code of the check.
        QTest::newRow("an error of another kind") << BiometryError::other(userFallback) << running << false;
        QTest::newRow("user fallback") << la(userFallback) << running << true;
        QTest::newRow("not enrolled") << la(biometryNotEnrolled) << running << true;
        QTest::newRow("lockout") << la(biometryLockout) << running << true;
        QTest::newRow("not interactive") << la(notInteractive) << running << true;
        QTest::newRow("watch not available, 10.14")
            << la(watchNotAvailable) << std::optional<OperatingSystemVersion>({10, 14, 6}) << false;
        QTest::newRow("watch not available, 10.15")
            << la(watchNotAvailable) << std::optional<OperatingSystemVersion>({10, 15, 0}) << true;
        QTest::newRow("watch not available, Linux") << la(watchNotAvailable) << running << true;
    }
    void aCheckThatDidNotPass() {
        QFETCH(BiometryError, error);
        QFETCH(std::optional<OperatingSystemVersion>, system);
        QFETCH(bool, sheet);
        PlatformInfo::setCurrent(system ? PlatformInfo(*system) : PlatformInfo());
        provider->reply = error;
        MainWindow window;
        QSignalSpy sheetRequests(&window, &MainWindow::loginSheetRequested);

        window.biometricLogin();
        // The reply is handled on the main thread, not within the check.
        QCOMPARE(sheetRequests.count(), 0);
        drainMainQueue();

        QCOMPARE(provider->evaluations, 1);
        QCOMPARE(provider->lastReason, quorvel::localize("LAuthWarning"));
        QCOMPARE(sheetRequests.count(), sheet ? 1 : 0);
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        QVERIFY(appwise->engine(CommTasks::fastTask)->queue()->getJobsList().empty());
    }

    void aPassedCheckLogsInWithTheStoredCredentials() {
        REQUIRE_KEYRING();
        const std::string user = makeUser("biometric");
        quorvel::QuorvelCredentials stored;
        QVERIFY(stored.storeCredentials(appwise->keychainID(), user, SecretBytes::fromText(kPassword)));
        MainWindow window;
        QSignalSpy sheetRequests(&window, &MainWindow::loginSheetRequested);
        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});
        LoginEnds ends(*appwise);

        window.biometricLogin();
        QTRY_COMPARE_WITH_TIMEOUT(ends.words.size(), std::size_t{1}, kGuardMs);

        QCOMPARE(ends.words.front(), std::string(ostrelcomm::auth::kAuthenticated));
        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 1);
        // The login, and the listing its refresh asks for.
        std::multiset<ostrelcomm::JobType> jobs;
        for (const auto& [id, job] : appwise->engine(CommTasks::fastTask)->queue()->getJobsList())
            jobs.insert(job.jobType);
        QCOMPARE(jobs, (std::multiset{ostrelcomm::JobType::authenticate, ostrelcomm::JobType::getFolderInfo}));
        QVERIFY(appwise->credentialsInKeyring());
        QCOMPARE(appwise->username(), std::optional<std::string>(user));
        QVERIFY(appwise->password() == SecretBytes::fromText(kPassword));
        QVERIFY(appwise->authenticated());
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        QCOMPARE(sheetRequests.count(), 0);

        // A later login of the fast engine is none of the window's.
        appwise->engine(CommTasks::fastTask)->auth_add(user, SecretBytes::fromText(kPassword),
                                                       ostrelcomm::SRPAuthMode::new_);
        QTRY_COMPARE_WITH_TIMEOUT(ends.words.size(), std::size_t{2}, kGuardMs);
        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 1);
    }

    void aStoredPasswordTheServerRefusesEndsInOneAlert() {
        REQUIRE_KEYRING();
        const std::string user = makeUser("biometric-wrong");
        quorvel::QuorvelCredentials stored;
        QVERIFY(stored.storeCredentials(appwise->keychainID(), user, SecretBytes::fromText("not-the-password")));
        MainWindow window;
        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});
        LoginEnds ends(*appwise);

        window.biometricLogin();
        QTRY_COMPARE_WITH_TIMEOUT(presenter->shown().size(), std::size_t{1}, kGuardMs);

        QCOMPARE(ends.words, std::vector<std::string>{ostrelcomm::auth::kError});
        QCOMPARE(presenter->shown()[0].messageText, localized("Login-Error"));
        QCOMPARE(presenter->shown()[0].informativeText, localized("LoginFailureMessage"));
        QVERIFY(!appwise->authenticated());

        // The window no longer follows: a later login, failed or not, is
        // none of its.
        appwise->engine(CommTasks::fastTask)->auth_add(user, SecretBytes::fromText("still-wrong"),
                                                       ostrelcomm::SRPAuthMode::new_);
        appwise->engine(CommTasks::fastTask)->auth_add(user, SecretBytes::fromText(kPassword),
                                                       ostrelcomm::SRPAuthMode::new_);
        QTRY_COMPARE_WITH_TIMEOUT(ends.words.size(), std::size_t{3}, kGuardMs);
        drainMainQueue();
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 0);
    }

    // The check passed but no usable record is stored: one alert, no login,
    // no sheet, and the access types that rest on the record are cleared.
    void aPassedCheckWithoutUsableCredentials_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("no item") << QByteArray();
        QTest::newRow("no password") << QByteArray(R"({"username":"demo"})");
        QTest::newRow("no user name") << QByteArray(R"({"password":"pw"})");
        QTest::newRow("not the record") << QByteArray("demo:pw");
    }
    void aPassedCheckWithoutUsableCredentials() {
        QFETCH(QByteArray, stored);
        REQUIRE_KEYRING();
        if (!stored.isEmpty()) {
            ostrelcomm::AppleSecureStore(ostrelcomm::GenericPasswordQueryable(appwise->keychainID()))
                .setValue(stored.toStdString(), quorvel::QuorvelCredentials::kAccount);
        }
        quorvel::AppSetup setup = appwise->setup();
        setup.biometricLogin = true;
        setup.automaticAccessAtStartup = true;
        appwise->setSetup(setup);
        appwise->saveSetup();
        appwise->setCredentialsInKeyring(true);
        MainWindow window;
        QSignalSpy sheetRequests(&window, &MainWindow::loginSheetRequested);
        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});
        LoginEnds ends(*appwise);

        window.biometricLogin();
        drainMainQueue();

        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, localized("Keyring error"));
        QCOMPARE(presenter->shown()[0].informativeText, localized("BiometricLoginErrorMsg"));
        QVERIFY(presenter->shown()[0].onMainThread);
        QCOMPARE(sheetRequests.count(), 0);
        QVERIFY(appwise->engine(CommTasks::fastTask)->queue()->getJobsList().empty());
        QVERIFY(!appwise->credentialsInKeyring());
        QVERIFY(!appwise->setup().biometricLogin);
        QVERIFY(!appwise->setup().automaticAccessAtStartup);
        QSettings file(settingsFile(suite), QSettings::IniFormat);
        QCOMPARE(file.value("biometricLogin").toString(), QStringLiteral("false"));
        QCOMPARE(file.value("automaticAccessAtStartup").toString(), QStringLiteral("false"));

        // Nothing was left following: a typed login later brings no refresh
        // and no alert from the window.
        const std::string user = makeUser("typed-after-keyring-error");
        appwise->engine(CommTasks::fastTask)->auth_add(user, SecretBytes::fromText(kPassword),
                                                       ostrelcomm::SRPAuthMode::new_);
        QTRY_COMPARE_WITH_TIMEOUT(ends.words.size(), std::size_t{1}, kGuardMs);
        QCOMPARE(ends.words.front(), std::string(ostrelcomm::auth::kAuthenticated));
        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 0);
        QCOMPARE(presenter->shown().size(), std::size_t{1});
    }

    // Following is one registration however often it is asked for, and it
    // waits through words that end nothing.
    void followingALoginTwiceRefreshesOnce() {
        const std::string user = makeUser("followed-twice");
        MainWindow window;
        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});
        LoginEnds ends(*appwise);
        window.setAuthenticationObserver(true);
        window.setAuthenticationObserver(true);

        auto& fast = *appwise->engine(CommTasks::fastTask);
        fast.notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification);
        fast.notifications()->post(ostrelcomm::auth::kSRPAuthenticatedNotification,
                                   {{"Result", std::string(ostrelcomm::auth::kInProgress)}});
        drainMainQueue();
        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 0);

        fast.auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
        QTRY_COMPARE_WITH_TIMEOUT(ends.words.size(), std::size_t{1}, kGuardMs);
        QCOMPARE(countOf(refreshes, quorvel::kActionRefreshNotification), 1);
        QCOMPARE(presenter->shown().size(), std::size_t{0});

        // Stopping with nothing followed does nothing.
        window.setAuthenticationObserver(false);
    }

    // Login goes through the biometric check only when the system allows
    // it, the machine has biometry and the user chose it; else the sheet.
    void theLoginActionTakesTheBiometricCheckOrTheSheet_data() {
        QTest::addColumn<quorvel::BiometrySupport>("support");
        QTest::addColumn<bool>("biometricLogin");
        QTest::addColumn<std::optional<OperatingSystemVersion>>("system");
        QTest::addColumn<bool>("check");
        using quorvel::BiometrySupport;
        const std::optional<OperatingSystemVersion> running;
        QTest::newRow("biometry chosen") << BiometrySupport::touchID << true << running << true;
        QTest::newRow("not chosen") << BiometrySupport::touchID << false << running << false;
        QTest::newRow("no biometry") << BiometrySupport::none << true << running << false;
        QTest::newRow("system too old")
            << BiometrySupport::touchID << true << std::optional<OperatingSystemVersion>({10, 12, 1}) << false;
    }
    void theLoginActionTakesTheBiometricCheckOrTheSheet() {
        QFETCH(quorvel::BiometrySupport, support);
        QFETCH(bool, biometricLogin);
        QFETCH(std::optional<OperatingSystemVersion>, system);
        QFETCH(bool, check);
        provider->support = support;
        quorvel::BiometricAuthentication::installShared(
            std::make_unique<quorvel::BiometricAuthentication>(provider, PlatformInfo()));
        PlatformInfo::setCurrent(system ? PlatformInfo(*system) : PlatformInfo());
        // A check the user cancels: nothing follows it.
        provider->reply = BiometryError::localAuthentication(userCancel);
        quorvel::AppSetup setup = appwise->setup();
        setup.biometricLogin = biometricLogin;
        appwise->setSetup(setup);
        MainWindow window;
        window.show();

        window.tbLoginLogout()->trigger();
        drainMainQueue();

        QCOMPARE(provider->evaluations, check ? 1 : 0);
        QCOMPARE(openSheets(window), check ? 0 : 1);
        QVERIFY(appwise->engine(CommTasks::fastTask)->queue()->getJobsList().empty());
        QVERIFY(!appwise->loggedOut());
    }

    void showLoginSheetOpensOneSheet() {
        MainWindow window;
        window.show();
        QCOMPARE(openSheets(window), 0);
        appwise->notifications()->post(quorvel::kShowLoginSheetNotification);
        QCOMPARE(openSheets(window), 1);
        // A second request while it is on show opens no second sheet.
        appwise->notifications()->post(quorvel::kShowLoginSheetNotification);
        QCOMPARE(openSheets(window), 1);
        QCOMPARE(window.findChildren<quorvel::LoginViewController*>().size(), 1);
    }

    // Logout sends nothing; the label turns only when the logout is announced.
    void aLogoutIsLocalAndTheLabelFollowsTheAnnouncement() {
        const std::string user = makeUser("logout");
        MainWindow window;
        QAction* action = window.tbLoginLogout();
        QCOMPARE(action->objectName(), QStringLiteral("tbLoginLogout"));
        QCOMPARE(action->text(), QStringLiteral("Login"));
        auto& fast = *appwise->engine(CommTasks::fastTask);
        auto& slow = *appwise->engine(CommTasks::slowTask);
        fast.auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
        QTRY_COMPARE_WITH_TIMEOUT(action->text(), QStringLiteral("Logout"), kGuardMs);
        QVERIFY(slow.sessionID().has_value());
        const std::size_t requests = server().requestCount();

        action->trigger();
        // The label waits for the announcement, which reaches the window on
        // the main thread.
        QVERIFY(appwise->loggedOut());
        QCOMPARE(action->text(), QStringLiteral("Logout"));
        QTRY_COMPARE_WITH_TIMEOUT(action->text(), QStringLiteral("Login"), kGuardMs);
        QVERIFY(!appwise->authenticated());
        QTRY_VERIFY_WITH_TIMEOUT(!fast.sessionID() && !slow.sessionID(), kGuardMs);
        QCOMPARE(server().requestCount(), requests);
        QCOMPARE(openSheets(window), 0);
        QCOMPARE(presenter->shown().size(), std::size_t{0});
    }

private:
    std::shared_ptr<FakeBiometryProvider> provider;
    std::shared_ptr<RecordingAlertPresenter> presenter;
    std::string suite;
    Appwise* appwise = nullptr;
};

QTEST_MAIN(MainWindowTest)
#include "MainWindow_test.moc"
