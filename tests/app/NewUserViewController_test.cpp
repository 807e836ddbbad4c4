// The account-creation sheet against the stand-in server: a new account
// made and then logged in, the name and password rules that enable Create,
// the strength and match verdicts, a taken name, an end without a
// description, and no server to choose. And why a name with blanks at its
// ends is refused: made by the engine, such an account can never log in.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AppTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"
#include "app/sheets/NewUserViewController.h"
#include "app/utils/Appwise.h"
#include "app/window/SceneFactory.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "devserver/AccountEndpoints.h"
#include "jobs/CommJobs.h"
#include "jobs/JobStatus.h"
#include "platform/LocalizedString.h"
#include "support/EngineRequests.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"
#include "user/UserNotifications.h"

using namespace apptest;
using ostrelcomm::JobStatus;
using ostrelcomm::SecretBytes;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::NewUserViewController;
using quorvel::SystemColor;

namespace {

constexpr int kGuardMs = 30'000;

devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

void drainMainQueue() {
    for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
}

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

// Logs `user` in on an engine of its own; the login's last word.
std::string loginWord(const std::string& user, const std::string& password) {
    auto engine = std::make_shared<ostrelcomm::SrvComm>();
    testsupport::NotificationRecorder recorder(engine->notifications(),
                                               {ostrelcomm::auth::kSRPAuthenticatedNotification});
    engine->auth_add(user, SecretBytes::fromText(password), ostrelcomm::SRPAuthMode::new_);
    if (!recorder.waitIdle()) return "no end";
    const auto end = recorder.last(ostrelcomm::auth::kSRPAuthenticatedNotification);
    return end ? end->result : "none";
}

// The sheet opened on a window, as the main window opens it.
struct OpenSheet {
    OpenSheet() {
        window.show();
        sheet = qobject_cast<NewUserViewController*>(quorvel::SceneFactory::shared().open("createNewUser", &window));
        if (!sheet) qFatal("No account-creation sheet");
    }

    template <class Widget>
    Widget* outlet(const char* name) const {
        return apptest::outlet<Widget>(sheet, name);
    }
    QLineEdit* username() const { return outlet<QLineEdit>("username"); }
    QLineEdit* password() const { return outlet<QLineEdit>("fullAccessPassword"); }
    QLineEdit* verification() const { return outlet<QLineEdit>("fullAccessPasswordVerification"); }
    QLabel* strength() const { return outlet<QLabel>("fullAccessPasswordStrength"); }
    QLabel* match() const { return outlet<QLabel>("fullAccessPasswordMatch"); }
    QLabel* usernameProblem() const { return outlet<QLabel>("usernameProblem"); }
    QPushButton* create() const { return outlet<QPushButton>("btnCreate"); }
    QProgressBar* spinner() const { return outlet<QProgressBar>("progressSpinner"); }

    void type(const QString& name, const QString& password, const QString& verify) const {
        QTest::keyClicks(username(), name);
        QTest::keyClicks(this->password(), password);
        QTest::keyClicks(verification(), verify);
    }
    void clickCreate() const { QTest::mouseClick(create(), Qt::LeftButton); }
    bool open() const { return sheet && sheet->isVisible(); }

    QWidget window;
    QPointer<NewUserViewController> sheet;
};

QColor colourOf(const QLabel* label) { return label->palette().color(QPalette::WindowText); }

}  // namespace

class NewUserViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before any engine makes its first HTTPS session.
        server();
    }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("new-user"), presenter, Terms::accepted));
        fast = appwise->engine(CommTasks::fastTask).get();
        slow = appwise->engine(CommTasks::slowTask).get();
    }

    void cleanup() {
        server().clearFaults();
        server().releaseStalls();
    }

    void aNewAccountIsCreatedWithoutLoggingInAndThenLogsIn() {
        const std::string user = testsupport::uniqueName("newcomer");
        OpenSheet s;
        auto* servers = s.outlet<QComboBox>("protocolButton");
        QCOMPARE(servers->count(), 1);
        QCOMPARE(servers->itemText(0), QStringLiteral("Switzerland"));
        QVERIFY(!s.create()->isEnabled());
        // What the password fields last held.
        QStringList passwordTexts;
        for (QLineEdit* field : {s.password(), s.verification()})
            QObject::connect(field, &QLineEdit::textChanged, field,
                             [&passwordTexts](const QString& text) { passwordTexts << text; });

        s.type(QString::fromStdString(user), QStringLiteral("Abcdefgh1"), QStringLiteral("Abcdefgh1"));
        QVERIFY(s.create()->isEnabled());
        presenter->answerNext({0});
        s.clickCreate();
        QVERIFY(!s.create()->isEnabled());
        QVERIFY(!s.spinner()->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(!s.open(), kGuardMs);

        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), std::size_t{1});
        QVERIFY(shown[0].question);
        QCOMPARE(shown[0].messageText, localized("You're ready to go!"));
        QCOMPARE(shown[0].informativeText, localized("NewUserCreatedMSG"));
        QCOMPARE(shown[0].icon, quorvel::AlertIcon::information);
        // Both password fields were emptied on the way out.
        QCOMPARE(passwordTexts.mid(passwordTexts.size() - 2), (QStringList{QString(), QString()}));

        // One unsigned request, for the name as typed; the server chosen on
        // the fast engine alone; nobody logged in.
        const auto requests = testsupport::requestsOf(server(), user);
        QCOMPARE(testsupport::requestLines(requests), std::vector<std::string>{"PUT /user/create/"});
        QVERIFY(!requests[0].has("x-sb-auth"));
        QVERIFY(server().users().find(user));
        QCOMPARE(fast->urlToUse(), std::string("Switzerland"));
        QCOMPARE(slow->urlToUse(), std::string("https"));
        QVERIFY(!appwise->authenticated());
        QVERIFY(!appwise->username());

        QCOMPARE(loginWord(user, "Abcdefgh1"), std::string(ostrelcomm::auth::kAuthenticated));
    }

    // Create is enabled by a name of three characters or more once spaces
    // are trimmed, with no blanks at its ends, and two equal passwords.
    void whatTheNameAndPasswordsEnable_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("verification");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("blanksReason");
        QTest::newRow("two letters") << "ab" << "pw" << "pw" << false << false;
        QTest::newRow("three letters") << "abc" << "pw" << "pw" << true << false;
        QTest::newRow("two empty passwords") << "abc" << "" << "" << true << false;
        QTest::newRow("passwords differ") << "abc" << "pw" << "pW" << false << false;
        QTest::newRow("a space inside") << "a b" << "pw" << "pw" << true << false;
        // Two characters as readers count them, four code units.
        QTest::newRow("a letter with two marks and one more")
            << QStringLiteral("a\u0301\u0302b") << "pw" << "pw" << false << false;
        QTest::newRow("two letters between spaces") << "  ab  " << "pw" << "pw" << false << true;
        QTest::newRow("spaces before") << "  abc" << "pw" << "pw" << false << true;
        QTest::newRow("a space after") << "abc " << "pw" << "pw" << false << true;
        QTest::newRow("a tab after") << "abc\t" << "pw" << "pw" << false << true;
    }
    void whatTheNameAndPasswordsEnable() {
        QFETCH(QString, name);
        QFETCH(QString, password);
        QFETCH(QString, verification);
        QFETCH(bool, enabled);
        QFETCH(bool, blanksReason);
        OpenSheet s;
        // Each field edited, even to stay empty.
        for (auto [field, text] : {std::pair{s.username(), name}, std::pair{s.password(), password},
                                   std::pair{s.verification(), verification}}) {
            field->setText(QStringLiteral("-"));
            field->setText(text);
        }

        QCOMPARE(s.create()->isEnabled(), enabled);
        QCOMPARE(!s.usernameProblem()->isHidden(), blanksReason);
        if (blanksReason) QCOMPARE(s.usernameProblem()->text(), localized("UsernameBlanksReason"));
        if (enabled) return;
        s.clickCreate();
        // Such a name is not sent even when asked for directly.
        if (blanksReason) s.sheet->createNewUser();
        drainMainQueue();
        QVERIFY(fast->queue()->getJobsList().empty());
        QVERIFY(testsupport::requestsOf(server(), name.toStdString()).empty());
        QVERIFY(s.open());
    }

    // The verdicts follow the password as typed; they enable nothing.
    void theStrengthAndMatchVerdicts_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<int>("colour");
        QTest::newRow("emptied") << "" << "Very easy to guess" << int(SystemColor::label);
        QTest::newRow("four small letters") << "abcd" << "Easy to guess" << int(SystemColor::red);
        QTest::newRow("moderate") << "Abcdefgh" << "Moderate" << int(SystemColor::orange);
        QTest::newRow("strong") << "Abcdefgh1" << "Strong" << int(SystemColor::green);
    }
    void theStrengthAndMatchVerdicts() {
        QFETCH(QString, password);
        QFETCH(QString, verdict);
        QFETCH(int, colour);
        OpenSheet s;
        QTest::keyClicks(s.username(), QStringLiteral("someone"));
        QTest::keyClicks(s.password(), password + "x");
        QTest::keyClick(s.password(), Qt::Key_Backspace);
        QCOMPARE(s.strength()->text(), localized(verdict.toUtf8().constData()));
        QCOMPARE(colourOf(s.strength()), quorvel::systemColor(SystemColor(colour)));

        QTest::keyClicks(s.verification(), password + "!");
        QCOMPARE(s.match()->text(), QStringLiteral("Doesn't match!"));
        QCOMPARE(colourOf(s.match()), quorvel::systemColor(SystemColor::red));
        QVERIFY(!s.create()->isEnabled());
        QTest::keyClick(s.verification(), Qt::Key_Backspace);
        QCOMPARE(s.match()->text(), QStringLiteral("Match"));
        QCOMPARE(colourOf(s.match()), quorvel::systemColor(SystemColor::green));
        QVERIFY(s.create()->isEnabled());
    }

    void aTakenNameIsReportedInTheServersWordsAndTheSheetCloses() {
        const std::string user = testsupport::uniqueName("taken");
        devserver::addDemoUser(server().users(), user, "first owner");
        OpenSheet s;
        s.type(QString::fromStdString(user), QStringLiteral("pw"), QStringLiteral("pw"));
        presenter->answerNext({0});
        s.clickCreate();
        QTRY_VERIFY_WITH_TIMEOUT(!s.open(), kGuardMs);

        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), std::size_t{1});
        QVERIFY(shown[0].question);
        QCOMPARE(shown[0].messageText, localized("userCreationError"));
        QCOMPARE(shown[0].informativeText, QStringLiteral("The user name is taken"));
        QCOMPARE(shown[0].icon, quorvel::AlertIcon::warning);
        QCOMPARE(loginWord(user, "first owner"), std::string(ostrelcomm::auth::kAuthenticated));
    }

    // An end in error that describes nothing: a log line, the sheet open,
    // Create disabled until the next edit. Cancel then leaves the running
    // creation alone, and its end shows nothing.
    void anErrorWithoutADescriptionLeavesTheSheetOpen() {
        const std::string user = testsupport::uniqueName("undescribed");
        LogCapture log;
        OpenSheet s;
        s.type(QString::fromStdString(user), QStringLiteral("pw"), QStringLiteral("pw"));
        server().setFault("PUT", "/user/create/", once(devserver::Fault::stalled()));
        s.clickCreate();
        QVERIFY(server().waitForStalledRequests(1, std::chrono::milliseconds(kGuardMs)));

        fast->notifications()->post(ostrelcomm::user::kUserCreationTerminatedNotification,
                                    {{"Result", std::string(ostrelcomm::user::kError)}});
        QTRY_VERIFY_WITH_TIMEOUT(log.contains("Invalid error returned from comm library"), kGuardMs);
        QVERIFY(s.open());
        QVERIFY(s.spinner()->isHidden());
        QVERIFY(!s.create()->isEnabled());
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        QTest::keyClick(s.username(), Qt::Key_End);
        QTest::keyClicks(s.username(), QStringLiteral("x"));
        QTest::keyClick(s.username(), Qt::Key_Backspace);
        QVERIFY(s.create()->isEnabled());

        const auto jobs = fast->queue()->getJobsList();
        QCOMPARE(jobs.size(), std::size_t{1});
        const std::string job = jobs.begin()->first;
        QTest::keyClick(s.sheet, Qt::Key_Escape);
        QVERIFY(!s.open());
        QCOMPARE(fast->queue()->getJobData(job)->status, JobStatus::inProgress);
        server().releaseStalls();
        QTRY_COMPARE_WITH_TIMEOUT(fast->queue()->getJobData(job)->status, JobStatus::completed, kGuardMs);
        drainMainQueue();
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        QVERIFY(server().users().find(user));
    }

    void withNoServerToChooseNothingIsQueued() {
        OpenSheet s;
        s.outlet<QComboBox>("protocolButton")->clear();
        s.type(QStringLiteral("someone"), QStringLiteral("pw"), QStringLiteral("pw"));
        s.clickCreate();
        drainMainQueue();

        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, localized("NewUser-NoServer"));
        QCOMPARE(presenter->shown()[0].informativeText, localized("NewUserNoServerMessage"));
        QVERIFY(fast->queue()->getJobsList().empty());
        QCOMPARE(fast->urlToUse(), std::string("https"));
        QVERIFY(s.open());
        QVERIFY(s.spinner()->isHidden());
    }

    // HTTP drops the blanks at both ends of the header that carries the new
    // name: the account is stored under the trimmed name with a verifier
    // computed for the untrimmed one, so neither spelling can log in. The
    // engine reports a failure (the answer names another user), yet the
    // account is there, and its name is taken for good.
    void aNameWithBlanksAtItsEndsCanNeverLogIn() {
        const std::string trimmed = testsupport::uniqueName("blanks");
        const std::string typed = "  " + trimmed;
        testsupport::NotificationRecorder recorder(fast->notifications(),
                                                   {ostrelcomm::user::kUserCreationTerminatedNotification});
        fast->user_addCreation(typed, SecretBytes::fromText("pw"));
        QVERIFY(recorder.waitIdle());

        QCOMPARE(recorder.lines(), std::vector<std::string>{"userCreationTerminated:Error"});
        QCOMPARE(testsupport::lastError(*fast), std::optional<std::string>(ostrelcomm::localizedString(
                                                    "Localizable", "AnswerWrongUsername")));
        QVERIFY(!server().users().find(typed));
        QVERIFY(server().users().find(trimmed));
        QVERIFY(loginWord(typed, "pw") != ostrelcomm::auth::kAuthenticated);
        QVERIFY(loginWord(trimmed, "pw") != ostrelcomm::auth::kAuthenticated);
    }

private:
    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
    ostrelcomm::SrvComm* fast = nullptr;
    ostrelcomm::SrvComm* slow = nullptr;
};

QTEST_MAIN(NewUserViewControllerTest)
#include "NewUserViewController_test.moc"
