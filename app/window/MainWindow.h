#pragma once

#include <QMainWindow>
#include <QMetaObject>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/utils/BiometryProvider.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/Pasteboard.h"
#include "app/window/ToolbarRules.h"
#include "platform/NotificationCenter.h"

class QAction;

namespace quorvel {

class MainViewController;

// The program's main window, titled "Quorvel Connect": the toolbar, the main
// view as its content, every sheet of the program (SceneFactory, window-modal
// on this window), and the remote edits through the internal clipboard.
//
// The toolbar. Each item does one thing: a sheet, an application
// notification for the main view ("actionRefresh", "actionSendFileToRemote",
// "actionReceiveFileFromRemote"), a remote edit, or Login/Logout. Which items
// may be used follows ToolbarRules, recomputed at every change of the login,
// the selection, the remote folder on show, the clipboard and the upload
// state, and the Edit menu follows through "adjustEditMenu". Until the first
// "authenticationStatusChanged" with a session the window has the logged-out
// look: only Login (and New local folder, which needs no server).
//
// Login/Logout (tbLoginLogout) logs out when a session is open, and otherwise
// logs in: through the biometric check when the machine has biometry and the
// user chose it, else with the login sheet. Its label follows
// "authenticationStatusChanged", never the press itself.
//
// Biometric login: after the machine's biometric check passes, the
// credentials stored in the keychain are logged in on the fast engine, and
// the window follows that login alone: its end refreshes the remote listing
// ("actionRefresh") or shows "Login-Error". A check the user cannot pass now,
// or one where they chose the password, asks for the login sheet instead;
// one they cancelled does nothing.
//
// Remote edits (MainWindowEdits.cpp). Cut and Copy put the selected remote
// items on Appwise's clipboard; Paste moves cut items into the remote folder
// on show at once, or copies copied items there one after another (a file by
// the slow engine's file copy, a folder by the main view's copier), each
// started when the previous one has completed, then lists that folder again.
// A copy that fails ends the paste and lists nothing. The folder a paste goes
// to is the one on show when Paste was pressed, and a second paste is refused
// while the copies of one run. Delete removes the selected own items and the
// selected shares, each after its own confirmation.
//
// On the main thread only.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Follows the application's notifications of Appwise::shared() from now
    // on, connects its remote path and clipboard to its center, and makes the
    // main view.
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    MainViewController* viewController() const { return viewController_; }
    QAction* toolbarItem(ToolbarItem item) const { return toolbarItems_.at(item); }
    QAction* tbLoginLogout() const { return toolbarItem(ToolbarItem::tbLoginLogout); }

    // The Login/Logout action. A logout is local: both engines forget the
    // session, the fast one first, and no automatic login happens again in
    // this run.
    void goLoginLogout();
    // Starts the biometric login (the Login action takes this path when the
    // machine has biometry and the user chose it).
    void biometricLogin();
    // Follows (true) or stops following (false) the ends of the fast
    // engine's logins; following again replaces the earlier registration.
    void setAuthenticationObserver(bool observe);

    // The sheets of the toolbar.
    void goNewRemoteDirectory();
    void goRemoteItemInfo();
    void goShareItem();
    void goAccountInfo();
    void goNewLocalDir();
    void renameItem();

    // --- remote edits (MainWindowEdits.cpp) -----------------------------------------
    // Puts the selected own items on the clipboard to be moved; shared items
    // cannot be cut. With no own item selected only the next paste's
    // operation changes.
    void goCutRemoteItems();
    // Puts the selected own items on the clipboard to be copied, then the
    // selected shared items in their place: with both selected only the
    // shared ones stay.
    void goCopyRemoteItems();
    // Moves or copies what the clipboard holds into the remote folder on
    // show, and empties the clipboard. Nothing while the copies of an earlier
    // paste still run.
    void goPasteRemoteItems();
    // Asks, then deletes the selected own items (folders with their content);
    // `then` runs once the user has answered, whatever the answer.
    void goDeleteRemoteItems(std::function<void()> then = {});
    // Asks, then removes the selected shares.
    void goRemoveShare();
    // Delete: the own items, then the shares, one confirmation after the other.
    void deleteItem();
    // A paste of copied items is still copying.
    bool copyChainRunning() const { return copyChain_.has_value(); }

signals:
    // The login sheet is wanted, for a typed login.
    void loginSheetRequested();

private:
    // The toolbar's items, in their order.
    void buildToolBar();
    // Registers `handler` for an application notification; it runs on the
    // main thread: at once when posted there, unless `queued`, else from the
    // event loop.
    void observe(const char* name, void (MainWindow::*handler)(), bool queued = false);
    void observe(const char* name, std::function<void(MainWindow&)> handler, bool queued = false);
    // The item states by ToolbarRules; `isAuthenticated` absent leaves the
    // items that follow the login as they are.
    void adjustToolBar(std::optional<bool> isAuthenticated, bool enableFileXfer);
    // adjustToolBar from the login and upload states.
    void followState();
    // adjustToolBar after a clipboard change.
    void followPasteboard();
    void openScene(const char* identifier);

    void biometricCheckEnded(const std::optional<BiometryError>& error);
    void loginWithStoredCredentials();
    void loginEnded(const LoginEvent& event);
    // Opens the login sheet on this window, unless one is on show already.
    void showLoginSheet();
    void showTOS();

    // The moves of a paste after a cut, all queued at once.
    void remoteCutItems(const std::string& destination);
    // Copies the next item of the running paste, or ends it.
    void remoteCopyItems();
    void endCopyChain();
    // The slow engine's queue changed: the file copy waited on may have ended.
    void slowQueueChanged(const QueueChanges& changes);
    void folderCopyCompleted();

    // A paste of copied items: where they go, which list, how far it is, and
    // the copy it waits on (a file copy job, or the folder copier).
    struct CopyChain {
        Pasteboard::OperationType kind = Pasteboard::OperationType::none;
        std::string destination;
        Pasteboard::Iterator<ostrelcomm::RemoteItemInfo> own;
        Pasteboard::Iterator<ostrelcomm::SharedItem> shares;
        std::optional<std::string> fileCopyJob;
        bool folderCopy = false;
    };

    std::map<ToolbarItem, QAction*> toolbarItems_;
    MainViewController* viewController_ = nullptr;
    std::optional<CopyChain> copyChain_;
    // The observers on the application's center, removed when the window goes.
    std::shared_ptr<ostrelcomm::NotificationCenter> center_;
    std::vector<ostrelcomm::NotificationCenter::Token> tokens_;
    // The registration of loginEnded, while the window follows a login.
    QMetaObject::Connection authObserver_;
};

}  // namespace quorvel
