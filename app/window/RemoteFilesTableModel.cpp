#include "app/window/RemoteFilesTableModel.h"

#include <QBrush>
#include <QIcon>
#include <QPixmap>

#include <algorithm>
#include <initializer_list>
#include <string>

#include "app/Extensions/Formatters.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/SystemColor.h"
#include "app/utils/Pasteboard.h"

namespace quorvel {

namespace {

constexpr int kColumns = 3;
constexpr char kSharedAttribute[] = "shared";

// The program's own images, whatever the desktop's theme: the rows look the
// same on every machine.
QImage makeKindImage(TableRemoteItemType type) {
    switch (type) {
        case TableRemoteItemType::ROOT: return namedImage(QStringLiteral("cautionIcon"));
        case TableRemoteItemType::FILE: return namedImage(QStringLiteral("GenericDocumentIcon"));
        case TableRemoteItemType::DIRECTORY: return namedImage(QStringLiteral("GenericFolderIcon"));
        case TableRemoteItemType::PEER: return namedImage(QStringLiteral("userIcon"));
        case TableRemoteItemType::SHARESDIR: return namedImage(QStringLiteral("sharedFolderIcon"));
    }
    return {};
}

bool isShared(const std::vector<std::string>& attrib) {
    return std::find(attrib.begin(), attrib.end(), kSharedAttribute) != attrib.end();
}

}  // namespace

RemoteFilesTableModel::RemoteFilesTableModel(const RemoteItemsTableContent& rows, const Pasteboard& pasteboard,
                                             QObject* parent)
    : QAbstractTableModel(parent), rows_(rows), pasteboard_(pasteboard) {}

void RemoteFilesTableModel::reload(const std::function<void()>& change) {
    beginResetModel();
    change();
    endResetModel();
}

const QImage& RemoteFilesTableModel::kindImage(TableRemoteItemType type) const {
    auto& image = kindImages_[static_cast<std::size_t>(type)];
    if (!image) image = makeKindImage(type);
    return *image;
}

CellDescription<QImage> RemoteFilesTableModel::remoteItemsCellData(
    const RemoteItemsTableContent::RemoteItemsTableItem& item, int column) const {
    switch (column) {
        case 0: {
            QImage icon = kindImage(item.type);
            if (isShared(item.attrib)) {
                auto& badged = badgedImages_[static_cast<std::size_t>(item.type)];
                if (!badged)
                    badged = addBadge(icon, namedImage(QStringLiteral("sharedBadge-icon")),
                                      systemColor(SystemColor::blue));
                icon = *badged;
            }
            return {icon, QString::fromStdString(item.name), QString::fromLatin1(kRemoteNameCellID)};
        }
        case 1:
            return {QImage(), item.fileSize ? Formatters::byteCount(*item.fileSize) : QString(),
                    QString::fromLatin1(kRemoteSizeCellID)};
        case 2:
            return {QImage(),
                    item.modificationDate ? Formatters::date(*item.modificationDate, Formatters::DateStyle::medium,
                                                             Formatters::DateStyle::short_)
                                          : QString(),
                    QString::fromLatin1(kRemoteModDateCellID)};
        default:
            return {};
    }
}

bool RemoteFilesTableModel::isCut(const RemoteItemsTableContent::RemoteItemsTableItem& item) const {
    return pasteboard_.operationType() == Pasteboard::OperationType::remoteCut &&
           pasteboard_.uuidInPasteboard(item.uuid);
}

int RemoteFilesTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.content.size());
}

int RemoteFilesTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant RemoteFilesTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns) return {};
    const auto& item = rows_.content[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole: return remoteItemsCellData(item, index.column()).text;
        case kCellIdentifierRole: return remoteItemsCellData(item, index.column()).identifier;
        case Qt::DecorationRole: {
            const QImage icon = remoteItemsCellData(item, index.column()).icon;
            if (icon.isNull()) return {};
            // An icon, so that the view draws it at its icon size.
            return QIcon(QPixmap::fromImage(
                tintedImage(icon, systemColor(isCut(item) ? SystemColor::tertiaryLabel : SystemColor::label))));
        }
        case Qt::ForegroundRole:
            return QBrush(systemColor(isCut(item) ? SystemColor::tertiaryLabel : SystemColor::label));
        case Qt::TextAlignmentRole: return fileTableAlignment(index.column());
        default: return {};
    }
}

QVariant RemoteFilesTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    return fileTableHeaderData(section, orientation, role);
}

}  // namespace quorvel
