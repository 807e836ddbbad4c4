#pragma once

#include <QString>

namespace quorvel {

// The text without the spaces (U+0020 only) at its ends: what the sheets
// count as empty or as a name's length. Tabs, no-break spaces and the other
// blanks stay.
QString trimmedOfSpaces(const QString& text);

}  // namespace quorvel
