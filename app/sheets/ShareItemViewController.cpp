#include "app/sheets/ShareItemViewController.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelection>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "app/Extensions/Formatters.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/SystemColor.h"
#include "app/Extensions/TrimmedOfSpaces.h"
#include "app/sheets/SheetParts.h"
#include "app/utils/AlertPresenter.h"
#include "app/utils/Appwise.h"
#include "app/utils/SelectedItems.h"
#include "shares/ShareNotifications.h"
#include "tree/RemoteItemType.h"

namespace quorvel {

namespace {

using ostrelcomm::PeerShareData;

constexpr char kNoPeerUUID[] = "NONE";
constexpr char kNoPeerName[] = "No peer name";
constexpr char kAlertIcon[] = "NSInfo";
constexpr int kIconSide = 64;
constexpr int kRowIconSide = 20;

using sheet::fastEngine;
using sheet::iconPixmap;
using sheet::text;

// Sizes come from metadata that any of the user's clients wrote: a sum that
// would leave the range stops at its end.
std::int64_t saturatedSum(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<std::int64_t>::max() : std::numeric_limits<std::int64_t>::min();
}

// Names come from remote metadata: never read as markup.
using sheet::plainLabel;

}  // namespace

PeerShareData ShareItemViewController::emptyPeer() {
    PeerShareData peer;
    peer.uuid = kNoPeerUUID;
    peer.trusted = false;
    peer.username = kNoPeerName;
    return peer;
}

ShareItemViewController::ShareItemViewController(QWidget* parent) : QDialog(parent), foundPeer_(emptyPeer()) {
    setObjectName(QStringLiteral("shareItem"));
    buildView();
    viewDidLoad();
}

ShareItemViewController::~ShareItemViewController() { stopObserving(); }

void ShareItemViewController::buildView() {
    setWindowTitle(text("ShareSheetTitle"));

    itemIcon_ = sheet::itemImageLabel(this, "itemIcon", kIconSide);
    itemName_ = sheet::itemNameLabel(plainLabel(this, "itemName"));
    modificationDate_ = plainLabel(this, "modificationDate");
    itemSize_ = plainLabel(this, "itemSize");

    searchPeer_ = new QLineEdit(this);
    searchPeer_->setObjectName(QStringLiteral("searchPeer"));
    searchPeer_->setPlaceholderText(text("share.searchPlaceholder"));
    searchPeer_->setClearButtonEnabled(true);

    trustedUsersTable_ = new QTableWidget(0, 1, this);
    trustedUsersTable_->setObjectName(QStringLiteral("trustedUsersTable"));
    trustedUsersTable_->setHorizontalHeaderLabels({text("share.column")});
    trustedUsersTable_->horizontalHeader()->setStretchLastSection(true);
    trustedUsersTable_->verticalHeader()->setVisible(false);
    trustedUsersTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    trustedUsersTable_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    trustedUsersTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    trustedUsersTable_->setShowGrid(false);
    trustedUsersTable_->setIconSize(QSize(kRowIconSide, kRowIconSide));
    trustedUsersTable_->setMinimumHeight(180);

    closeButton_ = new QPushButton(text("Close"), this);
    closeButton_->setObjectName(QStringLiteral("closeButton"));
    closeButton_->setAutoDefault(false);
    shareButton_ = new QPushButton(text("Share"), this);
    shareButton_->setObjectName(QStringLiteral("shareButton"));
    // Return shares, but in the search field, which takes it first.
    shareButton_->setDefault(true);

    auto* details = new QVBoxLayout;
    details->addWidget(itemName_);
    details->addWidget(modificationDate_);
    details->addWidget(itemSize_);
    details->addStretch();
    auto* header = new QHBoxLayout;
    header->addWidget(itemIcon_, 0, Qt::AlignTop);
    header->addLayout(details, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(closeButton_);
    buttons->addWidget(shareButton_);
    auto* sheet = new QVBoxLayout(this);
    sheet->addLayout(header);
    sheet->addWidget(searchPeer_);
    sheet->addWidget(trustedUsersTable_, 1);
    sheet->addLayout(buttons);
    setMinimumWidth(420);

    searchPeer_->installEventFilter(this);
    connect(closeButton_, &QPushButton::clicked, this, &ShareItemViewController::doClose);
    connect(shareButton_, &QPushButton::clicked, this, &ShareItemViewController::doShare);
}

void ShareItemViewController::viewDidLoad() { reloadData({}); }

void ShareItemViewController::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (appeared_) return;
    appeared_ = true;
    viewDidAppear();
}

bool ShareItemViewController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == searchPeer_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            searchUser();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ShareItemViewController::viewDidAppear() {
    // Both answers are listened to before the first question goes out.
    EngineBridge& bridge = Appwise::shared().bridge(CommTasks::fastTask);
    tableRefreshObserver_ =
        connect(&bridge, &EngineBridge::trustsList, this, &ShareItemViewController::trustsReceived);
    searchResultTableRefreshObserver_ =
        connect(&bridge, &EngineBridge::peerShareData, this, &ShareItemViewController::peerShareDataReceived);

    // Folders, the root and items of other users are never shared.
    for (const auto& item : Appwise::shared().selectedItems().ownElements())
        if (item.type == ostrelcomm::RemoteItemType::FILE) shareableItems_.push_back(item);
    fillHeader();

    fastEngine().shares_getTrustedUsers();
}

void ShareItemViewController::fillHeader() {
    if (shareableItems_.size() == 1) {
        const auto& metadata = shareableItems_.front().metadata;
        itemName_->setText(QString::fromStdString(metadata.name));
        // A listing's items carry no thumbnail: then there is no image.
        itemIcon_->setPixmap(metadata.thumbnail ? iconPixmap(remoteThumbnailImage(*metadata.thumbnail), kIconSide)
                                                : QPixmap());
        itemIcon_->setProperty(kImageNameProperty, QString());
        modificationDate_->setText(
            Formatters::date(metadata.modificationDate, Formatters::DateStyle::full, Formatters::DateStyle::long_));
        itemSize_->setText(Formatters::byteCount(metadata.fileSize.value_or(0), true));
        return;
    }
    itemName_->setText(text("Multiple items"));
    modificationDate_->setText(QStringLiteral("---"));
    itemIcon_->setPixmap(iconPixmap(namedImage(QString::fromLatin1(kMultipleItemsImage)), kIconSide));
    itemIcon_->setProperty(kImageNameProperty, QString::fromLatin1(kMultipleItemsImage));
    std::int64_t total = 0;
    for (const auto& item : shareableItems_) total = saturatedSum(total, item.metadata.fileSize.value_or(0));
    itemSize_->setText(Formatters::byteCount(total, true));
}

void ShareItemViewController::trustsReceived(const TrustsListEvent& event) {
    if (!tableRefreshObserver_) return;
    if (event.result != ostrelcomm::shares::kAvailable || !event.data) return;
    const Chosen keep = chosen();
    trusts_ = *event.data;
    reloadData(keep);
}

void ShareItemViewController::searchUser() {
    const QString typed = searchPeer_->text();
    if (trimmedOfSpaces(typed).isEmpty()) {
        const Chosen keep = chosen();
        foundPeer_ = emptyPeer();
        reloadData(keep);
        return;
    }
    // The text as typed, spaces included: a name is what the user wrote.
    const std::string name = typed.toStdString();
    const auto trusted =
        std::find_if(trusts_.begin(), trusts_.end(), [&](const auto& code) { return code.peerUsername() == name; });
    if (trusted != trusts_.end()) {
        selectRowAlone(static_cast<int>(trusted - trusts_.begin()) + offset());
        return;
    }
    fastEngine().user_addGetShareProfile(name);
}

void ShareItemViewController::peerShareDataReceived(const PeerShareDataEvent& event) {
    if (!searchResultTableRefreshObserver_) return;
    if (!event.result) return;
    const Chosen keep = chosen();
    foundPeer_ = event.data ? *event.data : emptyPeer();
    reloadData(keep);
    if (!peerFound()) Appwise::runAlert("No peers found", "NoPeersFoundMsg", kAlertIcon);
}

bool ShareItemViewController::peerFound() const { return foundPeer_.uuid != kNoPeerUUID; }

int ShareItemViewController::offset() const { return peerFound() ? 1 : 0; }

int ShareItemViewController::numberOfRows() const { return static_cast<int>(trusts_.size()) + offset(); }

QTableWidgetItem* ShareItemViewController::viewFor(int row) const {
    QString name;
    bool trusted = true;
    if (peerFound() && row == 0) {
        name = QString::fromStdString(foundPeer_.username);
        trusted = foundPeer_.trusted;
    } else {
        name = QString::fromStdString(trusts_.at(static_cast<std::size_t>(row - offset())).peerUsername());
    }
    const QString imageName = QString::fromLatin1(trusted ? kTrustedImage : kUntrustedImage);
    const QImage image = namedImage(imageName);
    const QColor tint = systemColor(trusted ? SystemColor::green : SystemColor::orange);
    auto* item = new QTableWidgetItem(name);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setData(kImageNameRole, imageName);
    item->setData(Qt::DecorationRole, iconPixmap(tintedImage(image, tint), kRowIconSide));
    return item;
}

ShareItemViewController::Chosen ShareItemViewController::chosen() const {
    Chosen chosen;
    const auto* selection = trustedUsersTable_->selectionModel();
    if (!selection) return chosen;
    for (const QModelIndex& index : selection->selectedRows()) {
        const int row = index.row();
        if (peerFound() && row == 0) {
            chosen.foundPeerUUID = foundPeer_.uuid;
        } else if (row >= offset() && row - offset() < static_cast<int>(trusts_.size())) {
            chosen.trustedPeerUUIDs.insert(trusts_[static_cast<std::size_t>(row - offset())].peerUUID());
        }
    }
    return chosen;
}

void ShareItemViewController::reloadData(const Chosen& keep) {
    trustedUsersTable_->clearSelection();
    const int rows = numberOfRows();
    trustedUsersTable_->setRowCount(rows);
    for (int row = 0; row < rows; ++row) trustedUsersTable_->setItem(row, 0, viewFor(row));

    QItemSelection selection;
    const auto* model = trustedUsersTable_->model();
    const auto choose = [&](int row) { selection.select(model->index(row, 0), model->index(row, 0)); };
    if (peerFound() && keep.foundPeerUUID == foundPeer_.uuid) choose(0);
    for (std::size_t i = 0; i < trusts_.size(); ++i)
        if (keep.trustedPeerUUIDs.count(trusts_[i].peerUUID())) choose(static_cast<int>(i) + offset());
    if (!selection.isEmpty())
        trustedUsersTable_->selectionModel()->select(selection,
                                                     QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void ShareItemViewController::selectRowAlone(int row) {
    const QModelIndex index = trustedUsersTable_->model()->index(row, 0);
    trustedUsersTable_->selectionModel()->select(index,
                                                 QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    trustedUsersTable_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    trustedUsersTable_->scrollTo(index);
}

std::vector<PeerShareData> ShareItemViewController::chosenPeers() const {
    std::vector<int> rows;
    for (const QModelIndex& index : trustedUsersTable_->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    std::vector<PeerShareData> peers;
    for (const int row : rows) {
        if (peerFound() && row == 0) {
            peers.push_back(foundPeer_);
            continue;
        }
        const auto index = static_cast<std::size_t>(row - offset());
        if (row < offset() || index >= trusts_.size()) continue;
        const auto& code = trusts_[index];
        PeerShareData peer;
        peer.uuid = code.peerUUID();
        peer.trusted = true;
        peer.username = code.peerUsername();
        peer.pubSHKey = code.pubshkey();
        peers.push_back(std::move(peer));
    }
    return peers;
}

void ShareItemViewController::doShare() {
    const std::vector<PeerShareData> peers = chosenPeers();
    if (peers.empty()) {
        Appwise::shared().setRefreshRemoteContent(true);
        closeSheet();
        return;
    }
    const bool allTrusted = std::all_of(peers.begin(), peers.end(), [](const auto& peer) { return peer.trusted; });
    if (allTrusted) {
        share(peers);
        return;
    }
    const QPointer<ShareItemViewController> self(this);
    Appwise::shared().alertPresenter().ask(
        {text("ShareUntrustedTitle"), text("ShareUntrustedMessage"), AlertIcon::warning,
         {text("Cancel"), text("Share")}},
        this, [self, peers](int button) {
            // Any other answer leaves the sheet as it was.
            if (self && button == 1) self->share(peers);
        });
}

void ShareItemViewController::share(const std::vector<PeerShareData>& peers) {
    // The peer's identifier and key are not passed: the share job asks the
    // server for the key of the user it names.
    auto& engine = fastEngine();
    for (const auto& peer : peers)
        for (const auto& item : shareableItems_) engine.shares_shareItem(peer.username, item.uuid);
    Appwise::shared().setRefreshRemoteContent(true);
    closeSheet();
}

void ShareItemViewController::doClose() { closeSheet(); }

void ShareItemViewController::reject() { doClose(); }

void ShareItemViewController::done(int result) {
    stopObserving();
    QDialog::done(result);
}

void ShareItemViewController::closeSheet() { done(0); }

void ShareItemViewController::stopObserving() {
    if (tableRefreshObserver_) disconnect(tableRefreshObserver_);
    if (searchResultTableRefreshObserver_) disconnect(searchResultTableRefreshObserver_);
    tableRefreshObserver_ = {};
    searchResultTableRefreshObserver_ = {};
}

}  // namespace quorvel
