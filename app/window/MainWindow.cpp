#include "app/window/MainWindow.h"

#include <QAction>
#include <QIcon>
#include <QPixmap>
#include <QPointer>
#include <QToolBar>

#include <algorithm>
#include <any>
#include <string>
#include <utility>

#include "app/Extensions/Image.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/QuorvelCredentials.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/BiometricAuthentication.h"
#include "app/utils/CopyDirBridge.h"
#include "app/utils/PlatformInfo.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/RunOnMain.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainViewController.h"
#include "app/window/SceneFactory.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "tree/RemoteItemType.h"

namespace quorvel {

namespace {

constexpr char kAlertIcon[] = "NSInfo";

// Each toolbar item's label, a key of "Localizable"; Login's changes with the
// login state.
const char* labelKey(ToolbarItem item) {
    switch (item) {
        case ToolbarItem::tbShare: return "tb.share";
        case ToolbarItem::tbRefresh: return "tb.refresh";
        case ToolbarItem::tbNewRemoteDirectory: return "tb.newRemoteDirectory";
        case ToolbarItem::tbDownload: return "tb.download";
        case ToolbarItem::tbUpload: return "tb.upload";
        case ToolbarItem::tbRemoteItemInfo: return "tb.remoteItemInfo";
        case ToolbarItem::tbRenameItem: return "tb.renameItem";
        case ToolbarItem::tbCopyItem: return "tb.copyItem";
        case ToolbarItem::tbCutItem: return "tb.cutItem";
        case ToolbarItem::tbPasteItem: return "tb.pasteItem";
        case ToolbarItem::tbDeleteItem: return "tb.deleteItem";
        case ToolbarItem::tbAccountInformations: return "tb.accountInformations";
        case ToolbarItem::tbLoginLogout: return "Login";
        case ToolbarItem::tbNewLocalDir: return "tb.newLocalDir";
    }
    return "";
}

void post(const char* name) { Appwise::shared().notifications()->post(name); }

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Quorvel Connect"));
    resize(960, 640);
    buildToolBar();

    Appwise& appwise = Appwise::shared();
    center_ = appwise.notifications();
    // From now on every change of the remote folder on show is announced,
    // and so is every change of the clipboard.
    appwise.remotePath().setNotifications(center_, kRemotePathChangedNotification);
    appwise.pasteboard().setNotificationCenter(center_);
    appwise.pasteboard().setNotificationName(kPasteboardChangedNotification);

    viewController_ = new MainViewController(this);
    setCentralWidget(viewController_);

    // "authenticationStatusChanged" comes on the thread of the engine that
    // ended a login or a logout, with its lock held, and so on the main
    // thread too for a logout: the state is read later, from the event loop,
    // so that of two quick changes the later one is what the window shows.
    // The others come on the main thread.
    observe(kAuthenticationStatusChangedNotification, &MainWindow::followState, true);
    observe(kChangedFileSelectionNotification, &MainWindow::followState);
    observe(kPasteboardChangedNotification, &MainWindow::followPasteboard);
    observe(kRemotePathChangedNotification, &MainWindow::followState);
    observe(kFileXferInProgressNotification, &MainWindow::followState);
    observe(kActionShowAboutNotification, [](MainWindow& w) { w.openScene(kAboutAppScene); });
    observe(kShowLoginSheetNotification, &MainWindow::showLoginSheet);
    observe(kShowTOSSheetNotification, &MainWindow::showTOS);
    observe(kActionShowPreferencesNotification, [](MainWindow& w) { w.openScene(kPreferencesScene); });
    observe(kActionCreateNewUserNotification, [](MainWindow& w) { w.openScene(kCreateNewUserScene); });
    observe(kCutRemoteItemsNotification, &MainWindow::goCutRemoteItems);
    observe(kCopyRemoteItemsNotification, &MainWindow::goCopyRemoteItems);
    observe(kPasteRemoteItemsNotification, &MainWindow::goPasteRemoteItems);
    observe(kDeleteRemoteItemsNotification, &MainWindow::deleteItem);

    // A paste of copied items goes on when the copy it waits on has
    // completed: a folder by the copier's report, a file by its job's record
    // in the slow engine's queue.
    connect(&viewController_->copyDirBridge(), &CopyDirBridge::copyCompleted, this,
            &MainWindow::folderCopyCompleted);
    connect(&viewController_->copyDirBridge(), &CopyDirBridge::copyError, this, [this] {
        if (copyChain_ && copyChain_->folderCopy) endCopyChain();
    });
    connect(&appwise.bridge(CommTasks::slowTask), &EngineBridge::queueChanged, this, &MainWindow::slowQueueChanged);

    adjustToolBar(false, false);
}

MainWindow::~MainWindow() {
    // An observer running now on an engine thread reaches the window only
    // through a guarded pointer, on the main thread.
    for (const auto token : tokens_) center_->removeObserver(token);
}

void MainWindow::buildToolBar() {
    QToolBar* toolBar = addToolBar(QString::fromStdString(localize("ToolbarTitle")));
    toolBar->setObjectName(QStringLiteral("toolBar"));
    // Only Login has an image; the others show their label alone.
    toolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolBar->setMovable(false);
    for (const ToolbarItem item : kToolbarItems) {
        // Groups: the remote folder, transfers, one item, the clipboard, the
        // account, the local folder.
        if (item == ToolbarItem::tbDownload || item == ToolbarItem::tbRemoteItemInfo ||
            item == ToolbarItem::tbCopyItem || item == ToolbarItem::tbAccountInformations ||
            item == ToolbarItem::tbNewLocalDir)
            toolBar->addSeparator();
        QAction* action = toolBar->addAction(QString::fromStdString(localize(labelKey(item))));
        action->setObjectName(QString::fromLatin1(name(item).data(), static_cast<qsizetype>(name(item).size())));
        toolbarItems_[item] = action;
    }
    const auto on = [this](ToolbarItem item, auto handler) {
        connect(toolbarItems_.at(item), &QAction::triggered, this, handler);
    };
    on(ToolbarItem::tbShare, &MainWindow::goShareItem);
    on(ToolbarItem::tbRefresh, [] { post(kActionRefreshNotification); });
    on(ToolbarItem::tbNewRemoteDirectory, &MainWindow::goNewRemoteDirectory);
    on(ToolbarItem::tbDownload, [] { post(kActionReceiveFileFromRemoteNotification); });
    on(ToolbarItem::tbUpload, [] { post(kActionSendFileToRemoteNotification); });
    on(ToolbarItem::tbRemoteItemInfo, &MainWindow::goRemoteItemInfo);
    on(ToolbarItem::tbRenameItem, &MainWindow::renameItem);
    on(ToolbarItem::tbCopyItem, &MainWindow::goCopyRemoteItems);
    // The toolbar's Cut cuts, as the Edit menu's does.
    on(ToolbarItem::tbCutItem, &MainWindow::goCutRemoteItems);
    on(ToolbarItem::tbPasteItem, &MainWindow::goPasteRemoteItems);
    on(ToolbarItem::tbDeleteItem, &MainWindow::deleteItem);
    on(ToolbarItem::tbAccountInformations, &MainWindow::goAccountInfo);
    on(ToolbarItem::tbLoginLogout, &MainWindow::goLoginLogout);
    on(ToolbarItem::tbNewLocalDir, &MainWindow::goNewLocalDir);
}

void MainWindow::observe(const char* name, void (MainWindow::*handler)(), bool queued) {
    observe(name, [handler](MainWindow& window) { (window.*handler)(); }, queued);
}

void MainWindow::observe(const char* name, std::function<void(MainWindow&)> handler, bool queued) {
    const QPointer<MainWindow> self(this);
    tokens_.push_back(center_->addObserver(name, [self, handler, queued](const ostrelcomm::Notification&) {
        if (!queued && onMainThread()) {
            if (self) handler(*self);
            return;
        }
        runOnMain([self, handler] {
            if (self) handler(*self);
        });
    }));
}

// --- toolbar ---------------------------------------------------------------------------

void MainWindow::followState() {
    const Appwise& appwise = Appwise::shared();
    adjustToolBar(appwise.authenticated(), !appwise.fileXferInProgress());
}

void MainWindow::followPasteboard() { adjustToolBar(std::nullopt, !Appwise::shared().fileXferInProgress()); }

void MainWindow::adjustToolBar(std::optional<bool> isAuthenticated, bool enableFileXfer) {
    Appwise& appwise = Appwise::shared();
    const SelectedItems& selected = appwise.selectedItems();
    ToolbarRules::Facts facts;
    facts.isAuthenticated = isAuthenticated;
    facts.enableFileXfer = enableFileXfer;
    facts.insideShares = appwise.remotePath().compareNode(kSharesNodeUUID, 0);
    facts.fileSelected = std::any_of(selected.ownElements().begin(), selected.ownElements().end(),
                                     [](const auto& item) { return item.type == ostrelcomm::RemoteItemType::FILE; });
    facts.own = selected.ownElements().size();
    facts.shares = selected.shares().size();
    facts.local = selected.localFiles().size();
    facts.clip = appwise.pasteboard().count();
    facts.copyChainRunning = copyChainRunning();

    const ToolbarRules::State state = ToolbarRules::decide(facts);
    for (const auto& [item, enabled] : state.enabled) toolbarItems_.at(item)->setEnabled(enabled);
    if (state.login) {
        QAction* login = tbLoginLogout();
        const QImage image = namedImage(QString::fromStdString(state.login->image));
        login->setIcon(QIcon(QPixmap::fromImage(tintedImage(image, palette().color(QPalette::ButtonText)))));
        login->setText(QString::fromStdString(localize(state.login->label)));
    }
    ostrelcomm::UserInfo editMenu;
    for (const auto& [key, enabled] : state.editMenu) editMenu.emplace(key, enabled);
    center_->post(kAdjustEditMenuNotification, std::move(editMenu));
}

// --- sheets ----------------------------------------------------------------------------

void MainWindow::openScene(const char* identifier) { SceneFactory::shared().open(identifier, this); }

void MainWindow::goNewRemoteDirectory() { openScene(kNewRemoteDirectoryScene); }
void MainWindow::goRemoteItemInfo() { openScene(kItemInfoScene); }
void MainWindow::goShareItem() { openScene(kShareItemScene); }
void MainWindow::goAccountInfo() { openScene(kUserProfileScene); }
void MainWindow::goNewLocalDir() { openScene(kCreateLocalDirectoryScene); }
void MainWindow::renameItem() { openScene(kRenameItemScene); }
void MainWindow::showTOS() { openScene(kGCAcceptanceScene); }

void MainWindow::showLoginSheet() {
    emit loginSheetRequested();
    // The scene hands back the sheet on show, if any: one at a time.
    openScene(kGetCredentialsScene);
}

// --- login -----------------------------------------------------------------------------

void MainWindow::goLoginLogout() {
    Appwise& appwise = Appwise::shared();
    if (appwise.authenticated()) {
        // Local on both engines; the label changes when the fast engine's
        // logout is announced.
        appwise.setLoggedOut(true);
        appwise.engine(CommTasks::fastTask)->auth_logout();
        appwise.engine(CommTasks::slowTask)->auth_logout();
        return;
    }
    // The setting first: the machine's biometry is asked of the system bus.
    if (PlatformInfo::current().isOperatingSystemAtLeast(kBiometricLoginSystem) && appwise.setup().biometricLogin &&
        BiometricAuthentication::shared().supportedBiometry() != BiometrySupport::none) {
        return biometricLogin();
    }
    showLoginSheet();
}

void MainWindow::biometricLogin() {
    QPointer<MainWindow> window(this);
    BiometricAuthentication::shared().provider().evaluate(
        localize("LAuthWarning"), [window](std::optional<BiometryError> error) {
            // The reply may come on any thread, and always later than this.
            runOnMain([window, error] {
                if (window) window->biometricCheckEnded(error);
            });
        });
}

void MainWindow::biometricCheckEnded(const std::optional<BiometryError>& error) {
    if (!error) return loginWithStoredCredentials();
    if (error->domain != BiometryError::Domain::localAuthentication) return;
    switch (error->code) {
        case LAErrorCode::notInteractive:
        case LAErrorCode::biometryLockout:
        case LAErrorCode::biometryNotEnrolled:
        case LAErrorCode::userFallback:
            return showLoginSheet();
        case LAErrorCode::watchNotAvailable:
            if (PlatformInfo::current().isOperatingSystemAtLeast(kWatchNotAvailableSystem)) showLoginSheet();
            return;
        default:
            // Cancelled by the user, the system or the program, a failed
            // check, or a code this window does not know: nothing.
            return;
    }
}

void MainWindow::loginWithStoredCredentials() {
    Appwise& appwise = Appwise::shared();
    QuorvelCredentials credentials;
    // A record without a user name or a password cannot log in: it counts as
    // a failed read.
    const bool read = credentials.retrieveCredentials(appwise.keychainID()) && credentials.username &&
                      credentials.password;
    appwise.setCredentialsInKeyring(read);
    if (!read) {
        // Both access types rest on the stored credentials: left set, the
        // next Login press would fail the same way. Nothing is followed,
        // since no login starts.
        setAuthenticationObserver(false);
        AppSetup setup = appwise.setup();
        setup.biometricLogin = false;
        setup.automaticAccessAtStartup = false;
        appwise.setSetup(setup);
        if (!appwise.initializing()) appwise.saveSetup();
        Appwise::runAlert("Keyring error", "BiometricLoginErrorMsg", kAlertIcon);
        return;
    }
    setAuthenticationObserver(true);
    appwise.setUsername(*credentials.username);
    appwise.setPassword(*credentials.password);
    appwise.engine(CommTasks::fastTask)
        ->auth_add(*credentials.username, *credentials.password, ostrelcomm::SRPAuthMode::new_);
}

void MainWindow::setAuthenticationObserver(bool observe) {
    if (authObserver_) {
        disconnect(authObserver_);
        authObserver_ = {};
    }
    if (!observe) return;
    // The bridge hands the engine's notification to the main thread.
    authObserver_ = connect(&Appwise::shared().bridge(CommTasks::fastTask), &EngineBridge::srpAuthenticated, this,
                            &MainWindow::loginEnded);
}

void MainWindow::loginEnded(const LoginEvent& event) {
    if (!event.result || *event.result == ostrelcomm::auth::kInProgress) return;
    setAuthenticationObserver(false);
    if (*event.result == ostrelcomm::auth::kAuthenticated) {
        Appwise::shared().notifications()->post(kActionRefreshNotification);
    } else {
        Appwise::runAlert("Login-Error", "LoginFailureMessage", kAlertIcon);
    }
}

}  // namespace quorvel
