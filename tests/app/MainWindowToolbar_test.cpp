// The main window's toolbar on the offscreen platform: the logged-out look
// after load (the Edit menu too), the items following the login, the
// selection, the remote folder, the clipboard and the upload state; each
// item doing its one thing; sheets opened window-modal once per trigger, an
// unregistered one not at all; the Edit menu's commands reaching the edits.

#include <QAction>
#include <QDialog>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "RemoteRecords.h"
#include "StandInTestSupport.h"
#include "app/AppDelegate.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/Pasteboard.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainWindow.h"
#include "app/window/SceneFactory.h"
#include "support/NotificationRecorder.h"
#include "tree/RemoteItemType.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::MainWindow;
using quorvel::SceneFactory;
using quorvel::ToolbarItem;

namespace {

using enum ToolbarItem;

// The items enabled now, by name.
std::vector<std::string> enabledItems(const MainWindow& window) {
    std::vector<std::string> out;
    for (const ToolbarItem item : quorvel::kToolbarItems)
        if (window.toolbarItem(item)->isEnabled()) out.emplace_back(quorvel::name(item));
    return out;
}

std::vector<std::string> names(std::initializer_list<ToolbarItem> items) {
    std::vector<std::string> out;
    for (const ToolbarItem item : quorvel::kToolbarItems)
        for (const ToolbarItem listed : items)
            if (item == listed) out.emplace_back(quorvel::name(item));
    return out;
}

// The Edit menu items enabled now: "cut copy paste delete selectAll" order.
std::string editMenu(const quorvel::AppDelegate& delegate) {
    std::string out;
    for (QAction* item : {delegate.miCut(), delegate.miCopy(), delegate.miPaste(), delegate.miDelete(),
                          delegate.miSelectAll()})
        out += item->isEnabled() ? '+' : '-';
    return out;
}

// The Login item shows the named image.
bool showsImage(const MainWindow& window, const char* name) {
    const QImage expected = quorvel::tintedImage(quorvel::namedImage(QString::fromLatin1(name)),
                                                 window.palette().color(QPalette::ButtonText));
    const QImage shown = window.tbLoginLogout()->icon().pixmap(expected.size()).toImage();
    return shown.convertToFormat(QImage::Format_ARGB32) == expected.convertToFormat(QImage::Format_ARGB32);
}

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

int countOf(const testsupport::NotificationRecorder& recorder, const char* name) {
    int n = 0;
    for (const auto& posted : recorder.all()) n += posted.name == name;
    return n;
}

// A trigger of a sheet: an application notification, or a toolbar item.
struct SceneTrigger {
    const char* notification = nullptr;
    std::optional<ToolbarItem> item;
};

}  // namespace

Q_DECLARE_METATYPE(SceneTrigger)

class MainWindowToolbarTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("toolbar"), presenter));
    }

    void theWindowLoadsLoggedOut() {
        MainWindow first;
        quorvel::AppDelegate delegate(&first);
        delegate.applicationDidFinishLaunching();
        // A selection changes nothing of the look at load.
        appwise->selectedItems().setOwnElements({ownItem("f", ostrelcomm::RemoteItemType::FILE)});
        for (QAction* item : {delegate.miCut(), delegate.miCopy(), delegate.miPaste(), delegate.miDelete(),
                              delegate.miSelectAll()})
            item->setEnabled(true);

        MainWindow window;

        QCOMPARE(enabledItems(window), names({tbLoginLogout, tbNewLocalDir}));
        QCOMPARE(window.tbLoginLogout()->text(), localized("Login"));
        QVERIFY(showsImage(window, "btn-logout"));
        QVERIFY(!showsImage(window, "btn-login"));
        QCOMPARE(editMenu(delegate), std::string("-----"));
        for (const ToolbarItem item : quorvel::kToolbarItems)
            QCOMPARE(window.toolbarItem(item)->objectName().toStdString(), std::string(quorvel::name(item)));
    }

    // Logged in, the items follow the selection, the remote folder, the
    // clipboard and the upload state; logged out again, only Login.
    void theItemsFollowTheStateOfTheWindow() {
        StandInAccount account("toolbar-follow");
        MainWindow window;
        quorvel::AppDelegate delegate(&window);
        delegate.applicationDidFinishLaunching();
        QVERIFY(logIn(*appwise, account));

        QTRY_COMPARE_WITH_TIMEOUT(window.tbLoginLogout()->text(), localized("Logout"), kStandInGuardMs);
        QVERIFY(showsImage(window, "btn-login"));
        QCOMPARE(enabledItems(window),
                 names({tbRefresh, tbNewRemoteDirectory, tbAccountInformations, tbLoginLogout, tbNewLocalDir}));

        auto& selected = appwise->selectedItems();
        selected.setOwnElements({ownItem("d", ostrelcomm::RemoteItemType::DIRECTORY)});
        QVERIFY(!window.toolbarItem(tbShare)->isEnabled());
        selected.setOwnElements(
            {ownItem("d", ostrelcomm::RemoteItemType::DIRECTORY), ownItem("f", ostrelcomm::RemoteItemType::FILE)});
        QCOMPARE(enabledItems(window),
                 names({tbShare, tbRefresh, tbNewRemoteDirectory, tbDownload, tbRemoteItemInfo, tbRenameItem,
                        tbCopyItem, tbCutItem, tbDeleteItem, tbAccountInformations, tbLoginLogout, tbNewLocalDir}));
        QCOMPARE(editMenu(delegate), std::string("++-+-"));

        window.toolbarItem(tbCopyItem)->trigger();
        QVERIFY(window.toolbarItem(tbPasteItem)->isEnabled());
        QCOMPARE(editMenu(delegate), std::string("++++-"));

        // Inside the shares node: no new folder and no paste.
        appwise->remotePath().append("Shared with me", quorvel::kSharesNodeUUID);
        QVERIFY(!window.toolbarItem(tbNewRemoteDirectory)->isEnabled());
        QVERIFY(!window.toolbarItem(tbPasteItem)->isEnabled());
        appwise->remotePath().clean();
        QVERIFY(window.toolbarItem(tbNewRemoteDirectory)->isEnabled());
        QVERIFY(window.toolbarItem(tbPasteItem)->isEnabled());

        // An upload running: no download, upload or paste, also after a
        // clipboard change.
        selected.setLocalFiles({quorvel::Metadata{}});
        QVERIFY(window.toolbarItem(tbUpload)->isEnabled());
        appwise->setFileXferInProgress(true);
        appwise->notifications()->post(quorvel::kFileXferInProgressNotification);
        window.toolbarItem(tbCopyItem)->trigger();
        for (const ToolbarItem item : {tbDownload, tbUpload, tbPasteItem})
            QVERIFY2(!window.toolbarItem(item)->isEnabled(), quorvel::name(item).data());
        appwise->setFileXferInProgress(false);
        appwise->notifications()->post(quorvel::kFileXferInProgressNotification);
        QVERIFY(window.toolbarItem(tbPasteItem)->isEnabled());

        delegate.miSelectAll()->setEnabled(true);
        window.tbLoginLogout()->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(window.tbLoginLogout()->text(), localized("Login"), kStandInGuardMs);
        QCOMPARE(enabledItems(window), names({tbLoginLogout, tbNewLocalDir}));
        QVERIFY(showsImage(window, "btn-logout"));
        QCOMPARE(editMenu(delegate), std::string("-----"));
    }

    void itemsAskTheMainViewByNotification_data() {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("notification");
        QTest::newRow("refresh") << int(tbRefresh) << QString(quorvel::kActionRefreshNotification);
        QTest::newRow("upload") << int(tbUpload) << QString(quorvel::kActionSendFileToRemoteNotification);
        QTest::newRow("download") << int(tbDownload) << QString(quorvel::kActionReceiveFileFromRemoteNotification);
    }
    void itemsAskTheMainViewByNotification() {
        QFETCH(int, item);
        QFETCH(QString, notification);
        MainWindow window;
        const std::vector<std::string> all = {quorvel::kActionRefreshNotification,
                                              quorvel::kActionSendFileToRemoteNotification,
                                              quorvel::kActionReceiveFileFromRemoteNotification};
        testsupport::NotificationRecorder recorder(appwise->notifications(), all);
        QAction* action = window.toolbarItem(static_cast<ToolbarItem>(item));
        action->setEnabled(true);
        action->trigger();
        QCOMPARE(recorder.names(), std::vector<std::string>{notification.toStdString()});
        QVERIFY(recorder.all().front().userInfo.empty());
    }

    void scenesOpenWindowModalOncePerTrigger_data() {
        QTest::addColumn<SceneTrigger>("trigger");
        QTest::addColumn<QString>("scene");
        QTest::newRow("about") << SceneTrigger{quorvel::kActionShowAboutNotification, {}} << "aboutApp";
        QTest::newRow("terms") << SceneTrigger{quorvel::kShowTOSSheetNotification, {}} << "gcAcceptance";
        QTest::newRow("preferences") << SceneTrigger{quorvel::kActionShowPreferencesNotification, {}}
                                     << "preferences";
        QTest::newRow("new account") << SceneTrigger{quorvel::kActionCreateNewUserNotification, {}}
                                     << "createNewUser";
        QTest::newRow("share") << SceneTrigger{nullptr, tbShare} << "shareItem";
        QTest::newRow("new remote folder") << SceneTrigger{nullptr, tbNewRemoteDirectory} << "newRemoteDirectory";
        QTest::newRow("information") << SceneTrigger{nullptr, tbRemoteItemInfo} << "itemInfo";
        QTest::newRow("rename") << SceneTrigger{nullptr, tbRenameItem} << "renameItem";
        QTest::newRow("account") << SceneTrigger{nullptr, tbAccountInformations} << "userProfile";
        QTest::newRow("new local folder") << SceneTrigger{nullptr, tbNewLocalDir} << "createLocalDirectory";
    }
    void scenesOpenWindowModalOncePerTrigger() {
        QFETCH(SceneTrigger, trigger);
        QFETCH(QString, scene);
        // Terms never accepted are asked for as the window appears.
        appwise->setGcAccepted(true);
        MainWindow window;
        window.show();
        const auto fire = [&] {
            if (trigger.notification) return appwise->notifications()->post(trigger.notification);
            QAction* action = window.toolbarItem(*trigger.item);
            action->setEnabled(true);
            action->trigger();
        };
        std::vector<QWidget*> parents;
        SceneFactory::shared().registerScene(scene.toStdString(), [&](QWidget* parent) {
            parents.push_back(parent);
            return new QDialog(parent);
        });

        fire();
        fire();

        QCOMPARE(parents, (std::vector<QWidget*>{&window, &window}));
        const auto dialogs = window.findChildren<QDialog*>();
        QCOMPARE(dialogs.size(), 2);
        for (const QDialog* dialog : dialogs) {
            QVERIFY(dialog->isVisible());
            QCOMPARE(dialog->windowModality(), Qt::WindowModal);
            QCOMPARE(dialog->parentWidget(), &window);
        }
        for (QDialog* dialog : dialogs) dialog->close();
        QTRY_COMPARE(window.findChildren<QDialog*>().size(), 0);

        // Without a maker for the scene: nothing opens, nothing is said.
        SceneFactory::shared().unregisterScene(scene.toStdString());
        fire();
        QCOMPARE(window.findChildren<QDialog*>().size(), 0);
        QCOMPARE(presenter->shown().size(), std::size_t{0});
        QCOMPARE(parents.size(), std::size_t{2});
    }

    // The Edit menu's commands reach the window's edits.
    void theEditMenuReachesTheEdits() {
        MainWindow window;
        quorvel::AppDelegate delegate(&window);
        delegate.applicationDidFinishLaunching();
        testsupport::NotificationRecorder recorder(appwise->notifications(), {quorvel::kPasteboardChangedNotification});
        const auto file = ownItem("f", ostrelcomm::RemoteItemType::FILE);
        appwise->selectedItems().setOwnElements({file});
        auto& board = appwise->pasteboard();

        // Nothing held: a paste does nothing and says nothing.
        delegate.miPaste()->setEnabled(true);
        delegate.miPaste()->trigger();
        QCOMPARE(countOf(recorder, quorvel::kPasteboardChangedNotification), 0);
        QVERIFY(!window.copyChainRunning());

        delegate.miCut()->setEnabled(true);
        delegate.miCut()->trigger();
        QCOMPARE(board.operationType(), quorvel::Pasteboard::OperationType::remoteCut);
        QVERIFY(board.uuidInPasteboard("f"));

        delegate.miCopy()->setEnabled(true);
        delegate.miCopy()->trigger();
        QCOMPARE(board.operationType(), quorvel::Pasteboard::OperationType::remoteOwnCopy);
        QCOMPARE(countOf(recorder, quorvel::kPasteboardChangedNotification), 2);

        presenter->answerNext({0});
        delegate.miDelete()->setEnabled(true);
        delegate.miDelete()->trigger();
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, localized("DeleteItemConfirm"));
        QCOMPARE(presenter->shown()[0].window, &window);
    }

private:
    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
};

QTEST_MAIN(MainWindowToolbarTest)
#include "MainWindowToolbar_test.moc"
