#pragma once

#include <QStyledItemDelegate>

namespace quorvel {

// Draws the detail cell of a running job as a progress bar carrying the
// cell's text, followed by the transfer's rate and time left when the model
// knows them; every other cell as usual.
class JobProgressDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // The text a running job's bar carries: the cell's text, then the rate
    // and the time left where known, separated by " · ".
    static QString barText(const QModelIndex& index);

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace quorvel
