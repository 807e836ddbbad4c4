#pragma once

#include <QString>

namespace quorvel {

// The number of characters of `text` as a reader counts them: extended
// grapheme clusters, so that a letter with its accents, a flag or an emoji
// joined of several is one. 0 for an empty text.
int characterCount(const QString& text);

}  // namespace quorvel
