#include "app/window/JobProgressDelegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

#include <algorithm>

#include "app/window/JobsTableModel.h"

namespace quorvel {

namespace {

constexpr int kBarInset = 2;

QStyle* styleOf(const QStyleOptionViewItem& option) {
    return option.widget ? option.widget->style() : QApplication::style();
}

}  // namespace

QString JobProgressDelegate::barText(const QModelIndex& index) {
    QStringList parts;
    for (const int role : {static_cast<int>(Qt::DisplayRole), kTransferRateRole, kTimeLeftRole}) {
        const QString part = index.data(role).toString();
        if (!part.isEmpty()) parts << part;
    }
    return parts.join(QStringLiteral(" · "));
}

void JobProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    const QVariant progress = index.data(kJobProgressRole);
    if (!progress.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The row's selection and alternate background first, as any cell.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    QStyle* style = styleOf(option);
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, option.widget);

    QStyleOptionProgressBar bar;
    bar.initFrom(option.widget);
    bar.rect = option.rect.adjusted(kBarInset, kBarInset, -kBarInset, -kBarInset);
    bar.state = option.state | QStyle::State_Horizontal;
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = std::clamp(progress.toInt(), 0, 100);
    bar.text = barText(index);
    bar.textVisible = true;
    bar.textAlignment = Qt::AlignCenter;
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, option.widget);
}

QSize JobProgressDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    if (!index.data(kJobProgressRole).isValid()) return size;
    const int textWidth = option.fontMetrics.horizontalAdvance(barText(index));
    size.setWidth(std::max(size.width(), textWidth + 24));
    return size;
}

}  // namespace quorvel
