#pragma once

#include <QMainWindow>
#include <QMetaObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

#include "app/sheets/LoginViewController.h"
#include "app/utils/BiometryProvider.h"
#include "app/utils/EngineBridge.h"
#include "platform/NotificationCenter.h"

class QAction;

namespace quorvel {

// The program's main window, titled "Quorvel Connect".
//
// Its toolbar's Login/Logout action (tbLoginLogout) logs out when a session
// is open, and otherwise logs in: through the biometric check when the
// machine has biometry and the user chose it, else with the login sheet. Its
// label follows "authenticationStatusChanged" ("Login" or "Logout"), never
// the press itself. "showLoginSheet" opens the login sheet.
//
// Biometric login: after the machine's biometric check passes, the
// credentials stored in the keychain are logged in on the fast engine, and
// the window follows that login alone: its end refreshes the remote listing
// ("actionRefresh") or shows "Login-Error". A check the user cannot pass now,
// or one where they chose the password, asks for the login sheet instead;
// one they cancelled does nothing.
//
// On the main thread only.
class MainWindow : public QMainWindow {
    Q_OBJECT

public:
    // Follows the application's notifications of Appwise::shared() from now
    // on.
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    QAction* tbLoginLogout() const { return tbLoginLogout_; }
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

signals:
    // The login sheet is wanted, for a typed login.
    void loginSheetRequested();

private:
    void biometricCheckEnded(const std::optional<BiometryError>& error);
    void loginWithStoredCredentials();
    void loginEnded(const LoginEvent& event);
    // Opens the login sheet on this window, unless one is on show already.
    void showLoginSheet();
    // On the main thread, after "authenticationStatusChanged".
    void authenticationStatusChanged();

    QAction* tbLoginLogout_ = nullptr;
    QPointer<LoginViewController> loginSheet_;
    // The observers on the application's center, removed when the window goes.
    std::shared_ptr<ostrelcomm::NotificationCenter> center_;
    std::vector<ostrelcomm::NotificationCenter::Token> tokens_;
    // The registration of loginEnded, while the window follows a login.
    QMetaObject::Connection authObserver_;
};

}  // namespace quorvel
