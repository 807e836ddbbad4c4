#include "app/window/StatusBadge.h"

#include <QLabel>
#include <QPalette>

namespace quorvel {

void paintBadge(QLabel* badge, const QString& text, const QColor& color) {
    badge->setText(text);
    badge->setStyleSheet(QStringLiteral("QLabel#jobsNumber { background-color: %1; color: white; "
                                        "border-radius: 7px; padding: 0px 5px; font-weight: bold; }")
                             .arg(color.name()));
    QPalette palette = badge->palette();
    palette.setColor(QPalette::Window, color);
    palette.setColor(QPalette::WindowText, Qt::white);
    badge->setPalette(palette);
}

void showBadge(QLabel* badge, int count, const QColor& color) {
    paintBadge(badge, QString::number(count), color);
    badge->show();
}

}  // namespace quorvel
