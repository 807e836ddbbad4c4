// The account window's security tab, against the stand-in server and the
// real Secret Service of scripts/with-keyring: the credentials stored and
// removed (read back through libsecret itself), the access type the tab
// keeps in the settings file, the verdicts beside the new password, and the
// password change from the button to the server's verifier, the toolbar and
// the next logins.

#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AccountWindowSupport.h"
#include "AppTestSupport.h"
#include "FakeBiometryProvider.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/QuorvelCredentials.h"
#include "app/Extensions/SystemColor.h"
#include "app/account/UserProfileViewController.h"
#include "app/utils/Appwise.h"
#include "app/utils/BiometricAuthentication.h"
#include "app/utils/EngineBridge.h"
#include "app/window/MainWindow.h"
#include "app/window/SceneFactory.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "jobs/CommJobs.h"
#include "jobs/JobType.h"
#include "securestore/SecretServiceOracle.h"
#include "tree/TreeNotifications.h"
#include "user/UserNotifications.h"

using namespace apptest;
using ostrelcomm::SecretBytes;
using quorvel::AlertIcon;
using quorvel::Appwise;
using quorvel::BiometrySupport;
using quorvel::CommTasks;
using quorvel::SystemColor;
using quorvel::UserProfileViewController;

Q_DECLARE_METATYPE(quorvel::BiometrySupport)
Q_DECLARE_METATYPE(quorvel::SystemColor)
Q_DECLARE_METATYPE(quorvel::AlertIcon)

namespace {

constexpr int kGuardMs = kStandInGuardMs;
// Set in the copy of this program that runs with no Secret Service.
constexpr char kUnreachableChild[] = "QUORVEL_SECURITY_TAB_UNREACHABLE_CHILD";
constexpr char kChildSuite[] = "QUORVEL_SECURITY_TAB_SUITE";
constexpr char kChildUser[] = "QUORVEL_SECURITY_TAB_USER";

devserver::DevServer& server() { return standIn(); }

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

void drainMainQueue() {
    for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
}

bool inCI() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && *ci != '\0' && std::strcmp(ci, "false") != 0 && std::strcmp(ci, "0") != 0;
}

// The keychain cases need the Secret Service of scripts/with-keyring: they
// fail without it in CI and are skipped elsewhere.
#define REQUIRE_SECRET_SERVICE()                                                                          \
    do {                                                                                                  \
        std::string why;                                                                                  \
        if (!securestore_test::secretServiceReady(why)) {                                                 \
            if (inCI()) QFAIL(("The keychain tests must run against a Secret Service in CI: " + why).c_str()); \
            QSKIP(("Needs a Secret Service (run under scripts/with-keyring): " + why).c_str());           \
        }                                                                                                 \
    } while (false)

// A suite, and so a keychain identifier, that no other program on the same
// Secret Service uses.
std::string freshSuite(const std::string& stem) { return uniqueSuite(stem + "." + std::to_string(getpid())); }

// A setting as the settings file holds it.
QString savedSetting(const std::string& suite, const char* key) {
    QSettings file(settingsFile(suite), QSettings::IniFormat);
    return file.value(QString::fromLatin1(key)).toString();
}

void installBiometry(BiometrySupport support) {
    auto provider = std::make_shared<FakeBiometryProvider>();
    provider->support = support;
    quorvel::BiometricAuthentication::installShared(
        std::make_unique<quorvel::BiometricAuthentication>(provider, quorvel::PlatformInfo()));
}

QColor colourOf(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

// The account window, with the outlets these tests read.
struct OpenWindow : AccountWindow {
    using AccountWindow::AccountWindow;

    QCheckBox* keyring() const { return outlet<QCheckBox>("cbCredentialsInKeyring"); }
    QRadioButton* automatic() const { return outlet<QRadioButton>("rbAutoAccessAtStartup"); }
    QRadioButton* biometric() const { return outlet<QRadioButton>("rbBiometricLogin"); }
    QLineEdit* oldPassword() const { return outlet<QLineEdit>("oldDataAccessPassword"); }
    QLineEdit* newPassword() const { return outlet<QLineEdit>("newDataAccessPassword"); }
    QLineEdit* check() const { return outlet<QLineEdit>("newDataAccessPasswordCheck"); }
    QLabel* strength() const { return outlet<QLabel>("newDataAccessPwStrengthIndicator"); }
    QLabel* equality() const { return outlet<QLabel>("newDataAccessPwEqualityIndicator"); }
    QPushButton* change() const { return outlet<QPushButton>("btnChangeDataAccessPassword"); }
    QProgressBar* spinner() const { return outlet<QProgressBar>("secProgressSpinner"); }

    void typePasswords(const QString& actual, const QString& wanted) const {
        QTest::keyClicks(oldPassword(), actual);
        QTest::keyClicks(newPassword(), wanted);
        QTest::keyClicks(check(), wanted);
    }
};

// The last alert, as "title | message".
QString lastAlert(const RecordingAlertPresenter& presenter) {
    const auto shown = presenter.shown();
    if (shown.empty()) return QStringLiteral("(none)");
    return shown.back().messageText + " | " + shown.back().informativeText;
}

QString alertOf(const char* title, const char* message) {
    return localized(title) + " | " + (message ? localized(message) : QString());
}

bool anyJobOf(const ostrelcomm::SrvComm& engine, ostrelcomm::JobType type) {
    for (const auto& [id, job] : engine.queue()->getJobsList())
        if (job.jobType == type) return true;
    return false;
}

// The final word of the fast engine's next login of `user`.
std::string loginWord(Appwise& appwise, const std::string& user, const std::string& password) {
    std::optional<std::string> word;
    QObject receiver;
    QObject::connect(&appwise.bridge(CommTasks::fastTask), &quorvel::EngineBridge::srpAuthenticated, &receiver,
                     [&](const quorvel::LoginEvent& event) {
                         if (event.result && *event.result != ostrelcomm::auth::kInProgress) word = event.result;
                     });
    appwise.engine(CommTasks::fastTask)->auth_add(user, SecretBytes::fromText(password), ostrelcomm::SRPAuthMode::new_);
    (void)QTest::qWaitFor([&] { return word.has_value(); }, kGuardMs);
    return word.value_or("(no answer)");
}

// The word that ends a listing of the top folder on one engine.
std::string rootListing(Appwise& appwise, CommTasks task) {
    std::optional<std::string> word;
    QObject receiver;
    QObject::connect(&appwise.bridge(task), &quorvel::EngineBridge::queryRemoteDirectoryContent, &receiver,
                     [&](const quorvel::DirectoryContentEvent& event) {
                         if (event.source == kTestSource && event.result &&
                             *event.result != ostrelcomm::tree::kStarted)
                             word = event.result;
                     });
    appwise.engine(task)->directory_getInfo("root", std::string(kTestSource));
    (void)QTest::qWaitFor([&] { return word.has_value(); }, kGuardMs);
    return word.value_or("(no answer)");
}

QAction* loginLogout(const quorvel::MainWindow& window) {
    auto* action = window.findChild<QAction*>(QStringLiteral("tbLoginLogout"));
    if (!action) qFatal("The main window has no tbLoginLogout");
    return action;
}

// The child's side: the credentials removed with no Secret Service
// reachable. It logs in to the parent's stand-in (whose address and
// certificate it inherits), holds credentials as stored with the biometric
// choice, unchecks the box and reports what the tab then shows; the parent
// reads the settings file.
int removeWithNoSecretService() {
    installBiometry(BiometrySupport::touchID);
    auto presenter = std::make_shared<RecordingAlertPresenter>();
    const std::string suite = qEnvironmentVariable(kChildSuite).toStdString();
    Appwise& appwise = Appwise::installShared(makeAppwise(suite, presenter, Terms::accepted));
    const std::string user = qEnvironmentVariable(kChildUser).toStdString();
    appwise.setUsername(user);
    appwise.setPassword(SecretBytes::fromText(kStandInPassword));
    appwise.engine(CommTasks::fastTask)->auth_add(user, SecretBytes::fromText(kStandInPassword),
                                                  ostrelcomm::SRPAuthMode::new_);
    if (!QTest::qWaitFor([&] { return appwise.authenticated(); }, kGuardMs)) {
        std::cout << "no login" << std::endl;
        return 1;
    }
    appwise.setCredentialsInKeyring(true);
    quorvel::AppSetup setup = appwise.setup();
    setup.biometricLogin = true;
    appwise.setSetup(setup);
    appwise.saveSetup();

    OpenWindow w;
    if (!w.keyring()->isChecked() || !w.biometric()->isChecked()) {
        std::cout << "not shown as stored" << std::endl;
        return 1;
    }
    presenter->answerNext({0});
    QTest::mouseClick(w.keyring(), Qt::LeftButton);
    const bool settled = QTest::qWaitFor([&] { return !appwise.credentialsInKeyring() && !presenter->shown().empty(); },
                                         kGuardMs);
    drainMainQueue();
    const auto shown = presenter->shown();
    std::cout << "settled=" << settled << " alerts=" << shown.size()
              << " title=" << (shown.empty() ? std::string() : shown[0].messageText.toStdString())
              << " message=" << (shown.empty() ? std::string() : shown[0].informativeText.toStdString())
              << " box=" << w.keyring()->isChecked() << " automatic=" << w.automatic()->isEnabled()
              << w.automatic()->isChecked() << " biometric=" << w.biometric()->isEnabled()
              << w.biometric()->isChecked() << std::endl;
    return 0;
}

}  // namespace

class SecurityTabTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before any engine makes its first HTTPS session.
        server();
        installBiometry(BiometrySupport::none);
    }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        suite = freshSuite("security");
        appwise = &Appwise::installShared(makeAppwise(suite, presenter, Terms::accepted));
        fast = appwise->engine(CommTasks::fastTask).get();
        slow = appwise->engine(CommTasks::slowTask).get();
    }

    void cleanup() {
        server().clearFaults();
        server().releaseStalls();
        std::string why;
        if (securestore_test::secretServiceReady(why)) securestore_test::clearService(appwise->keychainID());
        installBiometry(BiometrySupport::none);
    }

    // --- the credentials ---------------------------------------------------------------

    // Checking the box stores the session's credentials as the record's JSON,
    // says how they may be used, and chooses automatic access; the biometric
    // choice is offered only with biometry.
    void storingTheCredentials_data() {
        QTest::addColumn<BiometrySupport>("biometry");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("biometricOffered");
        QTest::newRow("no biometry") << BiometrySupport::none << localized("NoBiometricAccessMsg") << false;
        QTest::newRow("touch sensor") << BiometrySupport::touchID << localized("ChooseAccessTypeMsg") << true;
    }
    void storingTheCredentials() {
        QFETCH(BiometrySupport, biometry);
        QFETCH(QString, message);
        QFETCH(bool, biometricOffered);
        REQUIRE_SECRET_SERVICE();
        installBiometry(biometry);
        StandInAccount account("store");
        QVERIFY(logIn(*appwise, account));
        OpenWindow w;
        QVERIFY(!w.keyring()->isChecked());
        QVERIFY(!w.automatic()->isEnabled());

        QTest::mouseClick(w.keyring(), Qt::LeftButton);
        // Stored at once; the state follows when the alert is closed.
        QCOMPARE(securestore_test::storedItems(appwise->keychainID()).size(), std::size_t{1});
        QVERIFY(!appwise->credentialsInKeyring());
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        const auto alert = presenter->shown()[0];
        QCOMPARE(alert.messageText, localized("CredentialsStored"));
        QCOMPARE(alert.informativeText, message);
        QVERIFY(alert.icon == AlertIcon::information);
        QCOMPARE(alert.buttons.size(), std::size_t{0});
        QCOMPARE(alert.window, static_cast<QWidget*>(w.sheet.data()));
        QVERIFY(presenter->answerPending(0));

        const auto items = securestore_test::storedItems(appwise->keychainID());
        QCOMPARE(items.size(), std::size_t{1});
        QCOMPARE(items[0].account, std::string(quorvel::QuorvelCredentials::kAccount));
        const std::string json =
            "{\"username\":\"" + account.user() + "\",\"password\":\"" + kStandInPassword + "\"}";
        QCOMPARE(std::string(items[0].data.begin(), items[0].data.end()), json);
        QVERIFY(appwise->credentialsInKeyring());
        QVERIFY(w.keyring()->isChecked());
        QVERIFY(w.automatic()->isEnabled());
        QVERIFY(w.automatic()->isChecked());
        QCOMPARE(w.biometric()->isEnabled(), biometricOffered);
        QVERIFY(!w.biometric()->isChecked());
        QCOMPARE(savedSetting(suite, "automaticAccessAtStartup"), QStringLiteral("true"));
        QCOMPARE(savedSetting(suite, "biometricLogin"), QStringLiteral("false"));
    }

    // The session's credentials must be whole to be stored: without them the
    // store is refused as one the keychain refused, and nothing is written.
    void storingWithoutTheSessionsCredentials_data() {
        QTest::addColumn<bool>("withName");
        QTest::addColumn<bool>("withPassword");
        QTest::newRow("no user name") << false << true;
        QTest::newRow("no password") << true << false;
    }
    void storingWithoutTheSessionsCredentials() {
        QFETCH(bool, withName);
        QFETCH(bool, withPassword);
        REQUIRE_SECRET_SERVICE();
        StandInAccount account("store-incomplete");
        QVERIFY(logIn(*appwise, account));
        if (!withName) appwise->setUsername(std::nullopt);
        if (!withPassword) appwise->setPassword(std::nullopt);
        OpenWindow w;
        presenter->answerNext({0});
        QTest::mouseClick(w.keyring(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!w.keyring()->isChecked(), kGuardMs);

        QCOMPARE(lastAlert(*presenter), alertOf("CredentialsNotStored", nullptr));
        QCOMPARE(securestore_test::storedItems(appwise->keychainID()).size(), std::size_t{0});
        QVERIFY(!appwise->credentialsInKeyring());
        QVERIFY(!w.automatic()->isEnabled());
        QVERIFY(!w.automatic()->isChecked());
        QCOMPARE(savedSetting(suite, "automaticAccessAtStartup"), QStringLiteral("false"));
    }

    // Unchecking the box removes the item and clears both access types, after
    // the alert.
    void removingTheCredentials() {
        REQUIRE_SECRET_SERVICE();
        installBiometry(BiometrySupport::touchID);
        StandInAccount account("remove");
        QVERIFY(logIn(*appwise, account));
        OpenWindow w;
        presenter->answerNext({0});
        QTest::mouseClick(w.keyring(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(appwise->credentialsInKeyring(), kGuardMs);
        QTest::mouseClick(w.biometric(), Qt::LeftButton);
        QCOMPARE(savedSetting(suite, "biometricLogin"), QStringLiteral("true"));
        QCOMPARE(savedSetting(suite, "automaticAccessAtStartup"), QStringLiteral("false"));

        QTest::mouseClick(w.keyring(), Qt::LeftButton);
        QCOMPARE(securestore_test::storedItems(appwise->keychainID()).size(), std::size_t{0});
        QCOMPARE(lastAlert(*presenter), alertOf("CredentialsRemoved", nullptr));
        QVERIFY(appwise->credentialsInKeyring());
        QVERIFY(presenter->answerPending(0));

        QVERIFY(!appwise->credentialsInKeyring());
        QVERIFY(!w.keyring()->isChecked());
        for (QRadioButton* radio : {w.automatic(), w.biometric()}) {
            QVERIFY(!radio->isEnabled());
            QVERIFY(!radio->isChecked());
        }
        QVERIFY(!appwise->setup().biometricLogin);
        QVERIFY(!appwise->setup().automaticAccessAtStartup);
        QCOMPARE(savedSetting(suite, "biometricLogin"), QStringLiteral("false"));
        QCOMPARE(savedSetting(suite, "automaticAccessAtStartup"), QStringLiteral("false"));
    }

    // With no Secret Service reachable the removal fails, and counts as done.
    // The session bus stays with a process once reached, so a copy of this
    // program does it on a bus address that leads nowhere.
    void removingWithNoSecretServiceCountsAsRemoved() {
        StandInAccount account("remove-unreachable");
        const std::string childSuite = freshSuite("security-child");
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvel/bus");
        environment.insert(kUnreachableChild, "1");
        environment.insert(kChildSuite, QString::fromStdString(childSuite));
        environment.insert(kChildUser, QString::fromStdString(account.user()));
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForStarted());
        // The stand-in answers the child from its own threads meanwhile.
        const bool finished = child.waitForFinished(120'000);
        if (!finished) child.kill();
        QVERIFY2(finished, "the tab hung with no Secret Service");
        const QByteArray report = child.readAllStandardOutput().trimmed();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, report.constData());
        const QByteArray expected = "settled=1 alerts=1 title=" + localized("CredentialsNotRemoved").toUtf8() +
                                    " message= box=0 automatic=00 biometric=00";
        QCOMPARE(report, expected);
        QCOMPARE(savedSetting(childSuite, "biometricLogin"), QStringLiteral("false"));
        QCOMPARE(savedSetting(childSuite, "automaticAccessAtStartup"), QStringLiteral("false"));
    }

    // --- the access type ---------------------------------------------------------------

    // The tab is rebuilt from the state at each opening: stored credentials
    // always have one access type, automatic access by default; none have
    // neither. What it decides is in the settings file at once.
    void openingFollowsTheStoredCredentials_data() {
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("biometricBefore");
        QTest::addColumn<bool>("automaticBefore");
        QTest::addColumn<BiometrySupport>("biometry");
        QTest::addColumn<bool>("biometricEnabled");
        QTest::addColumn<bool>("biometric");
        QTest::addColumn<bool>("automatic");
        QTest::newRow("stored, no choice") << true << false << false << BiometrySupport::none << false << false
                                           << true;
        QTest::newRow("stored, no choice, biometry") << true << false << false << BiometrySupport::touchID << true
                                                     << false << true;
        QTest::newRow("stored, biometric chosen") << true << true << false << BiometrySupport::touchID << true << true
                                                  << false;
        QTest::newRow("stored, automatic chosen") << true << false << true << BiometrySupport::touchID << true
                                                  << false << true;
        // A typed login while an item of an earlier run is in the keychain.
        QTest::newRow("not stored, both set") << false << true << true << BiometrySupport::touchID << false << false
                                              << false;
        QTest::newRow("not stored, automatic set") << false << false << true << BiometrySupport::none << false
                                                   << false << false;
    }
    void openingFollowsTheStoredCredentials() {
        QFETCH(bool, stored);
        QFETCH(bool, biometricBefore);
        QFETCH(bool, automaticBefore);
        QFETCH(BiometrySupport, biometry);
        QFETCH(bool, biometricEnabled);
        QFETCH(bool, biometric);
        QFETCH(bool, automatic);
        installBiometry(biometry);
        StandInAccount account("opening");
        QVERIFY(logIn(*appwise, account));
        appwise->setCredentialsInKeyring(stored);
        quorvel::AppSetup setup = appwise->setup();
        setup.biometricLogin = biometricBefore;
        setup.automaticAccessAtStartup = automaticBefore;
        appwise->setSetup(setup);
        appwise->saveSetup();

        OpenWindow w;
        QCOMPARE(w.keyring()->isChecked(), stored);
        QCOMPARE(w.automatic()->isEnabled(), stored);
        QCOMPARE(w.automatic()->isChecked(), automatic);
        QCOMPARE(w.biometric()->isEnabled(), biometricEnabled);
        QCOMPARE(w.biometric()->isChecked(), biometric);
        QCOMPARE(appwise->setup().biometricLogin, biometric);
        QCOMPARE(appwise->setup().automaticAccessAtStartup, automatic);
        const auto word = [](bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); };
        QCOMPARE(savedSetting(suite, "biometricLogin"), word(biometric));
        QCOMPARE(savedSetting(suite, "automaticAccessAtStartup"), word(automatic));
        QCOMPARE(presenter->shown().size(), std::size_t{0});
    }

    // The two radio buttons are one choice, saved as it is made.
    void choosingTheAccessType() {
        installBiometry(BiometrySupport::touchID);
        StandInAccount account("access-type");
        QVERIFY(logIn(*appwise, account));
        appwise->setCredentialsInKeyring(true);
        OpenWindow w;
        QVERIFY(w.automatic()->isChecked());

        QTest::mouseClick(w.biometric(), Qt::LeftButton);
        QVERIFY(w.biometric()->isChecked());
        QVERIFY(!w.automatic()->isChecked());
        QCOMPARE(savedSetting(suite, "biometricLogin"), QStringLiteral("true"));
        QCOMPARE(savedSetting(suite, "automaticAccessAtStartup"), QStringLiteral("false"));

        QTest::mouseClick(w.automatic(), Qt::LeftButton);
        QVERIFY(!w.biometric()->isChecked());
        QVERIFY(w.automatic()->isChecked());
        QCOMPARE(savedSetting(suite, "biometricLogin"), QStringLiteral("false"));
        QCOMPARE(savedSetting(suite, "automaticAccessAtStartup"), QStringLiteral("true"));
        // The chosen one again changes nothing.
        QTest::mouseClick(w.automatic(), Qt::LeftButton);
        QVERIFY(w.automatic()->isChecked());
        QCOMPARE(savedSetting(suite, "automaticAccessAtStartup"), QStringLiteral("true"));
    }

    // --- the verdicts ------------------------------------------------------------------

    // The new password's strength and whether it is repeated; the button
    // follows the match alone.
    void typingTheNewPassword_data() {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QString>("repeated");
        QTest::addColumn<QString>("strength");
        QTest::addColumn<SystemColor>("strengthColour");
        QTest::addColumn<bool>("match");
        QTest::newRow("easy, repeated") << "abcd" << "abcd" << localized("Easy to guess") << SystemColor::red << true;
        QTest::newRow("moderate, mistyped") << "Abcdefgh" << "Abcdefgx" << localized("Moderate") << SystemColor::orange
                                            << false;
        QTest::newRow("strong, repeated") << "Abcdefgh1" << "Abcdefgh1" << localized("Strong") << SystemColor::green
                                          << true;
        QTest::newRow("strong, repeated short") << "Abcdefgh1" << "Abcdefgh" << localized("Strong")
                                                << SystemColor::green << false;
        QTest::newRow("a trailing space") << "abcd " << "abcd" << localized("Easy to guess") << SystemColor::red
                                          << false;
    }
    void typingTheNewPassword() {
        QFETCH(QString, wanted);
        QFETCH(QString, repeated);
        QFETCH(QString, strength);
        QFETCH(SystemColor, strengthColour);
        QFETCH(bool, match);
        StandInAccount account("verdicts");
        QVERIFY(logIn(*appwise, account));
        OpenWindow w;
        QCOMPARE(w.strength()->text(), QStringLiteral("..."));
        QCOMPARE(w.equality()->text(), QStringLiteral("..."));
        QVERIFY(!w.change()->isEnabled());
        for (auto* field : {w.oldPassword(), w.newPassword(), w.check()})
            QCOMPARE(field->echoMode(), QLineEdit::Password);

        // The current password is no part of either verdict.
        QTest::keyClicks(w.oldPassword(), QStringLiteral("whatever"));
        QCOMPARE(w.strength()->text(), QStringLiteral("..."));
        QVERIFY(!w.change()->isEnabled());

        QTest::keyClicks(w.newPassword(), wanted);
        QCOMPARE(w.strength()->text(), strength);
        QCOMPARE(colourOf(w.strength()), quorvel::systemColor(strengthColour));
        QCOMPARE(w.equality()->text(), localized("Doesn't match"));
        QCOMPARE(colourOf(w.equality()), quorvel::systemColor(SystemColor::red));
        QVERIFY(!w.change()->isEnabled());

        QTest::keyClicks(w.check(), repeated);
        QCOMPARE(w.strength()->text(), strength);
        QCOMPARE(w.equality()->text(), localized(match ? "Match" : "Doesn't match"));
        QCOMPARE(colourOf(w.equality()), quorvel::systemColor(match ? SystemColor::green : SystemColor::red));
        QCOMPARE(w.change()->isEnabled(), match);
    }

    // Typing in the check field alone moves only the match; two emptied fields
    // match and enable the button, and an emptied password is very easy.
    void theCheckFieldAndEmptiedFields() {
        StandInAccount account("verdicts-empty");
        QVERIFY(logIn(*appwise, account));
        OpenWindow w;
        QTest::keyClicks(w.check(), QStringLiteral("x"));
        QCOMPARE(w.strength()->text(), QStringLiteral("..."));
        QCOMPARE(w.equality()->text(), localized("Doesn't match"));
        QVERIFY(!w.change()->isEnabled());
        QTest::keyClick(w.check(), Qt::Key_Backspace);
        QCOMPARE(w.strength()->text(), QStringLiteral("..."));
        QCOMPARE(w.equality()->text(), localized("Match"));
        QVERIFY(w.change()->isEnabled());

        QTest::keyClicks(w.newPassword(), QStringLiteral("y"));
        QVERIFY(!w.change()->isEnabled());
        QTest::keyClick(w.newPassword(), Qt::Key_Backspace);
        QCOMPARE(w.strength()->text(), localized("Very easy to guess"));
        QCOMPARE(colourOf(w.strength()), quorvel::systemColor(SystemColor::label));
        QCOMPARE(w.equality()->text(), localized("Match"));
        QVERIFY(w.change()->isEnabled());
    }

    // --- the password change -----------------------------------------------------------

    // A change that is refused before anything is sent: with credentials
    // stored (their password would be stale), or with no user on the fast
    // engine. The button stays as it was.
    void aChangeRefusedOnTheSpot_data() {
        QTest::addColumn<bool>("credentialsStored");
        QTest::addColumn<QString>("alert");
        QTest::addColumn<AlertIcon>("icon");
        QTest::newRow("credentials stored") << true << alertOf("CredStoredWarnTitle", "CredStoredWarnMsg")
                                            << AlertIcon::information;
        QTest::newRow("no user on the engine") << false << alertOf("ModificationError", "ModificationErrorMsg")
                                          << AlertIcon::warning;
    }
    void aChangeRefusedOnTheSpot() {
        QFETCH(bool, credentialsStored);
        QFETCH(QString, alert);
        QFETCH(AlertIcon, icon);
        StandInAccount account("change-refused");
        QSignalSpy histories(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::getUserSessionsData);
        QSignalSpy trusts(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::trustsList);
        QVERIFY(logIn(*appwise, account));
        appwise->setCredentialsInKeyring(credentialsStored);
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(histories.count(), 1, kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(trusts.count(), 1, kGuardMs);
        if (!credentialsStored) {
            // The engine's session ended under the open window.
            fast->auth_logout();
            QTRY_VERIFY_WITH_TIMEOUT(!fast->getUsername().has_value(), kGuardMs);
        }
        drainMainQueue();
        const std::size_t requestsBefore = server().requests().size();

        w.typePasswords(QString::fromLatin1(kStandInPassword), QStringLiteral("A-new-password-1"));
        QVERIFY(w.change()->isEnabled());
        QTest::mouseClick(w.change(), Qt::LeftButton);
        drainMainQueue();

        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(lastAlert(*presenter), alert);
        QVERIFY(presenter->shown()[0].icon == icon);
        QVERIFY(!anyJobOf(*fast, ostrelcomm::JobType::modifyUser));
        QCOMPARE(server().requests().size(), requestsBefore);
        QVERIFY(w.change()->isEnabled());
        QVERIFY(w.spinner()->isHidden());
    }

    // The change against the stand-in: its alert, the engine's own logout
    // (the toolbar turns to Login), a new verifier; then the old password no
    // longer logs in and the new one does.
    void aChangeLogsOutAndTheNewPasswordLogsIn() {
        quorvel::MainWindow mainWindow;
        StandInAccount account("change");
        QVERIFY(logIn(*appwise, account));
        QTRY_COMPARE_WITH_TIMEOUT(loginLogout(mainWindow)->text(), localized("Logout"), kGuardMs);
        const devserver::User before = account.account();
        OpenWindow w(&mainWindow);
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QSignalSpy changes(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::userModification);

        const QString wanted = QStringLiteral("A-new-password-1");
        w.typePasswords(QString::fromLatin1(kStandInPassword), wanted);
        QTest::mouseClick(w.change(), Qt::LeftButton);
        // Sent: the fields are wiped and the button waits for new edits.
        for (auto* field : {w.oldPassword(), w.newPassword(), w.check()}) QCOMPARE(field->text(), QString());
        QVERIFY(!w.change()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!w.spinner()->isHidden(), kGuardMs);

        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 1, kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(lastAlert(*presenter), alertOf("Modification done", "ModificationDoneMsg"),
                                  kGuardMs);
        QVERIFY(presenter->shown().back().icon == AlertIcon::information);
        QCOMPARE(presenter->shown().back().window, static_cast<QWidget*>(w.sheet.data()));
        QTRY_VERIFY_WITH_TIMEOUT(w.spinner()->isHidden(), kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(loginLogout(mainWindow)->text(), localized("Login"), kGuardMs);
        QVERIFY(!fast->isAuthenticated());
        QVERIFY(!appwise->authenticated());
        QVERIFY(!appwise->passwordChangeRunning());
        const devserver::User after = account.account();
        QVERIFY(after.verifier != before.verifier);
        QVERIFY(after.umk != before.umk);

        QCOMPARE(loginWord(*appwise, account.user(), kStandInPassword), std::string(ostrelcomm::auth::kError));
        QCOMPARE(loginWord(*appwise, account.user(), wanted.toStdString()),
                 std::string(ostrelcomm::auth::kAuthenticated));
        QTRY_COMPARE_WITH_TIMEOUT(loginLogout(mainWindow)->text(), localized("Logout"), kGuardMs);
        // The keys were wrapped again, not lost: a listing opens them.
        QCOMPARE(rootListing(*appwise, CommTasks::fastTask), std::string(ostrelcomm::tree::kReceived));
    }

    // A current password the server refuses: the change's error alone. The
    // engines keep their sessions and the window says so; the server's
    // verifier is the old one; the button waits for new edits.
    void aRefusedCurrentPasswordChangesNothing() {
        quorvel::MainWindow mainWindow;
        StandInAccount account("change-wrong");
        QVERIFY(logIn(*appwise, account));
        QTRY_COMPARE_WITH_TIMEOUT(loginLogout(mainWindow)->text(), localized("Logout"), kGuardMs);
        const devserver::User before = account.account();
        OpenWindow w(&mainWindow);
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QSignalSpy changes(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::userModification);
        QSignalSpy statusChanges(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::srpAuthenticated);
        LogCapture log;

        w.typePasswords(QStringLiteral("not-the-password"), QStringLiteral("A-new-password-1"));
        QTest::mouseClick(w.change(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 1, kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(lastAlert(*presenter), alertOf("ModificationError", "ModificationErrorMsg"),
                                  kGuardMs);
        QVERIFY(presenter->shown().back().icon == AlertIcon::warning);
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QTRY_VERIFY_WITH_TIMEOUT(w.spinner()->isHidden(), kGuardMs);
        drainMainQueue();

        // The renewal login was refused, and said so; the window did not hear
        // of a logout.
        bool refusedLogin = false;
        for (const auto& arguments : statusChanges) {
            const auto event = arguments.at(0).value<quorvel::LoginEvent>();
            refusedLogin = refusedLogin || event.result == std::optional<std::string>(ostrelcomm::auth::kError);
        }
        QVERIFY(refusedLogin);
        QCOMPARE(loginLogout(mainWindow)->text(), localized("Logout"));
        QVERIFY(appwise->authenticated());
        QVERIFY(log.contains(Appwise::kRenewalRefusedLog));
        QVERIFY(fast->isAuthenticated());
        QVERIFY(slow->isAuthenticated());
        QVERIFY(!appwise->passwordChangeRunning());
        const devserver::User after = account.account();
        QVERIFY(after.verifier == before.verifier);
        QVERIFY(after.salt == before.salt);
        QCOMPARE(after.umk, before.umk);
        QCOMPARE(rootListing(*appwise, CommTasks::fastTask), std::string(ostrelcomm::tree::kReceived));
        QCOMPARE(rootListing(*appwise, CommTasks::slowTask), std::string(ostrelcomm::tree::kReceived));

        // Two empty new passwords match, but the fields were emptied by the
        // change, not edited: the button waits.
        for (auto* field : {w.oldPassword(), w.newPassword(), w.check()}) QCOMPARE(field->text(), QString());
        QVERIFY(!w.change()->isEnabled());
        QTest::keyClicks(w.newPassword(), QStringLiteral("n"));
        QVERIFY(!w.change()->isEnabled());
        QTest::keyClicks(w.check(), QStringLiteral("n"));
        QVERIFY(w.change()->isEnabled());
    }

    // The window closed while the change runs: Appwise itself still hears of
    // its end, so a later refused login says logged out again.
    void aChangeOutlivesItsWindow() {
        quorvel::MainWindow mainWindow;
        StandInAccount account("change-closed");
        QVERIFY(logIn(*appwise, account));
        QTRY_COMPARE_WITH_TIMEOUT(loginLogout(mainWindow)->text(), localized("Logout"), kGuardMs);
        QSignalSpy changes(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::userModification);
        {
            OpenWindow w(&mainWindow);
            QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
            server().setFault("GET", "/authenticate/", once(devserver::Fault::stalled()));
            w.typePasswords(QStringLiteral("not-the-password"), QStringLiteral("A-new-password-1"));
            QTest::mouseClick(w.change(), Qt::LeftButton);
            QVERIFY(server().waitForStalledRequests(1, std::chrono::milliseconds(kGuardMs)));
            QVERIFY(appwise->passwordChangeRunning());
            QTest::mouseClick(w.outlet<QPushButton>("btnClose"), Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(w.sheet.isNull(), kGuardMs);
        }
        server().releaseStalls();
        QTRY_COMPARE_WITH_TIMEOUT(changes.count(), 1, kGuardMs);
        drainMainQueue();
        QVERIFY(!appwise->passwordChangeRunning());
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        QCOMPARE(loginLogout(mainWindow)->text(), localized("Logout"));
        QVERIFY(appwise->authenticated());

        QCOMPARE(loginWord(*appwise, account.user(), "still-not-the-password"), std::string(ostrelcomm::auth::kError));
        QTRY_COMPARE_WITH_TIMEOUT(loginLogout(mainWindow)->text(), localized("Login"), kGuardMs);
        QVERIFY(!appwise->authenticated());
    }

    // Closing the window wipes what was typed in the three fields.
    void closingWipesThePasswords() {
        StandInAccount account("change-close");
        QVERIFY(logIn(*appwise, account));
        OpenWindow w;
        w.typePasswords(QStringLiteral("typed-old"), QStringLiteral("typed-new"));
        const std::vector<QPointer<QLineEdit>> fields = {w.oldPassword(), w.newPassword(), w.check()};
        QTest::keyClick(w.sheet, Qt::Key_Escape);
        for (const auto& field : fields) {
            QVERIFY(field);
            QCOMPARE(field->text(), QString());
        }
    }

private:
    std::shared_ptr<RecordingAlertPresenter> presenter;
    std::string suite;
    Appwise* appwise = nullptr;
    ostrelcomm::SrvComm* fast = nullptr;
    ostrelcomm::SrvComm* slow = nullptr;
};

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (qEnvironmentVariableIsSet(kUnreachableChild)) return removeWithNoSecretService();
    SecurityTabTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "SecurityTab_test.moc"
