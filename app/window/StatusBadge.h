#pragma once

#include <QColor>
#include <QString>

class QLabel;

namespace quorvel {

// The badge beside the tabs ("jobsNumber"): `text` in white on a rounded
// `color`. Painting leaves it hidden or shown as it was; showing paints it
// with a count and shows it.
void paintBadge(QLabel* badge, const QString& text, const QColor& color);
void showBadge(QLabel* badge, int count, const QColor& color);

}  // namespace quorvel
