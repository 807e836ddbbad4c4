#include "app/window/MainWindow.h"

#include <QAction>
#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QToolBar>

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

bool onMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(QStringLiteral("Quorvel Connect"));
    // Without content of its own yet, the window would open at the size of
    // its toolbar; the login sheet and later the browser need the room.
    resize(960, 640);

    QToolBar* toolBar = addToolBar(QString::fromStdString(localize("ToolbarTitle")));
    toolBar->setObjectName(QStringLiteral("toolBar"));
    toolBar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    tbLoginLogout_ = toolBar->addAction(QString::fromStdString(localize("Login")));
    tbLoginLogout_->setObjectName(QStringLiteral("tbLoginLogout"));
    connect(tbLoginLogout_, &QAction::triggered, this, &MainWindow::goLoginLogout);

    center_ = Appwise::shared().notifications();
    const QPointer<MainWindow> self(this);
    // Posted on the thread of the engine that ended a login or a logout. The
    // state is read on the main thread, so that of two quick changes the
    // later one is what the label shows.
    tokens_.push_back(center_->addObserver(kAuthenticationStatusChangedNotification,
                                           [self](const ostrelcomm::Notification&) {
                                               runOnMain([self] {
                                                   if (self) self->authenticationStatusChanged();
                                               });
                                           }));
    // Posted on the main thread at launch; from anywhere else the sheet is
    // opened there.
    tokens_.push_back(center_->addObserver(kShowLoginSheetNotification, [self](const ostrelcomm::Notification&) {
        if (onMainThread()) {
            if (self) self->showLoginSheet();
            return;
        }
        runOnMain([self] {
            if (self) self->showLoginSheet();
        });
    }));
}

MainWindow::~MainWindow() {
    // An observer running now on an engine thread reaches the window only
    // through a guarded pointer, on the main thread.
    for (const auto token : tokens_) center_->removeObserver(token);
}

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

void MainWindow::authenticationStatusChanged() {
    const bool authenticated = Appwise::shared().authenticated();
    tbLoginLogout_->setText(QString::fromStdString(localize(authenticated ? "Logout" : "Login")));
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

void MainWindow::showLoginSheet() {
    emit loginSheetRequested();
    // One sheet at a time: a second one would start a second automatic login.
    if (loginSheet_ && loginSheet_->isVisible()) return loginSheet_->raise();
    loginSheet_ = new LoginViewController(this);
    loginSheet_->setAttribute(Qt::WA_DeleteOnClose);
    loginSheet_->open();
}

}  // namespace quorvel
