#include "app/window/LocalFilesTableModel.h"

#include <QBrush>

#include "app/Extensions/Formatters.h"
#include "app/Extensions/SystemColor.h"

namespace quorvel {

namespace {

constexpr int kColumns = 3;

}  // namespace

LocalFilesTableModel::LocalFilesTableModel(const std::optional<std::vector<Metadata>>& directoryItems,
                                           QObject* parent)
    : QAbstractTableModel(parent), directoryItems_(directoryItems) {}

void LocalFilesTableModel::reload(const std::function<void()>& change) {
    beginResetModel();
    change();
    endResetModel();
}

CellDescription<QIcon> LocalFilesTableModel::localItemsCellData(const Metadata& item, int column) {
    switch (column) {
        case 0: return {item.icon, QString::fromStdString(item.name), QString::fromLatin1(kLocalNameCellID)};
        case 1:
            return {QIcon(), item.isFolder ? QStringLiteral("--") : Formatters::byteCount(item.size),
                    QString::fromLatin1(kLocalSizeCellID)};
        case 2:
            return {QIcon(), Formatters::date(item.date, Formatters::DateStyle::medium, Formatters::DateStyle::short_),
                    QString::fromLatin1(kLocalModDateCellID)};
        default:
            return {};
    }
}

int LocalFilesTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !directoryItems_) return 0;
    return static_cast<int>(directoryItems_->size());
}

int LocalFilesTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant LocalFilesTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= kColumns) return {};
    const Metadata& item = (*directoryItems_)[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole: return localItemsCellData(item, index.column()).text;
        case kCellIdentifierRole: return localItemsCellData(item, index.column()).identifier;
        case Qt::DecorationRole: {
            // The desktop theme's images are never templates: they are shown
            // as they are.
            const QIcon icon = localItemsCellData(item, index.column()).icon;
            return icon.isNull() ? QVariant() : QVariant(icon);
        }
        case Qt::ForegroundRole: return QBrush(systemColor(SystemColor::label));
        case Qt::TextAlignmentRole: return fileTableAlignment(index.column());
        default: return {};
    }
}

QVariant LocalFilesTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    return fileTableHeaderData(section, orientation, role);
}

}  // namespace quorvel
