#include "app/sheets/PreferencesViewController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

#include <string>

#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "platform/SystemLog.h"
#include "xfer/ConflictingBehaviours.h"

namespace quorvel {

namespace {

using ostrelcomm::ConflictingBehaviours;

QString text(const char* key) { return QString::fromStdString(localize(key)); }

void save(const AppSetup& setup) {
    Appwise& appwise = Appwise::shared();
    appwise.setSetup(setup);
    // Changes made while the settings load stay in memory.
    if (!appwise.initializing()) appwise.saveSetup();
}

}  // namespace

PreferencesViewController::PreferencesViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("preferences"));
    buildView();
    viewDidLoad();
}

void PreferencesViewController::buildView() {
    setWindowTitle(text("PreferencesSheetTitle"));
    showFullLog_ = new QCheckBox(text("ShowFullLogLabel"), this);
    showFullLog_->setObjectName(QStringLiteral("showFullLog"));
    sendingConflictBehaviour_ = new QComboBox(this);
    sendingConflictBehaviour_->setObjectName(QStringLiteral("sendingConflictBehaviour"));
    // By index, the behaviours' own order.
    sendingConflictBehaviour_->addItem(text("ConflictSkipIfEqual"));
    sendingConflictBehaviour_->addItem(text("ConflictAlwaysReplace"));
    sendingConflictBehaviour_->addItem(text("ConflictRename"));
    auto* doCloseButton = new QPushButton(text("Close"), this);
    doCloseButton->setObjectName(QStringLiteral("doCloseButton"));
    doCloseButton->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(showFullLog_);
    form->addRow(text("SendingConflictLabel"), sendingConflictBehaviour_);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(doCloseButton);
    auto* sheet = new QVBoxLayout(this);
    sheet->addLayout(form);
    sheet->addLayout(buttons);

    connect(doCloseButton, &QPushButton::clicked, this, &PreferencesViewController::doClose);
}

void PreferencesViewController::viewDidLoad() {
    const AppSetup& setup = Appwise::shared().setup();
    showFullLog_->setChecked(setup.showFullLog);
    const int index = ostrelcomm::rawValue(setup.sendingConflictBehaviour);
    ostrelcomm::systemLog("Hashvalue is " + std::to_string(index));
    sendingConflictBehaviour_->setCurrentIndex(index);
    // The user's choices only, not the state set above.
    connect(showFullLog_, &QCheckBox::clicked, this, &PreferencesViewController::showFullLogChange);
    connect(sendingConflictBehaviour_, &QComboBox::activated, this,
            &PreferencesViewController::sendingConflictBehaviourChange);
}

void PreferencesViewController::showFullLogChange(bool on) {
    AppSetup setup = Appwise::shared().setup();
    setup.showFullLog = on;
    save(setup);
    Appwise::shared().notifications()->post(kShowFullLogChangedNotification);
}

void PreferencesViewController::sendingConflictBehaviourChange(int index) {
    AppSetup setup = Appwise::shared().setup();
    switch (index) {
        case 1:
            setup.sendingConflictBehaviour = ConflictingBehaviours::alwaysReplace;
            break;
        case 2:
            setup.sendingConflictBehaviour = ConflictingBehaviours::rename;
            break;
        default:
            setup.sendingConflictBehaviour = ConflictingBehaviours::skipIfEqual;
            break;
    }
    save(setup);
}

void PreferencesViewController::doClose() { done(0); }

void PreferencesViewController::reject() { doClose(); }

}  // namespace quorvel
