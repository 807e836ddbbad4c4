#include "app/sheets/ItemInfoViewController.h"

#include <QAbstractItemView>
#include <QContextMenuEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>

#include "app/Extensions/Formatters.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/SystemColor.h"
#include "app/sheets/InformationAnswer.h"
#include "app/sheets/SheetParts.h"
#include "app/utils/Appwise.h"
#include "app/utils/RunOnMain.h"
#include "app/utils/SelectedItems.h"
#include "platform/SystemLog.h"
#include "shares/ShareNotifications.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemType.h"

namespace quorvel {

namespace {

using ostrelcomm::RemoteItemType;

constexpr char kAlertTitle[] = "Comm libraries error";
constexpr char kAlertIcon[] = "NSInfo";
constexpr char kAborted[] = "\nOperation will be aborted.";
constexpr char kNothingSelected[] = "No items to query infos";
constexpr char kWaiting[] = "...";
constexpr char kFolderKind[] = "Folder";
constexpr char kNoPeerName[] = "No peer name";
constexpr int kThumbnailSide = 64;
constexpr int kRowIconSide = 20;

// Texts of the malformed answers, by notification.
struct AnswerTexts {
    const char* name;
    const char* payloadKey;
};
constexpr AnswerTexts kFileInfoTexts{"getFileInfo", "fileInfo"};
constexpr AnswerTexts kListingTexts{"queryRemoteDirectoryContent", "dirInfo"};

// The alert's text for a malformed or failed answer; none for one that is
// not a fault.
std::optional<std::string> faultText(const AnswerTexts& texts, InformationAnswer answer,
                                     const std::optional<std::string>& word) {
    const std::string name(texts.name);
    switch (answer) {
        case InformationAnswer::badResultType:
            return name + " returned a bad type as 'Result'" + kAborted;
        case InformationAnswer::badResult:
            return name + " returned a bad status as 'Result': " + word.value_or("") + kAborted;
        case InformationAnswer::badCustomData:
            return name + " returned a bad value as 'CustomData'" + kAborted;
        case InformationAnswer::badPayload:
            return name + " returned a bad value as '" + texts.payloadKey + "'" + kAborted;
        case InformationAnswer::started:
        case InformationAnswer::otherRequester:
        case InformationAnswer::received:
            break;
    }
    return std::nullopt;
}

using sheet::fastEngine;
using sheet::iconPixmap;
using sheet::text;

// Names and types come from remote metadata: never read as markup.
QLabel* plainLabel(QWidget* parent, const char* name) { return sheet::selectablePlainLabel(parent, name); }

QString fullDate(std::chrono::sys_seconds when) {
    return Formatters::date(when, Formatters::DateStyle::full, Formatters::DateStyle::long_);
}

}  // namespace

ItemInfoViewController::ItemInfoViewController(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("itemInfo"));
    buildView();
    viewDidLoad();
}

ItemInfoViewController::~ItemInfoViewController() { stopObserving(); }

void ItemInfoViewController::buildView() {
    setWindowTitle(text("ItemInfoSheetTitle"));

    thumbnail_ = sheet::itemImageLabel(this, "thumbnail", kThumbnailSide);
    itemName_ = sheet::itemNameLabel(plainLabel(this, "itemName"));
    creationDate_ = plainLabel(this, "creationDate");
    modifcationDate_ = plainLabel(this, "modifcationDate");
    itemSize_ = plainLabel(this, "itemSize");
    itemMIME_ = plainLabel(this, "itemMIME");
    queryInProgress_ = new QProgressBar(this);
    queryInProgress_->setObjectName(QStringLiteral("queryInProgress"));
    queryInProgress_->setRange(0, 0);  // busy: it animates while shown
    queryInProgress_->setTextVisible(false);
    queryInProgress_->setMaximumWidth(120);
    queryInProgress_->setHidden(true);

    sharesCaption_ = new QLabel(text("info.sharedWith"), this);
    tblShares_ = new QTableWidget(0, 1, this);
    tblShares_->setObjectName(QStringLiteral("tblShares"));
    tblShares_->horizontalHeader()->setVisible(false);
    tblShares_->horizontalHeader()->setStretchLastSection(true);
    tblShares_->verticalHeader()->setVisible(false);
    tblShares_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblShares_->setSelectionMode(QAbstractItemView::SingleSelection);
    tblShares_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblShares_->setShowGrid(false);
    tblShares_->setIconSize(QSize(kRowIconSide, kRowIconSide));
    tblShares_->setMinimumHeight(120);
    // Shown once the item's shares are known to be some.
    tblShares_->setHidden(true);
    sharesCaption_->setHidden(true);

    closeButton_ = new QPushButton(text("Close"), this);
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    closeButton_->setDefault(true);

    auto* form = new QFormLayout;
    form->addRow(text("info.name"), itemName_);
    form->addRow(text("info.created"), creationDate_);
    form->addRow(text("info.modified"), modifcationDate_);
    form->addRow(text("info.size"), itemSize_);
    form->addRow(text("info.kind"), itemMIME_);
    auto* header = new QHBoxLayout;
    header->addWidget(thumbnail_, 0, Qt::AlignTop);
    header->addLayout(form, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(queryInProgress_);
    buttons->addStretch();
    buttons->addWidget(closeButton_);
    auto* sheet = new QVBoxLayout(this);
    sheet->addLayout(header);
    sheet->addWidget(sharesCaption_);
    sheet->addWidget(tblShares_, 1);
    sheet->addLayout(buttons);
    setMinimumWidth(460);

    connect(closeButton_, &QPushButton::clicked, this, &ItemInfoViewController::doClose);
}

void ItemInfoViewController::viewDidLoad() {
    observeAnswers();
    for (QLabel* field : {itemName_, creationDate_, modifcationDate_, itemSize_, itemMIME_})
        field->setText(QString::fromLatin1(kWaiting));
    queryInProgress_->setHidden(false);
    sendQueries();
}

void ItemInfoViewController::observeAnswers() {
    // All five before any request: an answer cannot come before its listener.
    EngineBridge& bridge = Appwise::shared().bridge(CommTasks::fastTask);
    fileInfoObserver_ = connect(&bridge, &EngineBridge::getFileInfo, this, &ItemInfoViewController::fileInfoReceived);
    directoryInfoObserver_ = connect(&bridge, &EngineBridge::queryRemoteDirectoryContent, this,
                                     &ItemInfoViewController::directoryInfoReceived);
    sharesAvailablesObserver_ =
        connect(&bridge, &EngineBridge::queryForShares, this, &ItemInfoViewController::sharesReceived);
    trustedUsersObserver_ = connect(&bridge, &EngineBridge::trustsList, this, &ItemInfoViewController::trustsReceived);
    shareRemovedObserver_ =
        connect(&bridge, &EngineBridge::removeShareTerminated, this, &ItemInfoViewController::shareRemoved);
}

void ItemInfoViewController::sendQueries() {
    const SelectedItems& selection = Appwise::shared().selectedItems();
    auto& engine = fastEngine();
    const std::string source(kSource);
    if (!selection.ownElements().empty()) {
        const auto& item = selection.ownElements().front();
        switch (item.type) {
            case RemoteItemType::FILE:
                engine.file_getFileInfo(item.uuid, source);
                engine.shares_queryForShares(item.uuid);
                engine.shares_getTrustedUsers();
                break;
            case RemoteItemType::DIRECTORY:
                // A folder's shares are not asked for.
                engine.directory_getInfo(item.uuid, source);
                break;
            case RemoteItemType::ROOT:
                break;
        }
        return;
    }
    if (!selection.shares().empty()) {
        // Another user's item: its shares are the owner's business.
        engine.file_getFileInfo(selection.shares().front().itemuuid, source);
        return;
    }
    ostrelcomm::systemLog(kNothingSelected);
    closeSheet();
}

void ItemInfoViewController::fileInfoReceived(const FileInfoEvent& event) {
    if (!observing()) return;
    const InformationAnswer answer = readInformationAnswer(event, kSource);
    if (answer == InformationAnswer::received) return showFileInfo(*event.data);
    if (const auto fault = faultText(kFileInfoTexts, answer, event.result)) abort(*fault);
}

void ItemInfoViewController::directoryInfoReceived(const DirectoryContentEvent& event) {
    if (!observing()) return;
    const InformationAnswer answer = readInformationAnswer(event, kSource);
    if (answer == InformationAnswer::received) return showFolderInfo(**event.data);
    if (const auto fault = faultText(kListingTexts, answer, event.result)) abort(*fault);
}

void ItemInfoViewController::showFileInfo(const ostrelcomm::RemoteItemMetadata& metadata) {
    QImage image;
    if (metadata.thumbnail) image = remoteThumbnailImage(*metadata.thumbnail);
    QString imageName;
    if (image.isNull()) {
        imageName = QString::fromLatin1(kDocumentImage);
        image = namedImage(imageName);
    }
    thumbnail_->setPixmap(iconPixmap(image, kThumbnailSide));
    thumbnail_->setProperty(kImageNameProperty, imageName);
    itemName_->setText(QString::fromStdString(metadata.name));
    creationDate_->setText(fullDate(metadata.creationDate));
    modifcationDate_->setText(fullDate(metadata.modificationDate));
    itemSize_->setText(Formatters::byteCount(metadata.fileSize.value_or(0), true));
    itemMIME_->setText(metadata.mime ? QString::fromStdString(*metadata.mime) : text("Unknown"));
    stopSpinner();
}

void ItemInfoViewController::showFolderInfo(const ostrelcomm::RemoteDirInfo& dirInfo) {
    itemMIME_->setText(QString::fromLatin1(kFolderKind));
    thumbnail_->setPixmap(iconPixmap(namedImage(QString::fromLatin1(kFolderImage)), kThumbnailSide));
    thumbnail_->setProperty(kImageNameProperty, QString::fromLatin1(kFolderImage));
    // Without the folder's own entry the other fields keep waiting.
    if (const auto& folder = dirInfo.informations) {
        itemName_->setText(QString::fromStdString(folder->metadata.name));
        creationDate_->setText(fullDate(folder->metadata.creationDate));
        modifcationDate_->setText(fullDate(folder->metadata.modificationDate));
        itemSize_->setText(Formatters::byteCount(folder->orig_size, true));
    }
    stopSpinner();
}

void ItemInfoViewController::sharesReceived(const QueryForSharesEvent& event) {
    if (!observing()) return;
    if (event.result != ostrelcomm::shares::kReceived || !event.data) return;
    actualShares_ = *event.data;
    const bool none = actualShares_.empty();
    tblShares_->setHidden(none);
    sharesCaption_->setHidden(none);
    reloadShares();
}

void ItemInfoViewController::trustsReceived(const TrustsListEvent& event) {
    if (!observing()) return;
    if (event.result != ostrelcomm::shares::kAvailable || !event.data) return;
    trusts_ = *event.data;
    reloadShares();
}

void ItemInfoViewController::reloadShares() {
    const int rows = static_cast<int>(actualShares_.size());
    tblShares_->setRowCount(rows);
    for (int row = 0; row < rows; ++row) tblShares_->setItem(row, 0, viewFor(row));
}

QTableWidgetItem* ItemInfoViewController::viewFor(int row) const {
    const auto& share = actualShares_.at(static_cast<std::size_t>(row));
    const bool trusted =
        share.peerUsername && std::any_of(trusts_.begin(), trusts_.end(), [&](const ostrelcomm::TrustCode& code) {
            return code.peerUsername() == *share.peerUsername;
        });
    const QColor colour = systemColor(trusted ? SystemColor::green : SystemColor::orange);
    const QString imageName = QString::fromLatin1(trusted ? kTrustedImage : kUntrustedImage);
    const QImage image = namedImage(imageName);
    auto* item = new QTableWidgetItem(share.peerUsername ? QString::fromStdString(*share.peerUsername)
                                                         : QString::fromLatin1(kNoPeerName));
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setForeground(colour);
    item->setData(kImageNameRole, imageName);
    item->setData(Qt::DecorationRole, iconPixmap(tintedImage(image, colour), kRowIconSide));
    return item;
}

void ItemInfoViewController::contextMenuEvent(QContextMenuEvent* event) { rightMouseDown(event->globalPos()); }

void ItemInfoViewController::rightMouseDown(const QPoint& globalPosition) {
    if (!observing() || tblShares_->selectionModel()->selectedRows().isEmpty()) return;
    if (shareMenu_) shareMenu_->close();
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("shareMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(text("Delete share"), this, &ItemInfoViewController::deleteShare);
    shareMenu_ = menu;
    menu->popup(globalPosition);
}

void ItemInfoViewController::deleteShare() {
    const auto rows = tblShares_->selectionModel()->selectedRows();
    if (rows.isEmpty()) return;
    const auto row = static_cast<std::size_t>(rows.front().row());
    if (row >= actualShares_.size()) return;
    // Asks nothing: the share alone goes, the item stays.
    if (const auto& shareUUID = actualShares_[row].shareUUID) fastEngine().shares_removeShare(*shareUUID);
}

void ItemInfoViewController::shareRemoved(const RemoveShareEvent& event) {
    if (!observing()) return;
    if (event.result != ostrelcomm::shares::kRemoved) return;
    const auto& own = Appwise::shared().selectedItems().ownElements();
    if (own.empty() || own.front().type != RemoteItemType::FILE) return;
    Appwise::shared().setRefreshRemoteContent(true);
    auto& engine = fastEngine();
    engine.shares_queryForShares(own.front().uuid);
    engine.shares_getTrustedUsers();
}

void ItemInfoViewController::stopSpinner() { queryInProgress_->setHidden(true); }

void ItemInfoViewController::abort(const std::string& message) {
    Appwise::runAlert(kAlertTitle, message, kAlertIcon);
    // Nothing more is taken in while the close waits its turn.
    stopObserving();
    closeSheet();
}

void ItemInfoViewController::closeSheet() {
    runOnMain([self = QPointer<ItemInfoViewController>(this)] {
        if (self) self->done(0);
    });
}

void ItemInfoViewController::doClose() { done(0); }

void ItemInfoViewController::reject() { doClose(); }

void ItemInfoViewController::done(int result) {
    stopObserving();
    if (shareMenu_) shareMenu_->close();
    QDialog::done(result);
}

bool ItemInfoViewController::observing() const { return static_cast<bool>(fileInfoObserver_); }

void ItemInfoViewController::stopObserving() {
    for (QMetaObject::Connection* observer : {&fileInfoObserver_, &directoryInfoObserver_, &sharesAvailablesObserver_,
                                              &trustedUsersObserver_, &shareRemovedObserver_}) {
        if (*observer) disconnect(*observer);
        *observer = {};
    }
}

}  // namespace quorvel
