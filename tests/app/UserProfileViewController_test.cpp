// The account window against the stand-in server, opened as the main window
// opens it: what it asks for when it opens, the profile and the storage used
// (and the profile answers that close it), the tabs, the login history with
// its colours and its kept or replaced rows, and the profile deletion from
// the button to the logout of both engines.

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <any>
#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AccountWindowSupport.h"
#include "AppTestSupport.h"
#include "app/Extensions/Formatters.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"
#include "app/account/LevelIndicator.h"
#include "app/account/QrCodeReader.h"
#include "app/account/UserProfileTableSource.h"
#include "app/account/UserProfileViewController.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/window/MainWindow.h"
#include "app/window/SceneFactory.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "devserver/AccountEndpoints.h"
#include "jobs/CommJobs.h"
#include "jobs/JobType.h"
#include "platform/NotificationCenter.h"
#include "shares/TrustCode.h"
#include "support/EngineRequests.h"
#include "support/SharedDevserver.h"
#include "user/UserNotifications.h"

using namespace apptest;
using ostrelcomm::SecretBytes;
using ostrelcomm::UserInfo;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::LevelIndicator;
using quorvel::UserProfileViewController;
using Tab = quorvel::UserProfileViewController::SelectedTab;

Q_DECLARE_METATYPE(LevelIndicator::Level)
Q_DECLARE_METATYPE(UserInfo)

namespace {

constexpr int kGuardMs = 30'000;
constexpr char kPassword[] = "account-window-pw";

devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

std::string makeUser(const std::string& stem) {
    std::string name = testsupport::uniqueName(stem);
    devserver::addDemoUser(server().users(), name, kPassword);
    return name;
}

void modifyUser(const std::string& name, const std::function<void(devserver::User&)>& change) {
    if (!server().users().modify(name, change)) qFatal("No user %s on the stand-in", name.c_str());
}

std::chrono::sys_seconds at(std::int64_t secondsSinceEpoch) {
    return std::chrono::sys_seconds(std::chrono::seconds(secondsSinceEpoch));
}

void drainMainQueue() {
    for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
}

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

// "METHOD path" of the requests of `user` from the `from`-th on.
std::vector<devserver::RecordedRequest> requestsSince(const std::string& user, std::size_t from) {
    auto requests = testsupport::requestsOf(server(), user);
    requests.erase(requests.begin(), requests.begin() + static_cast<std::ptrdiff_t>(std::min(from, requests.size())));
    return requests;
}

std::string headerOf(const devserver::RecordedRequest& request, const char* name) {
    const auto values = request.values(name);
    return values.empty() ? std::string("(none)") : values.front();
}

// The account window, with the outlets these tests read.
struct OpenWindow : AccountWindow {
    using AccountWindow::AccountWindow;

    QString label(const char* name) const { return outlet<QLabel>(name)->text(); }
    LevelIndicator* usedSpace() const { return outlet<LevelIndicator>("cliUsedSpace"); }
    QAbstractItemModel* activities() const { return outlet<QTableView>("tblActivity")->model(); }
    QVariant activityCell(int row, int column, int role = Qt::DisplayRole) const {
        return activities()->data(activities()->index(row, column), role);
    }
};

// The trust code the window shows as a QR code, read back.
ostrelcomm::TrustCode drawnTrustCode(const OpenWindow& w) {
    const auto texts = quorvel::QrCodeReader::read(w.sheet->trustCodeQRLight());
    if (texts.size() != 1) qFatal("The account window shows %zu codes", texts.size());
    return ostrelcomm::TrustCode(texts.front());
}

}  // namespace

class UserProfileViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before any engine makes its first HTTPS session.
        server();
    }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("account-window"), presenter));
        fast = appwise->engine(CommTasks::fastTask).get();
        slow = appwise->engine(CommTasks::slowTask).get();
    }

    void cleanup() {
        server().clearFaults();
        server().releaseStalls();
    }

    // Opening asks once each for the first 20 login records, the profile and
    // the trusted users, in that order, and shows the profile as the stand-in
    // has it.
    void openingAsksOnceAndShowsTheProfile() {
        const std::string user = logIn("profile");
        const auto since = at(1'700'000'000);
        const auto expiry = at(1'900'000'000);
        modifyUser(user, [&](devserver::User& u) {
            u.profilename = "Pro";
            u.since = since;
            u.currentplanexpiry = expiry;
            u.files = 3;
            u.directories = 1;
            u.usedspace = 1'200'000;
            u.diskspace = 10'000'000'000;
        });
        const std::size_t before = testsupport::requestsOf(server(), user).size();
        QSignalSpy trustLists(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::trustsList);

        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(trustLists.count(), 1, kGuardMs);
        drainMainQueue();

        const auto requests = requestsSince(user, before);
        QCOMPARE(testsupport::requestLines(requests),
                 (std::vector<std::string>{"GET /userprofile/sessions/", "GET /userprofile/getprofile/",
                                           "GET /trustedpeers/list/"}));
        QCOMPARE(headerOf(requests[0], "x-sb-start"), std::string("0"));
        QCOMPARE(headerOf(requests[0], "x-sb-end"), std::string("20"));

        QCOMPARE(w.label("lblUsername"), QString::fromStdString(user));
        QCOMPARE(w.label("lblCurrentPlan"), QStringLiteral("Pro"));
        using quorvel::Formatters::DateStyle;
        QCOMPARE(w.label("lblMemberSince"), quorvel::Formatters::date(since, DateStyle::full, DateStyle::long_));
        QCOMPARE(w.label("lblPlanExpiry"), quorvel::Formatters::date(expiry, DateStyle::full, DateStyle::long_));
        QCOMPARE(w.label("lblFilesAndFolder"), QStringLiteral("3 file(s) and 1 directory(es)"));
        QCOMPARE(w.label("lblUsedSpace"), QStringLiteral("Used 1.2 MB out of 10 GB"));
        QCOMPARE(w.usedSpace()->level(), LevelIndicator::Level::normal);

        // The own trust code drawn: the profile's identifier and key, the
        // application's user name.
        const auto stored = server().users().find(user);
        const ostrelcomm::TrustCode ownCode = drawnTrustCode(w);
        QCOMPARE(ownCode.peerUUID(), stored->uuid);
        QCOMPARE(ownCode.peerUsername(), user);
        QVERIFY(ownCode.pubshkey() == stored->pubshkey);

        // Names and server texts are never read as markup.
        for (const char* name : {"lblUsername", "lblCurrentPlan", "lblPlanExpiry", "lblMemberSince", "lblUsedSpace",
                                 "lblFilesAndFolder"})
            QCOMPARE(w.outlet<QLabel>(name)->textFormat(), Qt::PlainText);
        QCOMPARE(presenter->shown().size(), std::size_t{0});
    }

    // No user name in the application and no plan expiry: the stand-ins for
    // both; no files either.
    void aProfileWithoutNameOrExpiry() {
        const std::string user = logIn("nameless", /*appwiseKnowsTheName=*/false);
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);

        QCOMPARE(w.label("lblUsername"), QStringLiteral("No username??"));
        QCOMPARE(drawnTrustCode(w).peerUsername(), std::string(UserProfileViewController::kNoUsername));
        QCOMPARE(w.label("lblPlanExpiry"), localized("This plan never expire"));
        QCOMPARE(w.label("lblCurrentPlan"), QStringLiteral("Free"));
        QCOMPARE(w.label("lblFilesAndFolder"), QStringLiteral("0 file(s) and 0 directory(es)"));
    }

    void theUsageBarAndText_data() {
        QTest::addColumn<quint64>("diskspace");
        QTest::addColumn<quint64>("usedspace");
        QTest::addColumn<LevelIndicator::Level>("level");
        QTest::addColumn<int>("filled");
        QTest::addColumn<QString>("text");
        using Level = LevelIndicator::Level;
        constexpr quint64 most = std::numeric_limits<quint64>::max();
        // A quota of 0: an empty bar, not Qt's busy animation of a 0..0 range.
        QTest::newRow("no quota") << quint64{0} << quint64{0} << Level::normal << 0
                                  << QStringLiteral("Used Zero KB out of Zero KB");
        QTest::newRow("used without quota") << quint64{0} << quint64{5'000} << Level::normal << 0
                                            << QStringLiteral("Used 5 KB out of Zero KB");
        QTest::newRow("half") << quint64{10'000'000} << quint64{5'000'000} << Level::normal << 500
                              << QStringLiteral("Used 5 MB out of 10 MB");
        QTest::newRow("80 %") << quint64{10'000'000} << quint64{8'000'000} << Level::warning << 800
                              << QStringLiteral("Used 8 MB out of 10 MB");
        QTest::newRow("95 %") << quint64{10'000'000} << quint64{9'500'000} << Level::critical << 950
                              << QStringLiteral("Used 9.5 MB out of 10 MB");
        QTest::newRow("over quota") << quint64{1'000} << quint64{3'000} << Level::critical << 1000
                                    << QStringLiteral("Used 3 KB out of 1 KB");
        // Beyond what Qt's bar and a signed byte count can hold.
        QTest::newRow("whole range") << most << most / 4 << Level::normal << 250
                                     << QStringLiteral("Used 4.61 EB out of 18.45 EB");
        QTest::newRow("whole range full") << most << most << Level::critical << 1000
                                          << QStringLiteral("Used 18.45 EB out of 18.45 EB");
    }
    void theUsageBarAndText() {
        QFETCH(quint64, diskspace);
        QFETCH(quint64, usedspace);
        QFETCH(LevelIndicator::Level, level);
        QFETCH(int, filled);
        QFETCH(QString, text);
        const std::string user = logIn("usage");
        modifyUser(user, [&](devserver::User& u) {
            u.diskspace = diskspace;
            u.usedspace = usedspace;
        });
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);

        LevelIndicator* bar = w.usedSpace();
        QVERIFY(bar->maximum() > bar->minimum());
        QCOMPARE(bar->value() - bar->minimum(), filled * (bar->maximum() - bar->minimum()) / 1000);
        QCOMPARE(bar->level(), level);
        const auto colour = level == LevelIndicator::Level::critical  ? quorvel::SystemColor::red
                            : level == LevelIndicator::Level::warning ? quorvel::SystemColor::yellow
                                                                      : quorvel::SystemColor::green;
        QCOMPARE(bar->palette().color(QPalette::Highlight), quorvel::systemColor(colour));
        QCOMPARE(w.label("lblUsedSpace"), text);
    }

    // A profile answer the window cannot show: one line in the system log,
    // no alert, and the window closes.
    void aProfileAnswerItCannotShowClosesTheWindow_data() {
        QTest::addColumn<UserInfo>("posted");
        QTest::addColumn<QString>("line");
        using ostrelcomm::user::NotificationDataPayload;
        const std::string completed = ostrelcomm::user::kCompleted;
        const QString wrongResult = UserProfileViewController::kWrongResultLog;
        const QString undecodable = UserProfileViewController::kUndecodableLog;
        const QString unreadable = UserProfileViewController::kUnreadableProfileLog;
        QTest::newRow("error") << UserInfo{{"Result", std::string(ostrelcomm::user::kError)}} << wrongResult;
        QTest::newRow("no result") << UserInfo{} << wrongResult;
        QTest::newRow("no data") << UserInfo{{"Result", completed}} << undecodable;
        QTest::newRow("null data") << UserInfo{{"Result", completed}, {"CustomData", ostrelcomm::NullObject{}}}
                                   << undecodable;
        QTest::newRow("bare profile") << UserInfo{{"Result", completed}, {"CustomData", ostrelcomm::UserProfile{}}}
                                      << undecodable;
        QTest::newRow("no entry") << UserInfo{{"Result", completed}, {"CustomData", NotificationDataPayload{}}}
                                  << unreadable;
        QTest::newRow("entry of another type")
            << UserInfo{{"Result", completed},
                        {"CustomData", NotificationDataPayload{{ostrelcomm::user::kNotificationDataKey,
                                                                std::string("profile")}}}}
            << unreadable;
    }
    void aProfileAnswerItCannotShowClosesTheWindow() {
        QFETCH(UserInfo, posted);
        QFETCH(QString, line);
        logIn("bad-profile");
        // The real answer waits, so the one posted here is the first.
        server().setFault("GET", "/userprofile/getprofile/", devserver::Fault::stalled());
        LogCapture log;
        OpenWindow w;
        QVERIFY(server().waitForStalledRequests(1, std::chrono::milliseconds(kGuardMs)));
        fast->notifications()->post(ostrelcomm::user::kUserProfileDataAvailableNotification, posted);

        QTRY_VERIFY_WITH_TIMEOUT(!w.open(), kGuardMs);
        QVERIFY2(log.contains(line.toStdString()), qPrintable(line));
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        // The real answer, late, finds no window to fill.
        QSignalSpy profiles(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::userProfileDataAvailable);
        server().releaseStalls();
        QTRY_COMPARE_WITH_TIMEOUT(profiles.count(), 1, kGuardMs);
        drainMainQueue();
        QVERIFY(w.sheet.isNull());
    }

    // The server's refusal, through the engine.
    void aRefusedProfileClosesTheWindow() {
        logIn("refused-profile");
        server().setFault("GET", "/userprofile/getprofile/",
                          devserver::Fault::exception(500, "InternalServerException", "No profile today"));
        LogCapture log;
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(!w.open(), kGuardMs);
        QVERIFY(log.contains(UserProfileViewController::kWrongResultLog));
        QCOMPARE(presenter->shown().size(), std::size_t{0});
    }

    void theTabsSetTheSelectedTab() {
        logIn("tabs");
        OpenWindow w;
        QCOMPARE(w.sheet->selectedTab(), Tab::profile);
        auto* tabs = w.outlet<QTabWidget>("tabView");
        const std::vector<std::pair<QString, Tab>> expected = {{"Profile", Tab::profile},
                                                               {"Usage", Tab::usage},
                                                               {"Activities", Tab::activities},
                                                               {"Trusts", Tab::trusts},
                                                               {"Security", Tab::security}};
        QCOMPARE(tabs->count(), static_cast<int>(expected.size()));
        // Walked backwards, so that each choice changes the tab.
        for (int i = tabs->count() - 1; i >= 0; --i) {
            QCOMPARE(tabs->tabBar()->tabData(i).toString(), expected[std::size_t(i)].first);
            tabs->setCurrentIndex(i);
            QCOMPARE(w.sheet->selectedTab(), expected[std::size_t(i)].second);
        }
        tabs->setCurrentIndex(2);
        // A tab of another name, or of none, keeps the last one.
        const int other = tabs->addTab(new QWidget, QStringLiteral("Other"));
        tabs->tabBar()->setTabData(other, QStringLiteral("Elsewhere"));
        tabs->setCurrentIndex(other);
        QCOMPARE(w.sheet->selectedTab(), Tab::activities);
        const int unnamed = tabs->addTab(new QWidget, QStringLiteral("Unnamed"));
        tabs->setCurrentIndex(unnamed);
        QCOMPARE(w.sheet->selectedTab(), Tab::activities);
    }

    // The rows are the stand-in's login records in its order, coloured by
    // their outcome; an answer in error keeps them, an empty one empties the
    // table.
    void theLoginHistory() {
        const std::string user = makeUser("history");
        // A failed login first, by the user's own mistake.
        QSignalSpy logins(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::srpAuthenticated);
        fast->auth_add(user, SecretBytes::fromText("not-the-password"), ostrelcomm::SRPAuthMode::new_);
        QTRY_VERIFY_WITH_TIMEOUT(lastLoginEnded(logins), kGuardMs);
        logIn(user, true, /*existing=*/true);
        modifyUser(user, [](devserver::User& u) {
            u.logins.push_back({at(1'750'000'000), "ACTUAL", "This session <b>here</b>"});
        });
        const auto stored = server().users().find(user)->logins;
        QCOMPARE(stored.size(), std::size_t{3});

        QSignalSpy answers(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::getUserSessionsData);
        OpenWindow w;
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 1, kGuardMs);
        drainMainQueue();
        QCOMPARE(w.activities()->rowCount(), 3);
        QCOMPARE(w.outlet<QComboBox>("scActivityRecordQuantity")->currentIndex(), 0);
        QVERIFY(w.outlet<QProgressBar>("activityLoadingSpinner")->isHidden());

        using quorvel::Formatters::DateStyle;
        const QColor label = quorvel::systemColor(quorvel::SystemColor::label);
        const std::map<std::string, std::pair<QString, QColor>> byResult = {
            {"FAILED", {localized("FAILED"), quorvel::systemColor(quorvel::SystemColor::red)}},
            {"SUCCESS", {localized("SUCCESS"), label}},
            {"ACTUAL", {localized("ACTUAL"), quorvel::systemColor(quorvel::SystemColor::green)}},
        };
        for (int row = 0; row < 3; ++row) {
            const auto& record = stored[std::size_t(row)];
            const auto& [word, colour] = byResult.at(record.result);
            QCOMPARE(w.activityCell(row, 0).toString(),
                     quorvel::Formatters::date(record.timestamp, DateStyle::long_, DateStyle::long_));
            QCOMPARE(w.activityCell(row, 1).toString(), word);
            QCOMPARE(w.activityCell(row, 2).toString(), QString::fromStdString(record.extdiag));
            for (int column = 0; column < 3; ++column)
                QCOMPARE(w.activityCell(row, column, Qt::ForegroundRole).value<QColor>(), colour);
        }
        QCOMPARE(stored[0].result, std::string("FAILED"));
        QCOMPARE(stored[2].result, std::string("ACTUAL"));

        // An answer in error, held for a while: the spinner turns while it
        // runs, and the rows stay.
        auto fault = devserver::Fault::exception(500, "InternalServerException", "No history today");
        fault.stall = true;
        server().setFault("GET", "/userprofile/sessions/", fault);
        auto* quantity = w.outlet<QComboBox>("scActivityRecordQuantity");
        QTest::keyClick(quantity, Qt::Key_Down);
        QCOMPARE(quantity->currentIndex(), 1);
        QVERIFY(server().waitForStalledRequests(1, std::chrono::milliseconds(kGuardMs)));
        drainMainQueue();
        QVERIFY(!w.outlet<QProgressBar>("activityLoadingSpinner")->isHidden());
        server().releaseStalls();
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 2, kGuardMs);
        drainMainQueue();
        QVERIFY(w.outlet<QProgressBar>("activityLoadingSpinner")->isHidden());
        QCOMPARE(w.activities()->rowCount(), 3);
        QCOMPARE(static_cast<int>(w.sheet->usersActivities().size()), 3);
        QCOMPARE(headerOf(testsupport::requestsOf(server(), user).back(), "x-sb-end"), std::string("50"));

        // The last choice sends end 0 as it is; the stand-in answers no
        // records to it, and the table empties.
        server().clearFaults();
        QTest::keyClick(quantity, Qt::Key_End);
        QCOMPARE(quantity->currentIndex(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(answers.count(), 3, kGuardMs);
        drainMainQueue();
        const auto last = testsupport::requestsOf(server(), user).back();
        QCOMPARE(last.path, std::string("/userprofile/sessions/"));
        QCOMPARE(headerOf(last, "x-sb-start"), std::string("0"));
        QCOMPARE(headerOf(last, "x-sb-end"), std::string("0"));
        QCOMPARE(w.activities()->rowCount(), 0);
    }

    void theDeleteButtonWantsAPassword_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("nothing") << QString() << false;
        QTest::newRow("spaces") << QStringLiteral("   ") << false;
        QTest::newRow("a word") << QStringLiteral("pw") << true;
        QTest::newRow("a word in spaces") << QStringLiteral("  pw  ") << true;
    }
    void theDeleteButtonWantsAPassword() {
        QFETCH(QString, typed);
        QFETCH(bool, enabled);
        logIn("delete-button");
        OpenWindow w;
        auto* field = w.outlet<QLineEdit>("deleteProfilePassword");
        auto* button = w.outlet<QPushButton>("btnDeleteProfile");
        QCOMPARE(field->echoMode(), QLineEdit::Password);
        QVERIFY(!button->isEnabled());
        QTest::keyClicks(field, typed);
        QCOMPARE(button->isEnabled(), enabled);
        // Emptied again: disabled again.
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        QVERIFY(!button->isEnabled());
    }

    // "Cancel" in the last-chance question sends nothing and changes nothing.
    void cancellingTheLastChanceQueuesNothing() {
        const std::string user = logIn("delete-cancel");
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        presenter->answerNext({0});
        QTest::keyClicks(w.outlet<QLineEdit>("deleteProfilePassword"), QString::fromLatin1(kPassword));
        QTest::mouseClick(w.outlet<QPushButton>("btnDeleteProfile"), Qt::LeftButton);
        drainMainQueue();

        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), std::size_t{1});
        QCOMPARE(shown[0].messageText, localized("LastChanceMsg"));
        QCOMPARE(shown[0].informativeText, localized("LastChanceMsgExt"));
        QVERIFY(shown[0].icon == quorvel::AlertIcon::warning);
        QCOMPARE(shown[0].buttons, (std::vector<QString>{localized("Cancel"), localized("DELETE MY DATA")}));
        QCOMPARE(shown[0].window, static_cast<QWidget*>(w.sheet.data()));
        for (const auto& [id, job] : fast->queue()->getJobsList())
            QVERIFY(job.jobType != ostrelcomm::JobType::deleteProfile);
        QVERIFY(w.open());
        QVERIFY(w.outlet<QProgressBar>("delProfProgressSpinner")->isHidden());
        QVERIFY(fast->isAuthenticated());
        QVERIFY(server().users().find(user).has_value());
    }

    // Whatever the outcome, its one alert, then both engines log out and the
    // window closes; only the right password deletes the user.
    void aDeletionEndsWithBothEnginesLoggedOut_data() {
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("deleted");
        QTest::newRow("wrong password") << QStringLiteral("not-the-password") << false;
        QTest::newRow("right password") << QString::fromLatin1(kPassword) << true;
    }
    void aDeletionEndsWithBothEnginesLoggedOut() {
        QFETCH(QString, password);
        QFETCH(bool, deleted);
        quorvel::MainWindow mainWindow;
        auto* loginLogout = mainWindow.findChild<QAction*>(QStringLiteral("tbLoginLogout"));
        QVERIFY(loginLogout);
        const std::string user = logIn("delete");
        QTRY_COMPARE_WITH_TIMEOUT(loginLogout->text(), localized("Logout"), kGuardMs);
        OpenWindow w(&mainWindow);
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QSignalSpy logouts(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::userLogout);

        presenter->answerNext({1, 0});
        QTest::keyClicks(w.outlet<QLineEdit>("deleteProfilePassword"), password);
        QTest::mouseClick(w.outlet<QPushButton>("btnDeleteProfile"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.sheet.isNull(), kGuardMs);
        // The engine's own logout after a deletion, and the window's.
        QTRY_COMPARE_WITH_TIMEOUT(logouts.count(), deleted ? 2 : 1, kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(loginLogout->text(), localized("Login"), kGuardMs);
        drainMainQueue();

        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), std::size_t{2});
        QCOMPARE(shown[0].messageText, localized("LastChanceMsg"));
        if (deleted) {
            QCOMPARE(shown[1].messageText, localized("DataDeletedConf"));
            QCOMPARE(shown[1].informativeText, localized("DataDeletedConfExt"));
            QVERIFY(shown[1].icon == quorvel::AlertIcon::information);
        } else {
            QCOMPARE(shown[1].messageText, localized("DataDeleteError"));
            QCOMPARE(shown[1].informativeText, localized("DataDeleteError"));
            QVERIFY(shown[1].icon == quorvel::AlertIcon::warning);
        }
        QVERIFY(!fast->isAuthenticated());
        QVERIFY(!slow->isAuthenticated());
        QVERIFY(!appwise->authenticated());
        QCOMPARE(server().users().find(user).has_value(), !deleted);
        int deletions = 0;
        for (const auto& request : testsupport::requestsOf(server(), user))
            deletions += request.method == "DELETE" && request.path == "/userprofile/delete/";
        QCOMPARE(deletions, deleted ? 1 : 0);
    }

    // The close button and Escape end the window and wipe the password typed
    // for a deletion.
    void closingClearsThePasswordAndEndsTheWindow_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("close button") << false;
        QTest::newRow("escape") << true;
    }
    void closingClearsThePasswordAndEndsTheWindow() {
        QFETCH(bool, escape);
        logIn("close");
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QPointer<QLineEdit> field = w.outlet<QLineEdit>("deleteProfilePassword");
        QTest::keyClicks(field, QStringLiteral("secret"));
        if (escape)
            QTest::keyClick(w.sheet, Qt::Key_Escape);
        else
            QTest::mouseClick(w.outlet<QPushButton>("btnClose"), Qt::LeftButton);
        QVERIFY(!w.open());
        QVERIFY(field);
        QCOMPARE(field->text(), QString());
        QTRY_VERIFY_WITH_TIMEOUT(w.sheet.isNull(), kGuardMs);
    }

private:
    // A new user on the stand-in (or `existing`), logged in on both engines
    // as the login sheet leaves them: the application holds the name and
    // password when `appwiseKnowsTheName`.
    std::string logIn(const std::string& stemOrName, bool appwiseKnowsTheName = true, bool existing = false) {
        const std::string user = existing ? stemOrName : makeUser(stemOrName);
        if (appwiseKnowsTheName) {
            appwise->setUsername(user);
            appwise->setPassword(SecretBytes::fromText(kPassword));
        }
        fast->auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
        if (!QTest::qWaitFor([&] { return appwise->authenticated() && slow->isAuthenticated(); }, kGuardMs))
            qFatal("%s could not log in", user.c_str());
        return user;
    }

    static bool lastLoginEnded(const QSignalSpy& logins) {
        for (const auto& arguments : logins) {
            const auto event = arguments.at(0).value<quorvel::LoginEvent>();
            if (event.result && *event.result != "InProgress") return true;
        }
        return false;
    }

    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
    ostrelcomm::SrvComm* fast = nullptr;
    ostrelcomm::SrvComm* slow = nullptr;
};

QTEST_MAIN(UserProfileViewControllerTest)
#include "UserProfileViewController_test.moc"
