#pragma once

#include <QAbstractTableModel>
#include <QIcon>

#include <functional>
#include <optional>
#include <vector>

#include "app/local/Metadata.h"
#include "app/window/FileTableCell.h"

namespace quorvel {

// The local table ("localFiles"): one row per entry of the main view's
// directoryItems (none while there is no listing), three columns by
// position: name, size, modification date. The model reads the entries where
// the view keeps them; the view changes them only inside reload().
//
// Per cell: the icon (column 0) under DecorationRole, the text under
// DisplayRole, the cell identifier under kCellIdentifierRole, and the text's
// colour, the label colour, under ForegroundRole.
//
// On the main thread only.
class LocalFilesTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    explicit LocalFilesTableModel(const std::optional<std::vector<Metadata>>& directoryItems,
                                  QObject* parent = nullptr);

    // Runs `change` of the entries as one reset of the model.
    void reload(const std::function<void()>& change);

    // The description of one entry's cell in `column`: column 0 its icon and
    // name; column 1 "--" for a folder, else its size as a byte count; column
    // 2 its date in the medium date and short time styles. Another column:
    // an empty description.
    static CellDescription<QIcon> localItemsCellData(const Metadata& item, int column);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const std::optional<std::vector<Metadata>>& directoryItems_;
};

}  // namespace quorvel
