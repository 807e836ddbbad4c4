#include "app/sheets/LoginViewController.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

#include "app/Extensions/Localize.h"
#include "app/Extensions/QuorvelCredentials.h"
#include "app/Extensions/SecretText.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/RunOnMain.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "jobs/UserAuthStatus.h"

namespace quorvel {

namespace {

using ostrelcomm::SecretBytes;

constexpr char kAlertIcon[] = "NSInfo";
constexpr char kEyeShown[] = "eye-blue";
constexpr char kEyeHidden[] = "eye-black";

QString text(const char* key) { return QString::fromStdString(localize(key)); }

QIcon eyeIcon(const char* name) { return QIcon(QStringLiteral(":/images/%1.png").arg(QLatin1String(name))); }

ostrelcomm::SrvComm& engine(CommTasks task) { return *Appwise::shared().engine(task); }

}  // namespace

LoginViewController::LoginViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("getCredentials"));
    buildView();
    viewDidLoad();
}

LoginViewController::~LoginViewController() { stopObserving(); }

void LoginViewController::buildView() {
    setWindowTitle(text("LoginSheetTitle"));

    txtUsername_ = new QLineEdit(this);
    txtUsername_->setObjectName(QStringLiteral("txtUsername"));
    txtPassword_ = new QLineEdit(this);
    txtPassword_->setObjectName(QStringLiteral("txtPassword"));
    txtPassword_->setEchoMode(QLineEdit::Password);
    clrPassword_ = new QLineEdit(this);
    clrPassword_->setObjectName(QStringLiteral("clrPassword"));
    clrPassword_->setHidden(true);
    showPassword_ = new QToolButton(this);
    showPassword_->setObjectName(QStringLiteral("showPassword"));
    showPassword_->setIcon(eyeIcon(kEyeHidden));
    showPassword_->setProperty(kImageNameProperty, QString::fromLatin1(kEyeHidden));
    showPassword_->setToolTip(text("ShowPasswordTip"));
    serverChoice_ = new QComboBox(this);
    serverChoice_->setObjectName(QStringLiteral("serverChoice"));
    spinner_ = new QProgressBar(this);
    spinner_->setObjectName(QStringLiteral("spinner"));
    spinner_->setRange(0, 0);  // busy: it animates while shown
    spinner_->setTextVisible(false);
    spinner_->setHidden(true);
    cancelButton_ = new QPushButton(text("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    cancelAlternateTitle_ = text("Close");
    okButton_ = new QPushButton(text("OK"), this);
    okButton_->setObjectName(QStringLiteral("okButton"));
    okButton_->setDefault(true);

    auto* passwordRow = new QHBoxLayout;
    passwordRow->addWidget(txtPassword_);
    passwordRow->addWidget(clrPassword_);
    passwordRow->addWidget(showPassword_);
    auto* form = new QFormLayout;
    form->addRow(text("UsernameLabel"), txtUsername_);
    form->addRow(text("PasswordLabel"), passwordRow);
    form->addRow(text("ServerLabel"), serverChoice_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(spinner_);
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    buttons->addWidget(okButton_);
    auto* sheet = new QVBoxLayout(this);
    sheet->addLayout(form);
    sheet->addLayout(buttons);

    connect(okButton_, &QPushButton::clicked, this, &LoginViewController::confirmCredentials);
    connect(cancelButton_, &QPushButton::clicked, this, &LoginViewController::closeCredentialsPopup);
    connect(showPassword_, &QToolButton::clicked, this, &LoginViewController::showPassword);
    connect(txtPassword_, &QLineEdit::textChanged, this, &LoginViewController::txtPasswordChange);
    connect(clrPassword_, &QLineEdit::textChanged, this, &LoginViewController::clrPasswordChange);
}

void LoginViewController::viewDidLoad() {
    // The observer comes first: an automatic login queued before it could
    // end before the sheet listens, and leave the sheet open on a user who
    // is logged in.
    observeLogins();
    automaticLogin();
    serverChoice_->clear();
    for (const auto& name : engine(CommTasks::fastTask).availableURLs())
        serverChoice_->addItem(QString::fromStdString(name));
}

void LoginViewController::observeLogins() {
    authCenter_ = engine(CommTasks::fastTask).notifications();
    const QPointer<LoginViewController> self(this);
    authObserver_ = authCenter_->addObserver(
        ostrelcomm::auth::kSRPAuthenticatedNotification, [self](const ostrelcomm::Notification& notification) {
            // On the engine's thread, under its lock: read the word, and go.
            const auto* word = ostrelcomm::userInfoValue<std::string>(notification.userInfo, "Result");
            if (!word) return;
            runOnMain([self, word = *word] {
                if (self) self->loginResult(word);
            });
        });
}

void LoginViewController::automaticLogin() {
    Appwise& appwise = Appwise::shared();
    if (!appwise.setup().automaticAccessAtStartup || appwise.loggedOut()) return;
    QuorvelCredentials credentials;
    // A record without a user name or a password cannot log in: it counts as
    // a failed read.
    const bool read =
        credentials.retrieveCredentials(appwise.keychainID()) && credentials.username && credentials.password;
    appwise.setCredentialsInKeyring(read);
    if (!read) {
        AppSetup setup = appwise.setup();
        setup.automaticAccessAtStartup = false;
        appwise.setSetup(setup);
        if (!appwise.initializing()) appwise.saveSetup();
        Appwise::runAlert("Keyring error", "AutoLoginErrorMsg", kAlertIcon);
        return;
    }
    appwise.setUsername(*credentials.username);
    appwise.setPassword(*credentials.password);
    txtUsername_->setText(QString::fromStdString(*credentials.username));
    // Mirrored into the clear field, so that showing it shows the same.
    txtPassword_->setText(textOf(*credentials.password));
    // The server is left as the engines have it.
    engine(CommTasks::fastTask).auth_add(*credentials.username, *credentials.password, ostrelcomm::SRPAuthMode::new_);
}

void LoginViewController::confirmCredentials() {
    if (serverChoice_->currentIndex() < 0) {
        Appwise::runAlert("Login-NoServer", "LoginNoServerMessage", kAlertIcon);
        return;
    }
    Appwise& appwise = Appwise::shared();
    const std::string username = txtUsername_->text().toStdString();
    SecretBytes password = secretOf(passwordShown_ ? clrPassword_->text() : txtPassword_->text());
    appwise.setUsername(username);
    appwise.setPassword(password);
    const std::string server = serverChoice_->currentText().toStdString();
    engine(CommTasks::fastTask).setUrlToUse(server);
    engine(CommTasks::slowTask).setUrlToUse(server);
    // Nothing is checked here: the server decides.
    engine(CommTasks::fastTask).auth_add(username, password, ostrelcomm::SRPAuthMode::new_);
}

void LoginViewController::closeCredentialsPopup() {
    auto& fast = engine(CommTasks::fastTask);
    if (fast.authStatus() == ostrelcomm::UserAuthStatus::inProgress) fast.abortCurrentJob();
    dismissSheet();
}

void LoginViewController::reject() { closeCredentialsPopup(); }

void LoginViewController::showPassword() {
    passwordShown_ = !passwordShown_;
    const char* image = passwordShown_ ? kEyeShown : kEyeHidden;
    showPassword_->setIcon(eyeIcon(image));
    showPassword_->setProperty(kImageNameProperty, QString::fromLatin1(image));
    clrPassword_->setHidden(!passwordShown_);
    txtPassword_->setHidden(passwordShown_);
}

void LoginViewController::txtPasswordChange(const QString& password) {
    if (clrPassword_->text() != password) clrPassword_->setText(password);
}

void LoginViewController::clrPasswordChange(const QString& password) {
    if (txtPassword_->text() != password) txtPassword_->setText(password);
}

void LoginViewController::startSpinner() {
    runOnMain([self = QPointer<LoginViewController>(this)] {
        if (self) self->spinner_->setHidden(false);
    });
}

void LoginViewController::stopSpinner() {
    runOnMain([self = QPointer<LoginViewController>(this)] {
        if (self) self->spinner_->setHidden(true);
    });
}

void LoginViewController::loginResult(const std::string& word) {
    // Queued before the sheet was dismissed: none of its business now.
    if (!authObserver_) return;
    namespace auth = ostrelcomm::auth;
    if (word == auth::kInProgress) {
        startSpinner();
    } else if (word == auth::kAuthenticated) {
        stopSpinner();
        cancelButton_->setText(cancelAlternateTitle_);
        Appwise::shared().notifications()->post(kActionRefreshNotification);
        dismissSheet();
    } else {
        // What was typed stays, to be corrected and confirmed again.
        Appwise::runAlert("Login-Error", "LoginFailureMessage", kAlertIcon);
        stopSpinner();
    }
}

void LoginViewController::dismissSheet() {
    stopObserving();
    done(0);
}

void LoginViewController::stopObserving() {
    if (!authObserver_) return;
    authCenter_->removeObserver(*authObserver_);
    authObserver_.reset();
}

}  // namespace quorvel
