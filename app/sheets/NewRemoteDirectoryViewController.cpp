#include "app/sheets/NewRemoteDirectoryViewController.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QPixmap>
#include <QVBoxLayout>

#include "app/Extensions/Image.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/TrimmedOfSpaces.h"
#include "app/utils/Appwise.h"
#include "app/utils/RemoteTags.h"
#include "tree/NameOrder.h"
#include "tree/RemoteDirInfo.h"

namespace quorvel {

namespace {

constexpr int kWarningIconSide = 16;

QString text(const char* key) { return QString::fromStdString(localize(key)); }

}  // namespace

NewRemoteDirectoryViewController::NewRemoteDirectoryViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("newRemoteDirectory"));
    buildView();
    viewDidLoad();
}

void NewRemoteDirectoryViewController::buildView() {
    setWindowTitle(text("NewRemoteFolderSheetTitle"));

    newFolderName_ = new QLineEdit(this);
    newFolderName_->setObjectName(QStringLiteral("newFolderName"));
    warningIcon_ = new QLabel(this);
    warningIcon_->setObjectName(QStringLiteral("warningIcon"));
    warningIcon_->setPixmap(QPixmap::fromImage(namedImage(QStringLiteral("cautionIcon"))
                                                   .scaled(kWarningIconSide, kWarningIconSide, Qt::KeepAspectRatio,
                                                           Qt::SmoothTransformation)));
    warningText_ = new QLabel(text("NewRemoteFolderExists"), this);
    warningText_->setObjectName(QStringLiteral("warningText"));
    cancelButton_ = new QPushButton(text("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    cancelButton_->setAutoDefault(false);
    confirmPushButton_ = new QPushButton(text("OK"), this);
    confirmPushButton_->setObjectName(QStringLiteral("confirmPushButton"));
    confirmPushButton_->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(text("NewFolderNameLabel"), newFolderName_);
    auto* warning = new QHBoxLayout;
    warning->addWidget(warningIcon_);
    warning->addWidget(warningText_, 1);
    form->addRow(QString(), warning);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    buttons->addWidget(confirmPushButton_);
    auto* sheet = new QVBoxLayout(this);
    sheet->addWidget(new QLabel(text("NewRemoteFolderMessage"), this));
    sheet->addLayout(form);
    sheet->addLayout(buttons);
    setMinimumWidth(380);

    connect(confirmPushButton_, &QPushButton::clicked, this,
            &NewRemoteDirectoryViewController::confirmDirectoryCreation);
    connect(cancelButton_, &QPushButton::clicked, this, &NewRemoteDirectoryViewController::closeDirectoryPopup);
}

void NewRemoteDirectoryViewController::viewDidLoad() {
    confirmPushButton_->setEnabled(false);
    warningIcon_->setHidden(true);
    warningText_->setHidden(true);
    connect(newFolderName_, &QLineEdit::textChanged, this, &NewRemoteDirectoryViewController::controlTextDidChange);
    // Files and folders alike: the server keeps one name per item of a folder.
    if (const auto& listing = Appwise::shared().remoteDirectoryInfo()) {
        for (const auto& item : listing->content)
            existingKeys_.insert(ostrelcomm::nameOrderKey(item.metadata.name));
    }
}

void NewRemoteDirectoryViewController::controlTextDidChange() {
    const QString name = newFolderName_->text();
    const bool empty = trimmedOfSpaces(name).isEmpty();
    const bool exists = existingKeys_.count(ostrelcomm::nameOrderKey(name.toStdString())) != 0;
    confirmPushButton_->setEnabled(!empty && !exists);
    warningIcon_->setHidden(!exists);
    warningText_->setHidden(!exists);
}

void NewRemoteDirectoryViewController::confirmDirectoryCreation() {
    if (!confirmPushButton_->isEnabled()) return;
    Appwise& appwise = Appwise::shared();
    appwise.engine(CommTasks::fastTask)
        ->directory_create(newFolderName_->text().toStdString(), appwise.remotePath().actPathUUID(),
                           std::string(kMainWindowSource));
    done(0);
}

void NewRemoteDirectoryViewController::closeDirectoryPopup() { done(0); }

void NewRemoteDirectoryViewController::reject() { closeDirectoryPopup(); }

}  // namespace quorvel
