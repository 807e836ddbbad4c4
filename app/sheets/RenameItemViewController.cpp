#include "app/sheets/RenameItemViewController.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <chrono>
#include <utility>

#include "app/sheets/InformationAnswer.h"
#include "app/sheets/SheetParts.h"
#include "app/utils/Appwise.h"
#include "app/utils/RunOnMain.h"
#include "app/utils/SelectedItems.h"
#include "tree/NameOrder.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemThumbnail.h"
#include "tree/RemoteItemType.h"

namespace quorvel {

namespace {

using ostrelcomm::RemoteItemType;

constexpr char kAlertTitle[] = "Comm libraries error";
constexpr char kAlertIcon[] = "NSInfo";
constexpr char kAborted[] = "\nOperation will be aborted.";

// Texts of the malformed answers, by notification: the listing's word for a
// failed job differs from the file information's.
struct AnswerTexts {
    const char* name;
    const char* badResultKind;
    const char* payloadKey;
};
constexpr AnswerTexts kFileInfoTexts{"getFileInfo", "value", "fileInfo"};
constexpr AnswerTexts kListingTexts{"queryRemoteDirectoryContent", "type", "dirInfo"};

// The alert's text for a malformed or failed answer; none for one that is
// not a fault.
std::optional<std::string> faultText(const AnswerTexts& texts, InformationAnswer answer,
                                     const std::optional<std::string>& word) {
    const std::string returned = std::string(texts.name) + " returned a bad ";
    switch (answer) {
        case InformationAnswer::badResultType:
            return returned + "type as 'Result'" + kAborted;
        case InformationAnswer::badResult:
            return returned + texts.badResultKind + " as 'Result' value: " + word.value_or("") + kAborted;
        case InformationAnswer::badCustomData:
            return returned + "type as 'CustomData'" + kAborted;
        case InformationAnswer::badPayload:
            return returned + "type as '" + texts.payloadKey + "'" + kAborted;
        case InformationAnswer::started:
        case InformationAnswer::otherRequester:
        case InformationAnswer::received:
            break;
    }
    return std::nullopt;
}

using sheet::fastEngine;
using sheet::text;

}  // namespace

RenameItemViewController::RenameItemViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("renameItem"));
    buildView();
    viewDidLoad();
}

RenameItemViewController::~RenameItemViewController() { stopObserving(); }

void RenameItemViewController::buildView() {
    setWindowTitle(text("RenameSheetTitle"));

    itemName_ = new QLineEdit(this);
    itemName_->setObjectName(QStringLiteral("itemName"));
    queryInProgress_ = new QProgressBar(this);
    queryInProgress_->setObjectName(QStringLiteral("queryInProgress"));
    queryInProgress_->setRange(0, 0);  // busy: it animates while shown
    queryInProgress_->setTextVisible(false);
    queryInProgress_->setMaximumWidth(120);
    cancelButton_ = new QPushButton(text("Cancel"), this);
    cancelButton_->setObjectName(QStringLiteral("cancelButton"));
    cancelButton_->setAutoDefault(false);
    renameButton_ = new QPushButton(text("Rename"), this);
    renameButton_->setObjectName(QStringLiteral("renameButton"));
    renameButton_->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(text("RenameNameLabel"), itemName_);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(queryInProgress_);
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    buttons->addWidget(renameButton_);
    auto* sheet = new QVBoxLayout(this);
    sheet->addLayout(form);
    sheet->addLayout(buttons);
    setMinimumWidth(400);

    connect(renameButton_, &QPushButton::clicked, this, &RenameItemViewController::doRename);
    connect(cancelButton_, &QPushButton::clicked, this, &RenameItemViewController::doCancel);
}

void RenameItemViewController::viewDidLoad() {
    connect(itemName_, &QLineEdit::textChanged, this, &RenameItemViewController::controlTextDidChange);
    renameButton_->setEnabled(false);
    queryInProgress_->setHidden(false);

    // Both before the request: an answer cannot come before its listener.
    EngineBridge& bridge = Appwise::shared().bridge(CommTasks::fastTask);
    fileInfoObserver_ =
        connect(&bridge, &EngineBridge::getFileInfo, this, &RenameItemViewController::fileInfoReceived);
    directoryInfoObserver_ = connect(&bridge, &EngineBridge::queryRemoteDirectoryContent, this,
                                     &RenameItemViewController::directoryInfoReceived);

    const auto& own = Appwise::shared().selectedItems().ownElements();
    if (!own.empty()) item_ = own.front();
    if (!item_ || item_->type == RemoteItemType::ROOT) {
        // Nothing that could be renamed.
        stopObserving();
        closeSheet();
        return;
    }
    const std::string source(kSource);
    if (item_->type == RemoteItemType::FILE)
        fastEngine().file_getFileInfo(item_->uuid, source);
    else
        fastEngine().directory_getInfo(item_->uuid, source);
}

void RenameItemViewController::fileInfoReceived(const FileInfoEvent& event) {
    if (!observing()) return;
    const InformationAnswer answer = readInformationAnswer(event, kSource);
    if (answer == InformationAnswer::received) return showCurrent(*event.data);
    if (const auto fault = faultText(kFileInfoTexts, answer, event.result)) abort(*fault);
}

void RenameItemViewController::directoryInfoReceived(const DirectoryContentEvent& event) {
    if (!observing()) return;
    const InformationAnswer answer = readInformationAnswer(event, kSource);
    if (answer == InformationAnswer::received) {
        // The folder's own entry; a listing without it leaves the name unknown.
        const auto& folder = (*event.data)->informations;
        return showCurrent(folder ? std::make_optional(folder->metadata) : std::nullopt);
    }
    if (const auto fault = faultText(kListingTexts, answer, event.result)) abort(*fault);
}

void RenameItemViewController::showCurrent(std::optional<ostrelcomm::RemoteItemMetadata> metadata) {
    // One answer is all the sheet takes.
    stopObserving();
    itemMetadata_ = std::move(metadata);
    if (itemMetadata_) itemName_->setText(QString::fromStdString(itemMetadata_->name));
    queryInProgress_->setHidden(true);
    controlTextDidChange();
}

void RenameItemViewController::controlTextDidChange() { renameButton_->setEnabled(renameAllowed()); }

bool RenameItemViewController::renameAllowed() const {
    if (!item_) return false;
    if (!itemMetadata_) return item_->type != RemoteItemType::FILE;
    return ostrelcomm::nameOrderKey(itemName_->text().toStdString()) != ostrelcomm::nameOrderKey(itemMetadata_->name);
}

void RenameItemViewController::doRename() {
    if (!renameAllowed()) return;
    const std::string name = itemName_->text().toStdString();
    switch (item_->type) {
        case RemoteItemType::FILE: {
            ostrelcomm::RemoteItemMetadata metadata = *itemMetadata_;
            metadata.name = name;
            metadata.modificationDate = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
            fastEngine().file_modify(item_->uuid, std::nullopt, metadata, std::nullopt);
            break;
        }
        case RemoteItemType::DIRECTORY:
            fastEngine().directory_modify(item_->uuid, std::nullopt, name, std::nullopt);
            break;
        case RemoteItemType::ROOT:
            break;
    }
    done(0);
}

void RenameItemViewController::doCancel() { done(0); }

void RenameItemViewController::reject() { doCancel(); }

void RenameItemViewController::done(int result) {
    stopObserving();
    QDialog::done(result);
}

void RenameItemViewController::abort(const std::string& message) {
    Appwise::runAlert(kAlertTitle, message, kAlertIcon);
    // Nothing more is taken in while the close waits its turn.
    stopObserving();
    closeSheet();
}

void RenameItemViewController::closeSheet() {
    runOnMain([self = QPointer<RenameItemViewController>(this)] {
        if (self) self->done(0);
    });
}

bool RenameItemViewController::observing() const { return static_cast<bool>(fileInfoObserver_); }

void RenameItemViewController::stopObserving() {
    for (QMetaObject::Connection* observer : {&fileInfoObserver_, &directoryInfoObserver_}) {
        if (*observer) disconnect(*observer);
        *observer = {};
    }
}

}  // namespace quorvel
