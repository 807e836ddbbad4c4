#include "app/account/UserProfileTableSource.h"

#include <utility>

namespace quorvel {

UserProfileTableSource::UserProfileTableSource(QString identifier, QStringList columnTitles, RowCount rows,
                                               CellAt cell, QObject* parent)
    : QAbstractTableModel(parent),
      identifier_(std::move(identifier)),
      columnTitles_(std::move(columnTitles)),
      rows_(std::move(rows)),
      cell_(std::move(cell)) {}

void UserProfileTableSource::reloadData() {
    beginResetModel();
    endResetModel();
}

int UserProfileTableSource::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return rows_(identifier_);
}

int UserProfileTableSource::columnCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return static_cast<int>(columnTitles_.size());
}

QVariant UserProfileTableSource::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount()) return {};
    if (role != Qt::DisplayRole && role != Qt::ForegroundRole && role != kCellIdentifierRole) return {};
    const std::optional<TableCell> cell = cell_(identifier_, index.column(), index.row());
    if (!cell) return {};
    switch (role) {
        case Qt::DisplayRole:
            return cell->text;
        case Qt::ForegroundRole:
            return cell->colour;
        default:
            return cell->identifier;
    }
}

QVariant UserProfileTableSource::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    if (section < 0 || section >= columnTitles_.size()) return {};
    return columnTitles_.at(section);
}

}  // namespace quorvel
