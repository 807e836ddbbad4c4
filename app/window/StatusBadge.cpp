#include "app/window/StatusBadge.h"

#include <QLabel>
#include <QPalette>

#include "app/Extensions/SystemColor.h"

namespace quorvel {

void paintBadge(QLabel* badge, const QString& text, const QColor& color) {
    badge->setText(text);
    const QColor textColour = systemColor(SystemColor::white);
    // Progress repaints the badge many times a second; a new style sheet
    // makes the label's style work again, so it is set only when it differs.
    const QString sheet = QStringLiteral("QLabel#jobsNumber { background-color: %1; color: %2; "
                                         "border-radius: 7px; padding: 0px 5px; font-weight: bold; }")
                              .arg(color.name(), textColour.name());
    if (badge->styleSheet() != sheet) badge->setStyleSheet(sheet);
    QPalette palette = badge->palette();
    palette.setColor(QPalette::Window, color);
    palette.setColor(QPalette::WindowText, textColour);
    badge->setPalette(palette);
}

void showBadge(QLabel* badge, int count, const QColor& color) {
    paintBadge(badge, QString::number(count), color);
    badge->show();
}

}  // namespace quorvel
