#pragma once

#include <QMainWindow>
#include <QMetaObject>

#include <optional>

#include "app/utils/BiometryProvider.h"
#include "app/utils/EngineBridge.h"

namespace quorvel {

// The program's main window, titled "Quorvel Connect".
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
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

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
    void showLoginSheet();

    // The registration of loginEnded, while the window follows a login.
    QMetaObject::Connection authObserver_;
};

}  // namespace quorvel
