#pragma once

#include <QColor>
#include <QPalette>

namespace quorvel {

// The program's colours, named by what they mean. The two label colours
// follow the palette (light or dark); the others are fixed, chosen to read
// on both (white: text drawn on one of the fixed colours).
enum class SystemColor { label, tertiaryLabel, red, orange, green, blue, gray, yellow, purple, white };

// The colour on the application's palette.
QColor systemColor(SystemColor color);
// The colour on `palette`.
QColor systemColor(SystemColor color, const QPalette& palette);

}  // namespace quorvel
