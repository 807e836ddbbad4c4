#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace quorvel {

// One cell of an account window table: the cell kind it is made from, its
// text and the text's colour.
struct TableCell {
    QString identifier;
    QString text;
    QColor colour;
};

// The rows of one table of the account window, as its view controller gives
// them: the table asks by its identifier ("activity", "trustedUsers") for the
// number of rows and for each cell by column position. The controller owns
// the rows; reloadData() tells the table they were replaced.
//
// On the main thread only, like the rows it reads.
class UserProfileTableSource : public QAbstractTableModel {
    Q_OBJECT

public:
    using RowCount = std::function<int(const QString& table)>;
    using CellAt = std::function<std::optional<TableCell>(const QString& table, int column, int row)>;

    UserProfileTableSource(QString identifier, QStringList columnTitles, RowCount rows, CellAt cell,
                           QObject* parent = nullptr);

    const QString& identifier() const { return identifier_; }
    // The rows were replaced: the table reads them all again.
    void reloadData();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The role under which a cell gives the kind it was made from.
    static constexpr int kCellIdentifierRole = Qt::UserRole + 1;

private:
    QString identifier_;
    QStringList columnTitles_;
    RowCount rows_;
    CellAt cell_;
};

}  // namespace quorvel
