#pragma once

#include <QAbstractTableModel>
#include <QImage>

#include <array>
#include <functional>
#include <optional>

#include "app/window/FileTableCell.h"
#include "app/window/RemoteItemsTableContent.h"

namespace quorvel {

class Pasteboard;

// The remote table ("remoteFiles"): one row per row of the main view's
// RemoteItemsTableContent, three columns by position: name, size,
// modification date. The model reads the rows where the view keeps them;
// the view changes them only inside reload().
//
// Per cell: the icon (column 0) under DecorationRole (a QIcon of the image), the text under
// DisplayRole, the cell identifier under kCellIdentifierRole, and the text's
// colour under ForegroundRole. A row whose item is held on the clipboard to
// be moved (cut) draws its text in the tertiary label colour and its icon
// tinted with it; the other rows use the label colour.
//
// On the main thread only.
class RemoteFilesTableModel : public QAbstractTableModel {
    Q_OBJECT

public:
    RemoteFilesTableModel(const RemoteItemsTableContent& rows, const Pasteboard& pasteboard,
                          QObject* parent = nullptr);

    // Runs `change` of the rows as one reset of the model.
    void reload(const std::function<void()>& change);

    // The description of one row's cell in `column`: column 0 the kind's icon
    // (badged when the item's attributes hold exactly "shared") and the name;
    // column 1 the size as a byte count, empty for none; column 2 the date in
    // the medium date and short time styles, empty for none. Another column:
    // an empty description.
    CellDescription<QImage> remoteItemsCellData(const RemoteItemsTableContent::RemoteItemsTableItem& item,
                                                int column) const;
    // The row's item is cut: on the clipboard to be moved.
    bool isCut(const RemoteItemsTableContent::RemoteItemsTableItem& item) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    // The kind's image: the desktop theme's caution, folder and user images
    // (the application's own when the theme has none), the application's
    // document and shared folder images. Looked up once per model.
    const QImage& kindImage(TableRemoteItemType type) const;

    const RemoteItemsTableContent& rows_;
    const Pasteboard& pasteboard_;
    mutable std::array<std::optional<QImage>, 5> kindImages_;
    mutable std::array<std::optional<QImage>, 5> badgedImages_;
};

}  // namespace quorvel
