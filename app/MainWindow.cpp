#include "app/MainWindow.h"

#include <QPointer>

#include <string>
#include <utility>

#include "app/Extensions/Localize.h"
#include "app/Extensions/QuorvelCredentials.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/BiometricAuthentication.h"
#include "app/utils/PlatformInfo.h"
#include "app/utils/RunOnMain.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"

namespace quorvel {

namespace {

constexpr char kAlertIcon[] = "NSInfo";

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Quorvel Connect"));
}

MainWindow::~MainWindow() = default;

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

void MainWindow::showLoginSheet() {
    emit loginSheetRequested();
}

}  // namespace quorvel
