#include "app/window/FileTableCell.h"

#include "app/Extensions/Localize.h"

namespace quorvel {

namespace {

constexpr const char* kColumnTitles[] = {"NameColumn", "SizeColumn", "DateModifiedColumn"};
constexpr int kColumns = 3;

}  // namespace

QVariant fileTableHeaderData(int section, Qt::Orientation orientation, int role) {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
    switch (role) {
        case Qt::DisplayRole: return QString::fromStdString(localize(kColumnTitles[section]));
        case Qt::InitialSortOrderRole: return static_cast<int>(Qt::AscendingOrder);
        case Qt::TextAlignmentRole: return fileTableAlignment(section);
        default: return {};
    }
}

QVariant fileTableAlignment(int column) {
    if (column == 1) return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
    return static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter);
}

}  // namespace quorvel
