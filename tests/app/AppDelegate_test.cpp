// The application delegate: its menu commands as application notifications,
// the Edit menu following "adjustEditMenu", New Account following a real
// login and logout against the stand-in server, the login sheet asked for at
// launch, and no observer left behind.

#include <QAction>
#include <QList>
#include <QMainWindow>
#include <QTest>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "AppTestSupport.h"
#include "app/AppDelegate.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "devserver/AccountEndpoints.h"
#include "support/EngineRequests.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"

using namespace apptest;
using ostrelcomm::NullObject;
using ostrelcomm::SecretBytes;
using ostrelcomm::UserInfo;
using quorvel::AppDelegate;
using quorvel::Appwise;
using quorvel::CommTasks;

Q_DECLARE_METATYPE(UserInfo)

namespace {

constexpr int kGuardMs = 30'000;

// Every notification the delegate may post.
const std::vector<std::string> kDelegateNotifications = {
    quorvel::kShowLoginSheetNotification,     quorvel::kActionShowAboutNotification,
    quorvel::kActionShowPreferencesNotification, quorvel::kActionCreateNewUserNotification,
    quorvel::kCutRemoteItemsNotification,     quorvel::kCopyRemoteItemsNotification,
    quorvel::kPasteRemoteItemsNotification,   quorvel::kDeleteRemoteItemsNotification,
    quorvel::kSelectAllNotification,
};

Appwise& installAppwise(bool automaticAccessAtStartup) {
    auto appwise = makeAppwise(uniqueSuite("delegate"));
    quorvel::AppSetup setup = appwise->setup();
    setup.automaticAccessAtStartup = automaticAccessAtStartup;
    appwise->setSetup(setup);
    return Appwise::installShared(std::move(appwise));
}

// A shared Appwise of its own, a main window, and its delegate launched,
// with what the delegate posts recorded from before the launch on.
struct Launched {
    explicit Launched(bool automaticAccessAtStartup = false)
        : appwise(installAppwise(automaticAccessAtStartup)), posted(appwise.notifications(), kDelegateNotifications) {
        delegate->applicationDidFinishLaunching();
    }

    // The Edit items in the menu's order: Cut, Copy, Paste, Delete, Select All.
    QList<bool> editItems() const {
        QList<bool> enabled;
        for (QAction* item : {delegate->miCut(), delegate->miCopy(), delegate->miPaste(), delegate->miDelete(),
                              delegate->miSelectAll()})
            enabled << item->isEnabled();
        return enabled;
    }
    void adjustEditMenu(bool all) {
        appwise.notifications()->post(quorvel::kAdjustEditMenuNotification,
                                      {{quorvel::kCutEnableKey, all},
                                       {quorvel::kCopyEnableKey, all},
                                       {quorvel::kPasteEnableKey, all},
                                       {quorvel::kDeleteEnableKey, all},
                                       {quorvel::kSelectAllEnableKey, all}});
    }

    Appwise& appwise;
    testsupport::NotificationRecorder posted;
    QMainWindow window;
    std::unique_ptr<AppDelegate> delegate = std::make_unique<AppDelegate>(&window);
};

}  // namespace

class AppDelegateTest : public QObject {
    Q_OBJECT

private slots:
    void eachCommandPostsItsNotificationOnce_data() {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("notification");
        QTest::newRow("About") << "aboutApp" << quorvel::kActionShowAboutNotification;
        QTest::newRow("Preferences") << "showPreferences" << quorvel::kActionShowPreferencesNotification;
        QTest::newRow("New Account") << "miCreateNewUser" << quorvel::kActionCreateNewUserNotification;
        QTest::newRow("Cut") << "miCut" << quorvel::kCutRemoteItemsNotification;
        QTest::newRow("Copy") << "miCopy" << quorvel::kCopyRemoteItemsNotification;
        QTest::newRow("Paste") << "miPaste" << quorvel::kPasteRemoteItemsNotification;
        QTest::newRow("Delete") << "miDelete" << quorvel::kDeleteRemoteItemsNotification;
        QTest::newRow("Select All") << "miSelectAll" << quorvel::kSelectAllNotification;
    }
    void eachCommandPostsItsNotificationOnce() {
        QFETCH(QString, item);
        QFETCH(QString, notification);
        Launched launched;
        launched.adjustEditMenu(true);
        // The item as the window's menu bar holds it.
        auto* action = launched.window.findChild<QAction*>(item);
        QVERIFY(action);

        action->trigger();

        QCOMPARE(launched.posted.names(), std::vector<std::string>{notification.toStdString()});
        QVERIFY(launched.posted.all().front().userInfo.empty());
    }

    void theEditMenuStartsDisabledAndADisabledItemPostsNothing() {
        Launched launched;
        QCOMPARE(launched.editItems(), QList<bool>({false, false, false, false, false}));
        QVERIFY(launched.delegate->miCreateNewUser()->isEnabled());
        for (QAction* item : {launched.delegate->miCut(), launched.delegate->miCopy(), launched.delegate->miPaste(),
                              launched.delegate->miDelete(), launched.delegate->miSelectAll()})
            item->trigger();
        QVERIFY(launched.posted.all().empty());
    }

    void adjustEditMenu_data() {
        QTest::addColumn<bool>("startEnabled");
        QTest::addColumn<UserInfo>("userInfo");
        QTest::addColumn<QList<bool>>("expected");
        using namespace quorvel;
        QTest::newRow("only Paste false") << true << UserInfo{{kPasteEnableKey, false}}
                                          << QList<bool>{true, true, false, true, true};
        QTest::newRow("only Select All true") << false << UserInfo{{kSelectAllEnableKey, true}}
                                              << QList<bool>{false, false, false, false, true};
        QTest::newRow("each key its item")
            << false
            << UserInfo{{kCutEnableKey, true}, {kCopyEnableKey, false}, {kPasteEnableKey, true},
                        {kDeleteEnableKey, false}, {kSelectAllEnableKey, true}}
            << QList<bool>{true, false, true, false, true};
        QTest::newRow("another Bool beside them") << false << UserInfo{{"OtherEnable", true}, {kCopyEnableKey, true}}
                                                  << QList<bool>{false, true, false, false, false};
        QTest::newRow("a text among Bools")
            << false << UserInfo{{kCutEnableKey, true}, {kCopyEnableKey, true}, {kPasteEnableKey, std::string("true")}}
            << QList<bool>{false, false, false, false, false};
        QTest::newRow("an integer among Bools") << true << UserInfo{{kCutEnableKey, false}, {kDeleteEnableKey, 0}}
                                                << QList<bool>{true, true, true, true, true};
        QTest::newRow("the null object") << true << UserInfo{{kPasteEnableKey, NullObject{}}}
                                         << QList<bool>{true, true, true, true, true};
        QTest::newRow("none") << true << UserInfo{} << QList<bool>{true, true, true, true, true};
    }
    void adjustEditMenu() {
        QFETCH(bool, startEnabled);
        QFETCH(UserInfo, userInfo);
        QFETCH(QList<bool>, expected);
        Launched launched;
        launched.adjustEditMenu(startEnabled);
        QCOMPARE(launched.editItems(), QList<bool>(5, startEnabled));

        launched.appwise.notifications()->post(quorvel::kAdjustEditMenuNotification, userInfo);

        QCOMPARE(launched.editItems(), expected);
    }

    // Widgets belong to the main thread: a post from elsewhere reaches the
    // menu there.
    void adjustEditMenuFromAnotherThreadReachesTheMainThread() {
        Launched launched;
        std::thread poster([&] {
            launched.appwise.notifications()->post(quorvel::kAdjustEditMenuNotification,
                                                   {{quorvel::kDeleteEnableKey, true}});
        });
        poster.join();
        QTRY_COMPARE(launched.editItems(), QList<bool>({false, false, false, true, false}));
    }

    void newAccountOnlyWhileLoggedOut() {
        constexpr char kPassword[] = "delegate-pw";
        const std::string user = testsupport::uniqueName("app-delegate");
        devserver::addDemoUser(testsupport::sharedDevserver().server().users(), user, kPassword);
        Launched launched;
        QAction* newAccount = launched.delegate->miCreateNewUser();
        QVERIFY(newAccount->isEnabled());
        auto& fast = *launched.appwise.engine(CommTasks::fastTask);
        auto& slow = *launched.appwise.engine(CommTasks::slowTask);

        fast.auth_add(user, SecretBytes::fromText(kPassword), ostrelcomm::SRPAuthMode::new_);
        QTRY_VERIFY_WITH_TIMEOUT(!newAccount->isEnabled(), kGuardMs);
        QVERIFY(launched.appwise.authenticated());

        fast.auth_logout();
        slow.auth_logout();
        QTRY_VERIFY_WITH_TIMEOUT(newAccount->isEnabled(), kGuardMs);
        QVERIFY(!launched.appwise.authenticated());
    }

    void theLoginSheetIsAskedForAtLaunchWhenSet_data() {
        QTest::addColumn<bool>("automaticAccess");
        QTest::addColumn<int>("requests");
        QTest::newRow("automatic access") << true << 1;
        QTest::newRow("no automatic access") << false << 0;
    }
    void theLoginSheetIsAskedForAtLaunchWhenSet() {
        QFETCH(bool, automaticAccess);
        QFETCH(int, requests);
        Launched launched(automaticAccess);
        QCOMPARE(static_cast<int>(launched.posted.all().size()), requests);
        if (requests) QCOMPARE(launched.posted.names().front(), std::string(quorvel::kShowLoginSheetNotification));
    }

    // A change of the login state on its way to the main thread when the
    // delegate goes finds no delegate, and the delegate leaves no observer.
    void theDelegateLeavesNothingBehind() {
        Launched launched;
        const auto& center = *launched.appwise.notifications();
        const std::size_t statusObservers = center.observerCount(quorvel::kAuthenticationStatusChangedNotification);
        QCOMPARE(center.observerCount(quorvel::kAdjustEditMenuNotification), std::size_t{1});
        std::thread engine(
            [&] { launched.appwise.notifications()->post(quorvel::kAuthenticationStatusChangedNotification); });
        engine.join();

        launched.delegate.reset();
        QCoreApplication::processEvents();

        QCOMPARE(center.observerCount(quorvel::kAdjustEditMenuNotification), std::size_t{0});
        QCOMPARE(center.observerCount(quorvel::kAuthenticationStatusChangedNotification), statusObservers - 1);
        // Its commands went with it; the window's items stay, and say nothing.
        auto* newAccount = launched.window.findChild<QAction*>("miCreateNewUser");
        QVERIFY(newAccount);
        newAccount->trigger();
        QVERIFY(launched.posted.all().empty());
    }
};

QTEST_MAIN(AppDelegateTest)
#include "AppDelegate_test.moc"
