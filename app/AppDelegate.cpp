#include "app/AppDelegate.h"

#include <QCoreApplication>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QString>

#include <any>
#include <typeinfo>
#include <utility>

#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/RunOnMain.h"

namespace quorvel {

namespace {

QString menuText(const char* key) { return QString::fromStdString(localize(key)); }

void post(const char* name) { Appwise::shared().notifications()->post(name); }

}  // namespace

AppDelegate::AppDelegate(QMainWindow* window, QObject* parent) : QObject(parent) {
    if (window) buildMenus(*window);
}

AppDelegate::~AppDelegate() {
    // The login state's observer may be running on an engine thread now: it
    // reaches the delegate only through a guarded pointer, on the main thread.
    if (center_)
        for (const auto token : tokens_) center_->removeObserver(token);
}

// --- menus -----------------------------------------------------------------------------

QAction* AppDelegate::addCommand(QMenu& menu, const char* textKey, const char* objectName,
                                 void (AppDelegate::*command)()) {
    QAction* action = menu.addAction(menuText(textKey));
    action->setObjectName(QString::fromLatin1(objectName));
    connect(action, &QAction::triggered, this, command);
    return action;
}

void AppDelegate::buildMenus(QMainWindow& window) {
    QMenuBar* bar = window.menuBar();

    // The commands without an outlet are named after their command.
    QMenu* application = bar->addMenu(menuText("menu.application"));
    addCommand(*application, "menu.about", "aboutApp", &AppDelegate::aboutApp)->setMenuRole(QAction::AboutRole);
    application->addSeparator();
    QAction* preferences =
        addCommand(*application, "menu.preferences", "showPreferences", &AppDelegate::showPreferences);
    preferences->setShortcut(QKeySequence::Preferences);
    preferences->setMenuRole(QAction::PreferencesRole);
    miCreateNewUser_ = addCommand(*application, "menu.newAccount", "miCreateNewUser", &AppDelegate::newAccount);
    application->addSeparator();
    // In place of the platform's own Quit: it ends the event loop and posts
    // nothing.
    QAction* quit = application->addAction(menuText("menu.quit"));
    quit->setObjectName(QStringLiteral("terminate"));
    quit->setShortcut(QKeySequence::Quit);
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [] { QCoreApplication::quit(); });

    QMenu* edit = bar->addMenu(menuText("menu.edit"));
    miCut_ = addCommand(*edit, "menu.cut", "miCut", &AppDelegate::cutItems);
    miCopy_ = addCommand(*edit, "menu.copy", "miCopy", &AppDelegate::copyItems);
    miPaste_ = addCommand(*edit, "menu.paste", "miPaste", &AppDelegate::pasteItems);
    miDelete_ = addCommand(*edit, "menu.delete", "miDelete", &AppDelegate::deleteItems);
    edit->addSeparator();
    miSelectAll_ = addCommand(*edit, "menu.selectAll", "miSelectAll", &AppDelegate::selectAll);
    miCut_->setShortcut(QKeySequence::Cut);
    miCopy_->setShortcut(QKeySequence::Copy);
    miPaste_->setShortcut(QKeySequence::Paste);
    miDelete_->setShortcut(QKeySequence::Delete);
    miSelectAll_->setShortcut(QKeySequence::SelectAll);
    // Until the main window says what may be edited.
    for (QAction* item : {miCut_.data(), miCopy_.data(), miPaste_.data(), miDelete_.data(), miSelectAll_.data()})
        item->setEnabled(false);
}

void AppDelegate::aboutApp() { post(kActionShowAboutNotification); }
void AppDelegate::showPreferences() { post(kActionShowPreferencesNotification); }
void AppDelegate::newAccount() { post(kActionCreateNewUserNotification); }
void AppDelegate::cutItems() { post(kCutRemoteItemsNotification); }
void AppDelegate::copyItems() { post(kCopyRemoteItemsNotification); }
void AppDelegate::pasteItems() { post(kPasteRemoteItemsNotification); }
void AppDelegate::deleteItems() { post(kDeleteRemoteItemsNotification); }
void AppDelegate::selectAll() { post(kSelectAllNotification); }

// --- launch ----------------------------------------------------------------------------

void AppDelegate::applicationDidFinishLaunching() {
    Appwise& appwise = Appwise::shared();
    center_ = appwise.notifications();
    // Shared instances are never destroyed, so the plain pointer stays good.
    Appwise* state = &appwise;
    const QPointer<AppDelegate> self(this);

    // Posted on the thread of the engine that ended a login or logout. The
    // state is read on the main thread, so that of two quick changes the
    // later one is what the menu shows.
    tokens_.push_back(center_->addObserver(kAuthenticationStatusChangedNotification,
                                           [self, state](const ostrelcomm::Notification&) {
                                               runOnMain([self, state] {
                                                   if (!self || !self->miCreateNewUser_) return;
                                                   // A new account only while logged out.
                                                   self->miCreateNewUser_->setEnabled(!state->authenticated());
                                               });
                                           }));

    if (appwise.setup().automaticAccessAtStartup) center_->post(kShowLoginSheetNotification);

    tokens_.push_back(center_->addObserver(kAdjustEditMenuNotification, [self](const ostrelcomm::Notification& n) {
        // Posted on the main thread; from anywhere else the menu is changed
        // there.
        if (onMainThread()) {
            if (self) self->adjustEditMenu(n.userInfo);
            return;
        }
        runOnMain([self, userInfo = n.userInfo] {
            if (self) self->adjustEditMenu(userInfo);
        });
    }));
}

void AppDelegate::adjustEditMenu(const ostrelcomm::UserInfo& userInfo) {
    // Bools only: a userInfo with any other value says nothing.
    for (const auto& [key, value] : userInfo)
        if (value.type() != typeid(bool)) return;
    const std::pair<const char*, QPointer<QAction>*> items[] = {
        {kCutEnableKey, &miCut_},       {kCopyEnableKey, &miCopy_},           {kPasteEnableKey, &miPaste_},
        {kDeleteEnableKey, &miDelete_}, {kSelectAllEnableKey, &miSelectAll_},
    };
    for (const auto& [key, item] : items) {
        const auto* enabled = ostrelcomm::userInfoValue<bool>(userInfo, key);
        if (enabled && *item) (*item)->setEnabled(*enabled);
    }
}

}  // namespace quorvel
