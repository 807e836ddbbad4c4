#pragma once

#include <Qt>
#include <QString>
#include <QVariant>

namespace quorvel {

// What one cell of a file table shows: its icon (a null one for none), its
// text, and the identifier of the kind of cell it is; empty for a column the
// table does not have, which makes no cell. The models give the identifier
// under kCellIdentifierRole.
template <class Image>
struct CellDescription {
    Image icon;
    QString text;
    QString identifier;
};

inline constexpr int kCellIdentifierRole = Qt::UserRole + 1;

// The cell identifiers of the file tables, by column: name, size, date.
inline constexpr char kLocalNameCellID[] = "locNameCellID";
inline constexpr char kLocalSizeCellID[] = "locSizeCellID";
inline constexpr char kLocalModDateCellID[] = "locModDateCellID";
inline constexpr char kRemoteNameCellID[] = "remNameCellID";
inline constexpr char kRemoteSizeCellID[] = "remSizeCellID";
inline constexpr char kRemoteModDateCellID[] = "remModDateCellID";

// The columns' titles of both file tables (name, size, date modified), and
// the direction a column sorts in when first clicked: ascending.
QVariant fileTableHeaderData(int section, Qt::Orientation orientation, int role);
// Sizes line up on the right, as numbers do.
QVariant fileTableAlignment(int column);

}  // namespace quorvel
