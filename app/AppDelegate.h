#pragma once

#include <QAction>
#include <QObject>
#include <QPointer>

#include <memory>
#include <vector>

#include "platform/NotificationCenter.h"

class QMainWindow;
class QMenu;

namespace quorvel {

class Appwise;

// Starts the shared state at launch, opens the login sheet when automatic
// access is set, and owns the main window's menu bar: an application menu
// (About, Preferences, New Account, Quit) and an Edit menu (Cut, Copy, Paste,
// Delete, Select All). Each command but Quit is an application notification;
// the Edit items follow "adjustEditMenu" and New Account the login state.
//
// Made on the main thread after the main window, so that the window's
// observers exist before applicationDidFinishLaunching() posts to them.
// The menu items are the window's; the delegate holds them weakly, and their
// actions end with the delegate.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    explicit AppDelegate(QMainWindow* window, QObject* parent = nullptr);
    ~AppDelegate() override;
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Touches Appwise::shared(), follows the login state, posts
    // "showLoginSheet" when the settings ask for automatic access, and
    // follows "adjustEditMenu". Once, on the main thread.
    void applicationDidFinishLaunching();

    // The menu items that change state (their object names are these).
    QAction* miCreateNewUser() const { return miCreateNewUser_; }
    QAction* miCut() const { return miCut_; }
    QAction* miCopy() const { return miCopy_; }
    QAction* miPaste() const { return miPaste_; }
    QAction* miDelete() const { return miDelete_; }
    QAction* miSelectAll() const { return miSelectAll_; }

private slots:
    void aboutApp();
    void showPreferences();
    void newAccount();
    void cutItems();
    void copyItems();
    void pasteItems();
    void deleteItems();
    void selectAll();

private:
    void buildMenus(QMainWindow& window);
    QAction* addCommand(QMenu& menu, const char* textKey, const char* objectName, void (AppDelegate::*command)());
    // On the main thread.
    void adjustEditMenu(const ostrelcomm::UserInfo& userInfo);

    QPointer<QAction> miCreateNewUser_;
    QPointer<QAction> miCut_;
    QPointer<QAction> miCopy_;
    QPointer<QAction> miPaste_;
    QPointer<QAction> miDelete_;
    QPointer<QAction> miSelectAll_;

    // The observers on Appwise's center, removed when the delegate goes.
    std::shared_ptr<ostrelcomm::NotificationCenter> center_;
    std::vector<ostrelcomm::NotificationCenter::Token> tokens_;
};

}  // namespace quorvel
