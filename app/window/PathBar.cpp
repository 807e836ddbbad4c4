#include "app/window/PathBar.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QStyle>
#include <QToolButton>

#include <utility>

namespace quorvel {

namespace {

constexpr int kItemIconSide = 16;

// A button's text takes "&" for a mnemonic: doubled, it shows itself.
QString buttonText(const QString& name) {
    QString text = name;
    text.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return text;
}

// A tool tip is read as markup when it looks like markup: escaped inside a
// paragraph that is markup for sure, a name shows as it is.
QString toolTipText(const QString& name) {
    return QStringLiteral("<p style='white-space:pre'>%1</p>").arg(name.toHtmlEscaped());
}

}  // namespace

PathBar::PathBar(QWidget* parent) : QWidget(parent), row_(new QHBoxLayout(this)) {
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(0);
    row_->addStretch();
    setMinimumHeight(fontMetrics().height() + 10);
}

void PathBar::setItems(std::vector<Item> items) {
    buttons_.clear();
    // Everything but the closing stretch goes: the buttons and the chevrons.
    // Later, not now: the button being clicked may be among them.
    while (row_->count() > 1) {
        QLayoutItem* item = row_->takeAt(0);
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    items_ = std::move(items);

    for (std::size_t index = 0; index < items_.size(); ++index) {
        const Item& item = items_[index];
        if (index > 0) {
            auto* chevron = new QLabel(QStringLiteral("\u203A"), this);
            chevron->setTextFormat(Qt::PlainText);
            chevron->setEnabled(false);
            row_->insertWidget(row_->count() - 1, chevron);
        }
        auto* button = new QToolButton(this);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        button->setIconSize(QSize(kItemIconSide, kItemIconSide));
        button->setText(buttonText(item.title));
        button->setToolTip(toolTipText(item.title));
        if (!item.image.isNull()) button->setIcon(QIcon(QPixmap::fromImage(item.image)));
        // A deep path may not fit: its buttons shrink and cut their names
        // rather than widen the pane.
        button->setMinimumWidth(kItemIconSide + 8);
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        const int position = static_cast<int>(index);
        connect(button, &QToolButton::clicked, this, [this, position] { emit itemClicked(position); });
        row_->insertWidget(row_->count() - 1, button);
        buttons_.push_back(button);
    }
}

QToolButton* PathBar::button(int index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= buttons_.size()) return nullptr;
    return buttons_[static_cast<std::size_t>(index)];
}

}  // namespace quorvel
