#include "app/account/UserProfileViewController.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFormLayout>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <utility>

#include "app/Extensions/Formatters.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/QuorvelCredentials.h"
#include "app/Extensions/SecretText.h"
#include "app/Extensions/SystemColor.h"
#include "app/account/LevelIndicator.h"
#include "app/account/QrCodeWriter.h"
#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "app/utils/BiometricAuthentication.h"
#include "app/utils/PasswordStrength.h"
#include "app/utils/RunOnMain.h"
#include "app/utils/ShowCommError.h"
#include "platform/SystemLog.h"
#include "securestore/AppleSecureStore.h"
#include "securestore/GenericPasswordQueryable.h"
#include "shares/ShareNotifications.h"
#include "user/UserNotifications.h"

namespace quorvel {

namespace {

using ostrelcomm::UserSessionData;
using Formatters::DateStyle;

QString text(const char* key) { return QString::fromStdString(localize(key)); }

// The height of the camera's image beside the add button, in
// device-independent pixels.
constexpr int kCameraImageSide = 24;

ostrelcomm::SrvComm& engine(CommTasks task) { return *Appwise::shared().engine(task); }

EngineBridge& fastBridge() { return Appwise::shared().bridge(CommTasks::fastTask); }

// The tabs, by the identifier each keeps as its data, with their title keys.
struct TabEntry {
    const char* identifier;
    const char* titleKey;
    UserProfileViewController::SelectedTab tab;
};
constexpr TabEntry kTabs[] = {
    {"Profile", "ProfileTab", UserProfileViewController::SelectedTab::profile},
    {"Usage", "UsageTab", UserProfileViewController::SelectedTab::usage},
    {"Activities", "ActivitiesTab", UserProfileViewController::SelectedTab::activities},
    {"Trusts", "TrustsTab", UserProfileViewController::SelectedTab::trusts},
    {"Security", "SecurityTab", UserProfileViewController::SelectedTab::security},
};

// The label of each choice of scActivityRecordQuantity, in the order of
// activitiesScales.
constexpr const char* kScaleKeys[] = {"ActivitiesScale20", "ActivitiesScale50", "ActivitiesScale100",
                                      "ActivitiesScaleAll"};
static_assert(std::size(kScaleKeys) == UserProfileViewController::activitiesScales.size());

// A label for a text that comes from the user or a server: never markup.
QLabel* plainLabel(QWidget* parent, const char* objectName) {
    auto* label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(objectName));
    label->setTextFormat(Qt::PlainText);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

QLineEdit* passwordField(QWidget* parent, const char* objectName) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QString::fromLatin1(objectName));
    field->setEchoMode(QLineEdit::Password);
    return field;
}

// A busy bar: it animates while shown.
QProgressBar* spinner(QWidget* parent, const char* objectName) {
    auto* bar = new QProgressBar(parent);
    bar->setObjectName(QString::fromLatin1(objectName));
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setMaximumWidth(80);
    bar->setHidden(true);
    return bar;
}

QTableView* tableView(QWidget* parent, const char* objectName, UserProfileTableSource* source) {
    auto* table = new QTableView(parent);
    table->setObjectName(QString::fromLatin1(objectName));
    table->setModel(source);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setHighlightSections(false);
    return table;
}

}  // namespace

UserProfileViewController::UserProfileViewController(QWidget* parent)
    : QDialog(parent), captureSession_(makeCameraProvider()) {
    setObjectName(QStringLiteral("userProfile"));
    buildView();
    viewDidLoad();
}

UserProfileViewController::~UserProfileViewController() {
    // A window that goes without closing (its parent went first) still lets
    // the camera go before its widgets.
    captureSession_->stop();
    qrCodeDetector_.reset();
    // The widgets outlive this part of the window by a little: a table hidden
    // as they go must not ask it for rows any more.
    tblActivity_->setModel(nullptr);
    tblTrustedUser_->setModel(nullptr);
}

// --- view --------------------------------------------------------------------------------

void UserProfileViewController::buildView() {
    setWindowTitle(text("AccountWindowTitle"));

    activitySource_ = new UserProfileTableSource(
        QString::fromLatin1(kActivityTable),
        {text("ActivityDateColumn"), text("ActivityResultColumn"), text("ActivityDetailsColumn")},
        [this](const QString& table) { return numberOfRows(table); },
        [this](const QString& table, int column, int row) { return tableViewCell(table, column, row); }, this);
    trustedUsersSource_ = new UserProfileTableSource(
        QString::fromLatin1(kTrustedUsersTable), {text("TrustedUserColumn")},
        [this](const QString& table) { return numberOfRows(table); },
        [this](const QString& table, int column, int row) { return tableViewCell(table, column, row); }, this);

    tabView_ = new QTabWidget(this);
    tabView_->setObjectName(QStringLiteral("tabView"));
    tabView_->setDocumentMode(false);
    for (const TabEntry& entry : kTabs) {
        QWidget* page = nullptr;
        switch (entry.tab) {
            case SelectedTab::profile:
                page = buildProfileTab();
                break;
            case SelectedTab::usage:
                page = buildUsageTab();
                break;
            case SelectedTab::activities:
                page = buildActivitiesTab();
                break;
            case SelectedTab::trusts:
                page = buildTrustsTab();
                break;
            case SelectedTab::security:
                page = buildSecurityTab();
                break;
        }
        const int index = tabView_->addTab(page, text(entry.titleKey));
        tabView_->tabBar()->setTabData(index, QString::fromLatin1(entry.identifier));
    }

    btnClose_ = new QPushButton(text("Close"), this);
    btnClose_->setObjectName(QStringLiteral("btnClose"));
    btnClose_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnClose_);

    auto* window = new QVBoxLayout(this);
    window->addWidget(tabView_);
    window->addLayout(buttons);
    resize(680, 480);

    connect(btnClose_, &QPushButton::clicked, this, &UserProfileViewController::doClose);
}

QWidget* UserProfileViewController::buildProfileTab() {
    auto* page = new QWidget;
    lblUsername_ = plainLabel(page, "lblUsername");
    lblCurrentPlan_ = plainLabel(page, "lblCurrentPlan");
    lblPlanExpiry_ = plainLabel(page, "lblPlanExpiry");
    lblMemberSince_ = plainLabel(page, "lblMemberSince");
    auto* form = new QFormLayout;
    form->addRow(text("UsernameTitle"), lblUsername_);
    form->addRow(text("CurrentPlanTitle"), lblCurrentPlan_);
    form->addRow(text("PlanExpiryTitle"), lblPlanExpiry_);
    form->addRow(text("MemberSinceTitle"), lblMemberSince_);

    auto* deletion = new QGroupBox(text("DeleteProfileTitle"), page);
    auto* explanation = new QLabel(text("DeleteProfileHint"), deletion);
    explanation->setWordWrap(true);
    deleteProfilePassword_ = passwordField(deletion, "deleteProfilePassword");
    deleteProfilePassword_->setPlaceholderText(text("DeleteProfilePasswordPlaceholder"));
    btnDeleteProfile_ = new QPushButton(text("DeleteProfileButton"), deletion);
    btnDeleteProfile_->setObjectName(QStringLiteral("btnDeleteProfile"));
    btnDeleteProfile_->setAutoDefault(false);
    btnDeleteProfile_->setEnabled(false);
    delProfProgressSpinner_ = spinner(deletion, "delProfProgressSpinner");
    auto* row = new QHBoxLayout;
    row->addWidget(deleteProfilePassword_, 1);
    row->addWidget(delProfProgressSpinner_);
    row->addWidget(btnDeleteProfile_);
    auto* deletionLayout = new QVBoxLayout(deletion);
    deletionLayout->addWidget(explanation);
    deletionLayout->addLayout(row);

    auto* layout = new QVBoxLayout(page);
    layout->addLayout(form);
    layout->addStretch();
    layout->addWidget(deletion);

    connect(btnDeleteProfile_, &QPushButton::clicked, this, &UserProfileViewController::deleteAllData);
    return page;
}

QWidget* UserProfileViewController::buildUsageTab() {
    auto* page = new QWidget;
    lblFilesAndFolder_ = plainLabel(page, "lblFilesAndFolder");
    cliUsedSpace_ = new LevelIndicator(page);
    cliUsedSpace_->setObjectName(QStringLiteral("cliUsedSpace"));
    lblUsedSpace_ = plainLabel(page, "lblUsedSpace");
    auto* layout = new QVBoxLayout(page);
    layout->addWidget(lblFilesAndFolder_);
    layout->addSpacing(12);
    layout->addWidget(cliUsedSpace_);
    layout->addWidget(lblUsedSpace_);
    layout->addStretch();
    return page;
}

QWidget* UserProfileViewController::buildActivitiesTab() {
    auto* page = new QWidget;
    scActivityRecordQuantity_ = new QComboBox(page);
    scActivityRecordQuantity_->setObjectName(QStringLiteral("scActivityRecordQuantity"));
    for (const char* key : kScaleKeys) scActivityRecordQuantity_->addItem(text(key));
    activityLoadingSpinner_ = spinner(page, "activityLoadingSpinner");
    tblActivity_ = tableView(page, "tblActivity", activitySource_);
    tblActivity_->horizontalHeader()->resizeSection(0, 260);
    tblActivity_->horizontalHeader()->resizeSection(1, 130);

    auto* choice = new QHBoxLayout;
    choice->addWidget(new QLabel(text("ActivitiesScaleLabel"), page));
    choice->addWidget(scActivityRecordQuantity_);
    choice->addStretch();
    choice->addWidget(activityLoadingSpinner_);
    auto* layout = new QVBoxLayout(page);
    layout->addLayout(choice);
    layout->addWidget(tblActivity_);

    // activated: the user's choice only, not the window's own selection at load.
    connect(scActivityRecordQuantity_, &QComboBox::activated, this, &UserProfileViewController::loadActivityRecords);
    return page;
}

QWidget* UserProfileViewController::buildTrustsTab() {
    auto* page = new QWidget;
    qrCodeImageView_ = plainLabel(page, "qrCodeImageView");
    qrCodeImageView_->setFixedSize(150, 150);
    qrCodeImageView_->setAlignment(Qt::AlignCenter);
    auto* ownCode = new QVBoxLayout;
    auto* ownCodeTitle = new QLabel(text("OwnTrustCodeTitle"), page);
    ownCodeTitle->setWordWrap(true);
    ownCode->addWidget(ownCodeTitle);
    ownCode->addWidget(qrCodeImageView_);
    ownCode->addStretch();

    tblTrustedUser_ = tableView(page, "tblTrustedUser", trustedUsersSource_);
    btnAddTrustedUser_ = new QPushButton(text("Add trusted user"), page);
    btnAddTrustedUser_->setObjectName(QStringLiteral("btnAddTrustedUser"));
    btnAddTrustedUser_->setAutoDefault(false);
    btnAddTrustedUser_->setCheckable(true);
    btnAddTrustedUser_->setEnabled(false);
    imgCameraAvailability_ = new QLabel(page);
    imgCameraAvailability_->setObjectName(QStringLiteral("imgCameraAvailability"));
    auto* frame = new QFrame(page);
    frame->setFrameShape(QFrame::StyledPanel);
    frame->setMinimumSize(200, 150);
    qrCodeFrameView_ = frame;
    qrCodeFrameView_->setObjectName(QStringLiteral("qrCodeFrameView"));
    qrCodeFrameView_->setStyleSheet(
        QStringLiteral("#qrCodeFrameView { border: 1px solid %1; }").arg(systemColor(SystemColor::gray).name()));
    // The camera's picture, once there is one, fills the frame.
    auto* preview = new QVBoxLayout(qrCodeFrameView_);
    preview->setContentsMargins(1, 1, 1, 1);

    auto* addRow = new QHBoxLayout;
    addRow->addWidget(btnAddTrustedUser_);
    addRow->addWidget(imgCameraAvailability_);
    addRow->addStretch();
    auto* trusted = new QVBoxLayout;
    trusted->addWidget(tblTrustedUser_, 1);
    trusted->addLayout(addRow);
    trusted->addWidget(qrCodeFrameView_);

    auto* layout = new QHBoxLayout(page);
    layout->addLayout(ownCode);
    layout->addLayout(trusted, 1);

    connect(btnAddTrustedUser_, &QPushButton::clicked, this, &UserProfileViewController::addTrustedUser);
    return page;
}

QWidget* UserProfileViewController::buildSecurityTab() {
    auto* page = new QWidget;
    oldDataAccessPassword_ = passwordField(page, "oldDataAccessPassword");
    newDataAccessPassword_ = passwordField(page, "newDataAccessPassword");
    newDataAccessPasswordCheck_ = passwordField(page, "newDataAccessPasswordCheck");
    newDataAccessPwStrengthIndicator_ = plainLabel(page, "newDataAccessPwStrengthIndicator");
    newDataAccessPwEqualityIndicator_ = plainLabel(page, "newDataAccessPwEqualityIndicator");
    btnChangeDataAccessPassword_ = new QPushButton(text("ChangePasswordButton"), page);
    btnChangeDataAccessPassword_->setObjectName(QStringLiteral("btnChangeDataAccessPassword"));
    btnChangeDataAccessPassword_->setAutoDefault(false);
    btnChangeDataAccessPassword_->setEnabled(false);
    secProgressSpinner_ = spinner(page, "secProgressSpinner");

    auto* newRow = new QHBoxLayout;
    newRow->addWidget(newDataAccessPassword_, 1);
    newRow->addWidget(newDataAccessPwStrengthIndicator_);
    auto* checkRow = new QHBoxLayout;
    checkRow->addWidget(newDataAccessPasswordCheck_, 1);
    checkRow->addWidget(newDataAccessPwEqualityIndicator_);
    auto* changeRow = new QHBoxLayout;
    changeRow->addStretch();
    changeRow->addWidget(secProgressSpinner_);
    changeRow->addWidget(btnChangeDataAccessPassword_);
    auto* passwordBox = new QGroupBox(text("ChangePasswordTitle"), page);
    auto* form = new QFormLayout;
    form->addRow(text("OldPasswordLabel"), oldDataAccessPassword_);
    form->addRow(text("NewPasswordLabel"), newRow);
    form->addRow(text("RepeatPasswordLabel"), checkRow);
    auto* passwordLayout = new QVBoxLayout(passwordBox);
    passwordLayout->addLayout(form);
    passwordLayout->addLayout(changeRow);

    auto* credentialsBox = new QGroupBox(text("StoredCredentialsTitle"), page);
    cbCredentialsInKeyring_ = new QCheckBox(text("CredentialsInKeyringOption"), credentialsBox);
    cbCredentialsInKeyring_->setObjectName(QStringLiteral("cbCredentialsInKeyring"));
    rbAutoAccessAtStartup_ = new QRadioButton(text("AutoAccessAtStartupOption"), credentialsBox);
    rbAutoAccessAtStartup_->setObjectName(QStringLiteral("rbAutoAccessAtStartup"));
    rbBiometricLogin_ = new QRadioButton(text("BiometricLoginOption"), credentialsBox);
    rbBiometricLogin_->setObjectName(QStringLiteral("rbBiometricLogin"));
    auto* credentialsLayout = new QVBoxLayout(credentialsBox);
    credentialsLayout->addWidget(cbCredentialsInKeyring_);
    credentialsLayout->addWidget(rbAutoAccessAtStartup_);
    credentialsLayout->addWidget(rbBiometricLogin_);

    auto* layout = new QVBoxLayout(page);
    layout->addWidget(passwordBox);
    layout->addWidget(credentialsBox);
    layout->addStretch();

    connect(btnChangeDataAccessPassword_, &QPushButton::clicked, this,
            &UserProfileViewController::changeDataAccessPassword);
    connect(cbCredentialsInKeyring_, &QCheckBox::clicked, this,
            &UserProfileViewController::changeCredentialsInKeyring);
    loginTypeGroup_ = new QButtonGroup(credentialsBox);
    loginTypeGroup_->setExclusive(true);
    loginTypeGroup_->addButton(rbAutoAccessAtStartup_);
    loginTypeGroup_->addButton(rbBiometricLogin_);
    connect(loginTypeGroup_, &QButtonGroup::buttonClicked, this, &UserProfileViewController::loginTypeChanged);
    return page;
}

// --- loading -----------------------------------------------------------------------------

void UserProfileViewController::viewDidLoad() {
    // The tab view and the tables were given to this window as they were made.
    connect(tabView_, &QTabWidget::currentChanged, this, &UserProfileViewController::tabViewDidSelect);

    trustedUsersObservers(true);
    activitiesObserver(true);
    securityObservers(true);
    deleteProfileObserver(true);

    setupSecurityControls();

    scActivityRecordQuantity_->setCurrentIndex(0);
    doGetActivities(0, activitiesScales.at(static_cast<std::size_t>(scActivityRecordQuantity_->currentIndex())));

    setupCameraUI(setupCamera());

    connect(deleteProfilePassword_, &QLineEdit::textChanged, this,
            [this] { controlTextDidChange(deleteProfilePassword_); });

    getUserProfile();
    engine(CommTasks::fastTask).shares_getTrustedUsers();
}

// --- frame -------------------------------------------------------------------------------

void UserProfileViewController::tabViewDidSelect(int index) {
    const QString identifier = tabView_->tabBar()->tabData(index).toString();
    for (const TabEntry& entry : kTabs) {
        if (identifier == QLatin1String(entry.identifier)) {
            selectedTab_ = entry.tab;
            return;
        }
    }
}

int UserProfileViewController::numberOfRows(const QString& table) const {
    if (table == QLatin1String(kActivityTable)) return static_cast<int>(usersActivities_.size());
    if (table == QLatin1String(kTrustedUsersTable)) return static_cast<int>(trusts_.size());
    return 0;
}

std::optional<TableCell> UserProfileViewController::tableViewCell(const QString& table, int column, int row) const {
    if (column < 0 || row < 0) return std::nullopt;
    if (table == QLatin1String(kActivityTable)) return activityCell(column, row);
    if (table == QLatin1String(kTrustedUsersTable)) return trustedUserCell(column, row);
    return std::nullopt;
}

void UserProfileViewController::controlTextDidChange(const QLineEdit* field) {
    if (field == nullptr) return;
    if (field == newDataAccessPassword_) {
        checkFullAccessPasswordStrength();
        btnChangeDataAccessPassword_->setEnabled(checkFullAccessPasswordMatch());
    } else if (field == newDataAccessPasswordCheck_) {
        btnChangeDataAccessPassword_->setEnabled(checkFullAccessPasswordMatch());
    } else if (field == deleteProfilePassword_) {
        btnDeleteProfile_->setEnabled(!deleteProfilePassword_->text().trimmed().isEmpty());
    }
}

void UserProfileViewController::startSpinner(QProgressBar* spinner) {
    runOnMain([spinner = QPointer<QProgressBar>(spinner)] {
        if (spinner) spinner->setHidden(false);
    });
}

void UserProfileViewController::stopSpinner(QProgressBar* spinner) {
    runOnMain([spinner = QPointer<QProgressBar>(spinner)] {
        if (spinner) spinner->setHidden(true);
    });
}

void UserProfileViewController::doClose() {
    stopCapture();
    closeSheet();
}

void UserProfileViewController::reject() { doClose(); }

void UserProfileViewController::closeSheet() {
    if (closed_) return;
    closed_ = true;
    disconnect(userProfileObserver_);
    trustedUsersObservers(false);
    activitiesObserver(false);
    securityObservers(false);
    deleteProfileObserver(false);
    deleteProfilePassword_->clear();
    clearDataAccessPasswords();
    done(0);
}

// --- profile and usage ---------------------------------------------------------------------

void UserProfileViewController::getUserProfile() {
    disconnect(userProfileObserver_);
    userProfileObserver_ = connect(&fastBridge(), &EngineBridge::userProfileDataAvailable, this,
                                   &UserProfileViewController::userProfileDataAvailable);
    engine(CommTasks::fastTask).user_addGetProfile();
}

void UserProfileViewController::userProfileDataAvailable(const UserProfileEvent& event) {
    const char* problem = nullptr;
    if (event.result != std::optional<std::string>(ostrelcomm::user::kCompleted))
        problem = kWrongResultLog;
    else if (event.customData != CustomDataShape::dictionary)
        problem = kUndecodableLog;
    else if (!event.data)
        problem = kUnreadableProfileLog;
    if (problem) {
        ostrelcomm::systemLog(problem);
        closeSheet();
        return;
    }
    fillProfile(*event.data);
}

void UserProfileViewController::fillProfile(const ostrelcomm::UserProfile& profile) {
    const std::optional<std::string>& username = Appwise::shared().username();
    lblUsername_->setText(username ? QString::fromStdString(*username) : QStringLiteral("No username??"));
    lblMemberSince_->setText(Formatters::date(profile.since, DateStyle::full, DateStyle::long_));
    lblCurrentPlan_->setText(QString::fromStdString(profile.profilename));
    lblPlanExpiry_->setText(profile.currentplanexpiry
                                ? Formatters::date(*profile.currentplanexpiry, DateStyle::full, DateStyle::long_)
                                : text("This plan never expire"));
    drawTrustCodeImage(profile.userUUID, username.value_or(kNoUsername), profile.pubshkey);
    lblFilesAndFolder_->setText(QStringLiteral("%1 file(s) and %2 directory(es)")
                                    .arg(static_cast<qulonglong>(profile.files))
                                    .arg(static_cast<qulonglong>(profile.directories)));
    const auto diskspace = static_cast<double>(profile.diskspace);
    cliUsedSpace_->setLevels(diskspace, diskspace * 0.75, diskspace * 0.9, static_cast<double>(profile.usedspace));
    lblUsedSpace_->setText(QStringLiteral("Used ") + Formatters::byteCount(profile.usedspace) +
                           QStringLiteral(" out of ") + Formatters::byteCount(profile.diskspace));
}

// --- login activities ----------------------------------------------------------------------

void UserProfileViewController::activitiesObserver(bool activate) {
    disconnect(getActivitiesObserver_);
    if (!activate) return;
    getActivitiesObserver_ = connect(&fastBridge(), &EngineBridge::getUserSessionsData, this,
                                     &UserProfileViewController::getUserSessionsData);
}

void UserProfileViewController::doGetActivities(std::size_t start, std::size_t end) {
    startSpinner(activityLoadingSpinner_);
    engine(CommTasks::fastTask).user_addGetUserSessions(start, end);
}

void UserProfileViewController::loadActivityRecords() {
    const int choice = scActivityRecordQuantity_->currentIndex();
    if (choice < 0 || static_cast<std::size_t>(choice) >= activitiesScales.size()) return;
    doGetActivities(0, activitiesScales.at(static_cast<std::size_t>(choice)));
}

void UserProfileViewController::getUserSessionsData(const UserSessionsEvent& event) {
    stopSpinner(activityLoadingSpinner_);
    // Here, on the main thread, where the table reads the rows: the engine's
    // thread never touches them.
    if (event.result != std::optional<std::string>(ostrelcomm::user::kAvailable) || !event.data) return;
    usersActivities_ = *event.data;
    activitySource_->reloadData();
}

std::optional<TableCell> UserProfileViewController::activityCell(int column, int row) const {
    if (static_cast<std::size_t>(row) >= usersActivities_.size()) return std::nullopt;
    const UserSessionData& session = usersActivities_[static_cast<std::size_t>(row)];
    QColor colour = systemColor(SystemColor::label);
    if (session.result == UserSessionData::SessionStatus::ACTUAL) colour = systemColor(SystemColor::green);
    if (session.result == UserSessionData::SessionStatus::FAILED) colour = systemColor(SystemColor::red);
    switch (column) {
        case 0:
            return TableCell{QStringLiteral("activitiesTimestampID"),
                             Formatters::date(session.timestamp, DateStyle::long_, DateStyle::long_), colour};
        case 1:
            return TableCell{QStringLiteral("activitiesResultID"),
                             QString::fromStdString(localize(UserSessionData::rawValue(session.result))), colour};
        case 2:
            return TableCell{QStringLiteral("activitiesDetailsID"), QString::fromStdString(session.extdiag), colour};
        default:
            return TableCell{QString(), QString(), colour};
    }
}

// --- profile deletion ----------------------------------------------------------------------

void UserProfileViewController::deleteProfileObserver(bool activate) {
    disconnect(deleteProfileObserver_);
    if (!activate) return;
    deleteProfileObserver_ = connect(&fastBridge(), &EngineBridge::userProfileDeleted, this,
                                     &UserProfileViewController::userProfileDeleted);
}

void UserProfileViewController::deleteAllData() { doDeleteProfile(); }

void UserProfileViewController::doDeleteProfile() {
    const AlertQuestion question{text("LastChanceMsg"), text("LastChanceMsgExt"), AlertIcon::warning,
                                 {text("Cancel"), text("DELETE MY DATA")}};
    const QPointer<UserProfileViewController> self(this);
    Appwise::shared().alertPresenter().ask(question, this, [self](int button) {
        if (button != 1 || !self || self->closed_) return;
        self->startSpinner(self->delProfProgressSpinner_);
        engine(CommTasks::fastTask).user_delete(secretOf(self->deleteProfilePassword_->text()));
    });
}

void UserProfileViewController::userProfileDeleted(const UserProfileDeletedEvent& event) {
    stopSpinner(delProfProgressSpinner_);
    const bool deleted = event.result == std::optional<std::string>(ostrelcomm::user::kDeleted);
    const AlertQuestion outcome = deleted ? AlertQuestion{text("DataDeletedConf"), text("DataDeletedConfExt"),
                                                          AlertIcon::information, {}}
                                          : AlertQuestion{text("DataDeleteError"), text("DataDeleteError"),
                                                          AlertIcon::warning, {}};
    const QPointer<UserProfileViewController> self(this);
    Appwise::shared().alertPresenter().ask(outcome, this, [self](int) {
        // Whatever the outcome: the session is not to be trusted any more.
        engine(CommTasks::fastTask).auth_logout();
        engine(CommTasks::slowTask).auth_logout();
        if (self) self->closeSheet();
    });
}

// --- trusted users -------------------------------------------------------------------------

void UserProfileViewController::trustedUsersObservers(bool activate) {
    disconnect(tableRefreshObserver_);
    disconnect(trustRemovedObserver_);
    disconnect(addTrustedUsersObserver_);
    if (!activate) return;
    EngineBridge& bridge = fastBridge();
    tableRefreshObserver_ =
        connect(&bridge, &EngineBridge::trustsList, this, &UserProfileViewController::trustsListed);
    trustRemovedObserver_ =
        connect(&bridge, &EngineBridge::trustRemove, this, &UserProfileViewController::trustRemoved);
    addTrustedUsersObserver_ =
        connect(&bridge, &EngineBridge::trustCreationTerminated, this, &UserProfileViewController::trustCreated);
}

void UserProfileViewController::trustsListed(const TrustsListEvent& event) {
    // Here, on the main thread, where the table reads the rows.
    if (event.result != std::optional<std::string>(ostrelcomm::shares::kAvailable) || !event.data) return;
    trusts_ = *event.data;
    trustedUsersSource_->reloadData();
}

void UserProfileViewController::trustRemoved(const TrustRemoveEvent& event) {
    // A removal that failed is listed again too: the list shows what the
    // server kept.
    if (event.result == std::optional<std::string>(ostrelcomm::shares::kRemoved) ||
        event.result == std::optional<std::string>(ostrelcomm::shares::kError))
        engine(CommTasks::fastTask).shares_getTrustedUsers();
}

void UserProfileViewController::trustCreated(const TrustCreationEvent& event) {
    if (!event.result) return;
    if (*event.result == ostrelcomm::shares::kCreated) {
        engine(CommTasks::fastTask).shares_getTrustedUsers();
        return;
    }
    showCommError(event.httpError);
}

void UserProfileViewController::contextMenuEvent(QContextMenuEvent* event) {
    rightMouseDown(event->globalPos());
    event->accept();
}

void UserProfileViewController::rightMouseDown(const QPoint& globalPosition) {
    if (selectedTab_ != SelectedTab::trusts || !tblTrustedUser_->selectionModel()->hasSelection()) return;
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("trustedUserMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(text("Remove"), this, &UserProfileViewController::removeTrustedUser);
    menu->popup(globalPosition);
}

void UserProfileViewController::removeTrustedUser() {
    const QModelIndexList rows = tblTrustedUser_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    const auto row = static_cast<std::size_t>(rows.front().row());
    if (row >= trusts_.size()) return;
    // The entry as it is now: the list may be replaced while the question is up.
    const ostrelcomm::TrustCode entry = trusts_[row];
    const AlertQuestion question{text("ItemDeleteTitle"),
                                 text("TrustDeleteMsg").arg(QString::fromStdString(entry.peerUsername())),
                                 AlertIcon::information,
                                 {text("Cancel"), text("Remove")}};
    const QPointer<UserProfileViewController> self(this);
    Appwise::shared().alertPresenter().ask(question, this, [self, peerUUID = entry.peerUUID()](int button) {
        if (button != 1 || !self || self->closed_) return;
        // The trusted user's identifier, not the trust's.
        engine(CommTasks::fastTask).shares_deleteTrust(peerUUID);
    });
}

void UserProfileViewController::drawTrustCodeImage(const std::string& userUUID, const std::string& username,
                                                   ostrelcomm::ByteView pubSHKey) {
    const std::optional<std::string> code = ostrelcomm::TrustCode::generate(userUUID, username, pubSHKey);
    // A name outside ASCII gives a code that no reader of trust codes takes:
    // none is drawn for it.
    const bool ascii = code && std::all_of(code->begin(), code->end(),
                                           [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(code->data());
        if (auto image = QrCodeWriter::image(ostrelcomm::ByteView(bytes, code->size()),
                                             qrCodeImageView_->devicePixelRatioF()))
            trustCodeQRLight_ = std::move(*image);
    }
    qrCodeImageView_->setPixmap(QPixmap::fromImage(trustCodeQRLight_));
}

bool UserProfileViewController::setupCamera() {
    captureDevice_ = captureSession_->defaultDevice();
    if (!captureDevice_) {
        ostrelcomm::systemLog(kNoCameraLog);
        return false;
    }
    switch (captureDevice_->position) {
        case CameraPosition::front:
            ostrelcomm::systemLog(kFrontCameraLog);
            break;
        case CameraPosition::back:
            ostrelcomm::systemLog(kBackCameraLog);
            break;
        case CameraPosition::unspecified:
            ostrelcomm::systemLog(kUnspecifiedCameraLog);
            break;
    }
    return true;
}

void UserProfileViewController::setupCameraUI(bool cameraUsable) {
    btnAddTrustedUser_->setEnabled(cameraUsable);
    QImage image = namedImage(QString::fromLatin1(cameraUsable ? kCameraAvailableImage : kCameraNotAvailableImage));
    if (!image.isNull()) image.setDevicePixelRatio(static_cast<qreal>(image.height()) / kCameraImageSide);
    imgCameraAvailability_->setPixmap(QPixmap::fromImage(image));
}

void UserProfileViewController::setCaptureInProgress(bool capturing) {
    captureInProgress_ = capturing;
    imgCameraAvailability_->setHidden(capturing);
    btnAddTrustedUser_->setText(text(capturing ? "Reading..." : "Add trusted user"));
    btnAddTrustedUser_->setChecked(capturing);
}

void UserProfileViewController::addTrustedUser() {
    if (captureInProgress_)
        stopCapture();
    else
        startCapture();
}

void UserProfileViewController::startCapture() {
    const unsigned capture = ++captureNumber_;
    const QPointer<UserProfileViewController> self(this);
    auto reader = std::make_unique<QrCodeReader>([self, capture](std::vector<std::string> texts) {
        runOnMain([self, capture, texts = std::move(texts)]() mutable {
            if (self) self->codesRead(capture, std::move(texts));
        });
    });
    if (!videoPreviewLayer_) {
        videoPreviewLayer_ = captureSession_->previewWidget(qrCodeFrameView_);
        if (videoPreviewLayer_) {
            qrCodeFrameView_->layout()->addWidget(videoPreviewLayer_);
            videoPreviewLayer_->show();
        }
    }
    const std::optional<QString> failure =
        captureSession_->start(reader->frameHandler(), [self, capture](const QString& description) {
            if (self) self->cameraFailed(capture, description);
        });
    if (failure) {
        setCaptureInProgress(false);
        Appwise::shared().alertPresenter().ask(
            AlertQuestion{text("Camera unavailable"), *failure, AlertIcon::information, {}}, this, [](int) {});
        return;
    }
    qrCodeDetector_ = std::move(reader);
    setCaptureInProgress(true);
}

void UserProfileViewController::stopCapture() {
    setCaptureInProgress(false);
    captureSession_->stop();
    // Waits, at most, for the frame being read; its codes find the capture
    // stopped.
    qrCodeDetector_.reset();
}

void UserProfileViewController::cameraFailed(unsigned capture, const QString& description) {
    if (capture != captureNumber_ || !captureInProgress_) return;
    stopCapture();
    Appwise::shared().alertPresenter().ask(
        AlertQuestion{text("Camera unavailable"), description, AlertIcon::information, {}}, this, [](int) {});
}

void UserProfileViewController::codesRead(unsigned capture, std::vector<std::string> texts) {
    // What a stopped capture still read is dropped unseen.
    if (capture != captureNumber_ || !captureInProgress_) return;
    stopCapture();
    for (std::string& scanned : texts) validateData(scanned);
}

void UserProfileViewController::validateData(const std::string& scanned) {
    codesToValidate_.push_back(scanned);
    if (!validating_) validateNextCode();
}

void UserProfileViewController::validateNextCode() {
    if (codesToValidate_.empty() || closed_) {
        codesToValidate_.clear();
        validating_ = false;
        return;
    }
    validating_ = true;
    const ostrelcomm::TrustCode code(codesToValidate_.front());
    codesToValidate_.pop_front();
    const QPointer<UserProfileViewController> self(this);
    auto next = [self](int) {
        if (self) self->validateNextCode();
    };
    const std::optional<std::string>& ownName = Appwise::shared().username();
    if (code.peerUsername().empty()) {
        Appwise::shared().alertPresenter().ask(
            AlertQuestion{text("InvalidTrustCode"), text("InvalidTrustCodeMsg"), AlertIcon::information, {}}, this,
            next);
    } else if (ownName && code.peerUsername() == *ownName) {
        Appwise::shared().alertPresenter().ask(
            AlertQuestion{text("InvalidTrustCode"), text("TrustYourselfMsg"), AlertIcon::information, {}}, this, next);
    } else {
        const AlertQuestion question{text("ValidTrustCode"),
                                     text("ValidTrustCodeMsg").arg(QString::fromStdString(code.peerUsername())),
                                     AlertIcon::information,
                                     {text("Ok"), text("Cancel")}};
        Appwise::shared().alertPresenter().ask(question, this, [self, code, next](int button) {
            if (!self || self->closed_) return;
            // Only the name was checked: the identifier and the key go to the
            // server as the code gave them.
            if (button == 0)
                engine(CommTasks::fastTask).shares_addTrustedUser(code.peerUUID(), code.peerUsername(),
                                                                  code.pubshkey());
            next(button);
        });
    }
}

std::optional<TableCell> UserProfileViewController::trustedUserCell(int column, int row) const {
    if (static_cast<std::size_t>(row) >= trusts_.size()) return std::nullopt;
    if (column != 0) return TableCell{QString(), QString(), systemColor(SystemColor::label)};
    return TableCell{QStringLiteral("peerUsernameID"),
                     QString::fromStdString(trusts_[static_cast<std::size_t>(row)].peerUsername()),
                     systemColor(SystemColor::label)};
}

// --- security ------------------------------------------------------------------------------

namespace {

void showVerdict(QLabel* indicator, const QString& verdict, SystemColor color) {
    indicator->setText(verdict);
    QPalette palette = indicator->palette();
    palette.setColor(QPalette::WindowText, systemColor(color));
    indicator->setPalette(palette);
}

const QString kNoVerdict = QStringLiteral("...");

// Each change of a setting is saved at once, but never while the settings
// are being loaded.
void changeSetup(const std::function<void(AppSetup&)>& change) {
    Appwise& appwise = Appwise::shared();
    AppSetup setup = appwise.setup();
    change(setup);
    appwise.setSetup(setup);
    if (!appwise.initializing()) appwise.saveSetup();
}

bool machineHasBiometry() {
    return BiometricAuthentication::shared().supportedBiometry() != BiometrySupport::none;
}

}  // namespace

void UserProfileViewController::securityObservers(bool activate) {
    disconnect(dataAccessPwModificationObserver_);
    if (!activate) return;
    dataAccessPwModificationObserver_ = connect(&fastBridge(), &EngineBridge::userModification, this,
                                                &UserProfileViewController::userModification);
}

void UserProfileViewController::setupSecurityControls() {
    for (QLineEdit* field : {oldDataAccessPassword_, newDataAccessPassword_, newDataAccessPasswordCheck_})
        connect(field, &QLineEdit::textChanged, this, [this, field] { controlTextDidChange(field); });
    // As wide as the widest verdict, so that the fields beside them keep
    // their width while the user types.
    int widest = 0;
    for (const PasswordStrength::Verdict& verdict : PasswordStrength::kVerdicts)
        widest = std::max(widest, newDataAccessPwStrengthIndicator_->fontMetrics().horizontalAdvance(text(verdict.key)));
    for (const char* key : {"Match", "Doesn't match"})
        widest = std::max(widest, newDataAccessPwEqualityIndicator_->fontMetrics().horizontalAdvance(text(key)));
    newDataAccessPwStrengthIndicator_->setMinimumWidth(widest);
    newDataAccessPwEqualityIndicator_->setMinimumWidth(widest);
    showVerdict(newDataAccessPwStrengthIndicator_, kNoVerdict, SystemColor::label);
    showVerdict(newDataAccessPwEqualityIndicator_, kNoVerdict, SystemColor::label);
    adjustLoginButtons();
}

void UserProfileViewController::adjustLoginButtons() {
    // An exclusive group keeps one button on: it is lifted while the states
    // are set, so that none may be on.
    const auto showLoginType = [this](bool biometric, bool automatic) {
        loginTypeGroup_->setExclusive(false);
        rbBiometricLogin_->setChecked(biometric);
        rbAutoAccessAtStartup_->setChecked(automatic);
        loginTypeGroup_->setExclusive(true);
    };
    if (!Appwise::shared().credentialsInKeyring()) {
        cbCredentialsInKeyring_->setChecked(false);
        rbAutoAccessAtStartup_->setEnabled(false);
        rbBiometricLogin_->setEnabled(false);
        showLoginType(false, false);
        changeSetup([](AppSetup& setup) {
            setup.biometricLogin = false;
            setup.automaticAccessAtStartup = false;
        });
        return;
    }
    cbCredentialsInKeyring_->setChecked(true);
    const AppSetup& chosen = Appwise::shared().setup();
    if (!chosen.biometricLogin && !chosen.automaticAccessAtStartup)
        changeSetup([](AppSetup& setup) { setup.automaticAccessAtStartup = true; });
    const AppSetup& setup = Appwise::shared().setup();
    rbBiometricLogin_->setEnabled(machineHasBiometry());
    rbAutoAccessAtStartup_->setEnabled(true);
    showLoginType(setup.biometricLogin, setup.automaticAccessAtStartup);
}

void UserProfileViewController::loginTypeChanged() {
    const bool automatic = rbAutoAccessAtStartup_->isChecked();
    const bool biometric = rbBiometricLogin_->isChecked();
    changeSetup([automatic, biometric](AppSetup& setup) {
        setup.automaticAccessAtStartup = automatic;
        setup.biometricLogin = biometric;
    });
}

void UserProfileViewController::changeCredentialsInKeyring() {
    if (cbCredentialsInKeyring_->isChecked())
        storeCredInKeyring();
    else
        removeCredInKeyring();
}

void UserProfileViewController::storeCredInKeyring() {
    Appwise& appwise = Appwise::shared();
    bool stored = false;
    // Both come from the login that opened the session; without them there
    // is nothing worth storing.
    if (appwise.username() && appwise.password()) {
        QuorvelCredentials credentials;
        stored = credentials.storeCredentials(appwise.keychainID(), *appwise.username(), *appwise.password());
    }
    const AlertQuestion alert =
        stored ? AlertQuestion{text("CredentialsStored"),
                               text(machineHasBiometry() ? "ChooseAccessTypeMsg" : "NoBiometricAccessMsg"),
                               AlertIcon::information,
                               {}}
               : AlertQuestion{text("CredentialsNotStored"), QString(), AlertIcon::information, {}};
    const QPointer<UserProfileViewController> self(this);
    appwise.alertPresenter().ask(alert, this, [self, stored](int) {
        Appwise::shared().setCredentialsInKeyring(stored);
        if (self) self->adjustLoginButtons();
    });
}

void UserProfileViewController::removeCredInKeyring() {
    Appwise& appwise = Appwise::shared();
    bool removed = true;
    try {
        ostrelcomm::AppleSecureStore(ostrelcomm::GenericPasswordQueryable(appwise.keychainID()))
            .removeValue(QuorvelCredentials::kAccount);
    } catch (const ostrelcomm::SecureStoreError&) {
        removed = false;
    }
    const AlertQuestion alert{text(removed ? "CredentialsRemoved" : "CredentialsNotRemoved"), QString(),
                              AlertIcon::information, {}};
    const QPointer<UserProfileViewController> self(this);
    // Whatever the keychain said: the program no longer counts on an item.
    appwise.alertPresenter().ask(alert, this, [self](int) {
        Appwise::shared().setCredentialsInKeyring(false);
        if (self) self->adjustLoginButtons();
    });
}

void UserProfileViewController::checkFullAccessPasswordStrength() {
    const PasswordStrength::Verdict& verdict = PasswordStrength::kVerdicts.at(
        static_cast<std::size_t>(PasswordStrength::checkStrength(newDataAccessPassword_->text())));
    showVerdict(newDataAccessPwStrengthIndicator_, text(verdict.key), verdict.color);
}

bool UserProfileViewController::checkFullAccessPasswordMatch() {
    const bool match = newDataAccessPassword_->text() == newDataAccessPasswordCheck_->text();
    if (match)
        showVerdict(newDataAccessPwEqualityIndicator_, text("Match"), SystemColor::green);
    else
        showVerdict(newDataAccessPwEqualityIndicator_, text("Doesn't match"), SystemColor::red);
    return match;
}

void UserProfileViewController::changeDataAccessPassword() {
    Appwise& appwise = Appwise::shared();
    const auto tell = [this, &appwise](const char* title, const char* message, AlertIcon icon) {
        appwise.alertPresenter().ask({text(title), text(message), icon, {}}, this, [](int) {});
    };
    // The stored password would no longer open the account.
    if (appwise.credentialsInKeyring()) {
        tell("CredStoredWarnTitle", "CredStoredWarnMsg", AlertIcon::information);
        return;
    }
    ostrelcomm::SrvComm& fast = engine(CommTasks::fastTask);
    const std::optional<std::string> username = fast.getUsername();
    if (!username) {
        tell("ModificationError", "ModificationErrorMsg", AlertIcon::warning);
        return;
    }
    startSpinner(secProgressSpinner_);
    btnChangeDataAccessPassword_->setEnabled(false);
    const ostrelcomm::SecretBytes actualPassword = secretOf(oldDataAccessPassword_->text());
    const ostrelcomm::SecretBytes newPassword = secretOf(newDataAccessPassword_->text());
    // Before the job can start: its renewal login may be refused at once.
    appwise.beginPasswordChange();
    fast.user_modify(*username, actualPassword, newPassword);
    clearDataAccessPasswords();
}

void UserProfileViewController::userModification(const UserModificationEvent& event) {
    stopSpinner(secProgressSpinner_);
    const bool modified = event.result == std::optional<std::string>(ostrelcomm::user::kModified);
    const AlertQuestion alert = modified ? AlertQuestion{text("Modification done"), text("ModificationDoneMsg"),
                                                         AlertIcon::information, {}}
                                         : AlertQuestion{text("ModificationError"), text("ModificationErrorMsg"),
                                                         AlertIcon::warning, {}};
    Appwise::shared().alertPresenter().ask(alert, this, [](int) {});
}

void UserProfileViewController::clearDataAccessPasswords() {
    for (QLineEdit* field : {oldDataAccessPassword_, newDataAccessPassword_, newDataAccessPasswordCheck_}) {
        const QSignalBlocker quiet(field);
        field->clear();
    }
    showVerdict(newDataAccessPwStrengthIndicator_, kNoVerdict, SystemColor::label);
    showVerdict(newDataAccessPwEqualityIndicator_, kNoVerdict, SystemColor::label);
}

}  // namespace quorvel
