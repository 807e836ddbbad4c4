#include "app/sheets/NewUserViewController.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

#include "app/Extensions/CharacterCount.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/SecretText.h"
#include "app/Extensions/SystemColor.h"
#include "app/Extensions/TrimmedOfSpaces.h"
#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "app/utils/PasswordStrength.h"
#include "platform/SystemLog.h"
#include "user/UserNotifications.h"

namespace quorvel {

namespace {

constexpr char kAlertIcon[] = "NSInfo";
constexpr char kInvalidError[] = "Invalid error returned from comm library";

QString text(const char* key) { return QString::fromStdString(localize(key)); }

ostrelcomm::SrvComm& fastEngine() { return *Appwise::shared().engine(CommTasks::fastTask); }

void showIn(QLabel* label, const char* key, SystemColor color) {
    label->setText(text(key));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, systemColor(color));
    label->setPalette(palette);
}

// What HTTP drops from both ends of a header's value.
bool isBlank(QChar c) { return c == u' ' || c == u'\t'; }

bool hasSurroundingBlanks(const QString& name) {
    return !name.isEmpty() && (isBlank(name.front()) || isBlank(name.back()));
}

}  // namespace

NewUserViewController::NewUserViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("createNewUser"));
    buildView();
    viewDidLoad();
}

NewUserViewController::~NewUserViewController() { stopObserving(); }

void NewUserViewController::buildView() {
    setWindowTitle(text("NewUserSheetTitle"));

    username_ = new QLineEdit(this);
    username_->setObjectName(QStringLiteral("username"));
    usernameProblem_ = new QLabel(text("UsernameBlanksReason"), this);
    usernameProblem_->setObjectName(QStringLiteral("usernameProblem"));
    usernameProblem_->setHidden(true);
    {
        QPalette palette = usernameProblem_->palette();
        palette.setColor(QPalette::WindowText, systemColor(SystemColor::red));
        usernameProblem_->setPalette(palette);
    }
    fullAccessPassword_ = new QLineEdit(this);
    fullAccessPassword_->setObjectName(QStringLiteral("fullAccessPassword"));
    fullAccessPassword_->setEchoMode(QLineEdit::Password);
    fullAccessPasswordStrength_ = new QLabel(this);
    fullAccessPasswordStrength_->setObjectName(QStringLiteral("fullAccessPasswordStrength"));
    fullAccessPasswordVerification_ = new QLineEdit(this);
    fullAccessPasswordVerification_->setObjectName(QStringLiteral("fullAccessPasswordVerification"));
    fullAccessPasswordVerification_->setEchoMode(QLineEdit::Password);
    fullAccessPasswordMatch_ = new QLabel(this);
    fullAccessPasswordMatch_->setObjectName(QStringLiteral("fullAccessPasswordMatch"));
    protocolButton_ = new QComboBox(this);
    protocolButton_->setObjectName(QStringLiteral("protocolButton"));
    progressSpinner_ = new QProgressBar(this);
    progressSpinner_->setObjectName(QStringLiteral("progressSpinner"));
    progressSpinner_->setRange(0, 0);  // busy: it animates while shown
    progressSpinner_->setTextVisible(false);
    progressSpinner_->setHidden(true);
    btnCancel_ = new QPushButton(text("Cancel"), this);
    btnCancel_->setObjectName(QStringLiteral("btnCancel"));
    btnCreate_ = new QPushButton(text("Create"), this);
    btnCreate_->setObjectName(QStringLiteral("btnCreate"));
    btnCreate_->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(text("UsernameLabel"), username_);
    form->addRow(QString(), usernameProblem_);
    form->addRow(text("PasswordLabel"), fullAccessPassword_);
    form->addRow(QString(), fullAccessPasswordStrength_);
    form->addRow(text("VerifyPasswordLabel"), fullAccessPasswordVerification_);
    form->addRow(QString(), fullAccessPasswordMatch_);
    form->addRow(text("ServerLabel"), protocolButton_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(progressSpinner_);
    buttons->addStretch();
    buttons->addWidget(btnCancel_);
    buttons->addWidget(btnCreate_);
    auto* sheet = new QVBoxLayout(this);
    sheet->addLayout(form);
    sheet->addLayout(buttons);
    setMinimumWidth(420);

    connect(btnCreate_, &QPushButton::clicked, this, &NewUserViewController::createNewUser);
    connect(btnCancel_, &QPushButton::clicked, this, &NewUserViewController::btnCancel);
}

void NewUserViewController::viewDidLoad() {
    btnCreate_->setEnabled(false);
    connect(username_, &QLineEdit::textChanged, this, &NewUserViewController::usernameChanged);
    connect(fullAccessPassword_, &QLineEdit::textChanged, this, &NewUserViewController::fullAccessPasswordChanged);
    connect(fullAccessPasswordVerification_, &QLineEdit::textChanged, this,
            &NewUserViewController::fullAccessPasswordVerificationChanged);
    protocolButton_->clear();
    for (const auto& name : fastEngine().availableURLs()) protocolButton_->addItem(QString::fromStdString(name));
    resultObserver_ = connect(&Appwise::shared().bridge(CommTasks::fastTask), &EngineBridge::userCreationTerminated,
                              this, &NewUserViewController::creationEnded);
}

void NewUserViewController::usernameChanged() {
    const QString name = username_->text();
    const bool blanks = hasSurroundingBlanks(name);
    usernameProblem_->setHidden(!blanks);
    usernameValid_ = !blanks && characterCount(trimmedOfSpaces(name)) > 2;
    updateCreate();
}

void NewUserViewController::fullAccessPasswordChanged() {
    checkFullAccessPasswordStrength();
    fullAccessPasswordValid_ = checkFullAccessPasswordMatch();
    updateCreate();
}

void NewUserViewController::fullAccessPasswordVerificationChanged() {
    fullAccessPasswordValid_ = checkFullAccessPasswordMatch();
    updateCreate();
}

void NewUserViewController::updateCreate() { btnCreate_->setEnabled(fullAccessPasswordValid_ && usernameValid_); }

void NewUserViewController::checkFullAccessPasswordStrength() {
    const PasswordStrength::Verdict& verdict =
        PasswordStrength::kVerdicts.at(std::size_t(PasswordStrength::checkStrength(fullAccessPassword_->text())));
    showIn(fullAccessPasswordStrength_, verdict.key, verdict.color);
}

bool NewUserViewController::checkFullAccessPasswordMatch() {
    const bool match = fullAccessPassword_->text() == fullAccessPasswordVerification_->text();
    if (match)
        showIn(fullAccessPasswordMatch_, "Match", SystemColor::green);
    else
        showIn(fullAccessPasswordMatch_, "Doesn't match!", SystemColor::red);
    return match;
}

void NewUserViewController::createNewUser() {
    if (protocolButton_->currentIndex() < 0) {
        Appwise::runAlert("NewUser-NoServer", "NewUserNoServerMessage", kAlertIcon);
        return;
    }
    // Create is disabled for such a name; nothing else may send it either.
    if (hasSurroundingBlanks(username_->text())) return;
    btnCreate_->setEnabled(false);
    startSpinner();
    auto& fast = fastEngine();
    // The fast engine only: the slow one keeps its server until a login.
    fast.setUrlToUse(protocolButton_->currentText().toStdString());
    // The name as typed: the spaces trimmed above were only for counting.
    fast.user_addCreation(username_->text().toStdString(), secretOf(fullAccessPassword_->text()));
}

void NewUserViewController::btnCancel() { closeSheet(); }

void NewUserViewController::reject() { btnCancel(); }

void NewUserViewController::done(int result) {
    stopObserving();
    fullAccessPassword_->clear();
    fullAccessPasswordVerification_->clear();
    QDialog::done(result);
}

void NewUserViewController::creationEnded(const UserCreationEvent& event) {
    // Delivered after the sheet began to close: none of its business.
    if (!resultObserver_) return;
    stopSpinner();
    const QPointer<NewUserViewController> self(this);
    const auto close = [self](int) {
        if (self) self->closeSheet();
    };
    AlertPresenter& alerts = Appwise::shared().alertPresenter();
    if (event.result == ostrelcomm::user::kCreated) {
        alerts.ask({text("You're ready to go!"), text("NewUserCreatedMSG"), AlertIcon::information, {}}, this, close);
    } else if (event.httpError) {
        // The server's own words: shown as they are, never looked up.
        alerts.ask({text("userCreationError"), QString::fromStdString(event.httpError->errDescr), AlertIcon::warning, {}},
                   this, close);
    } else {
        ostrelcomm::systemLog(kInvalidError);
    }
}

void NewUserViewController::startSpinner() { progressSpinner_->setHidden(false); }

void NewUserViewController::stopSpinner() { progressSpinner_->setHidden(true); }

void NewUserViewController::closeSheet() { done(0); }

void NewUserViewController::stopObserving() {
    if (!resultObserver_) return;
    disconnect(resultObserver_);
    resultObserver_ = {};
}

}  // namespace quorvel
