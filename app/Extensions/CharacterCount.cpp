#include "app/Extensions/CharacterCount.h"

#include <QList>

#include <unicode/ubrk.h>

#include <memory>

namespace quorvel {

int characterCount(const QString& text) {
    if (text.isEmpty()) return 0;
    UErrorCode status = U_ZERO_ERROR;
    // QString holds UTF-16, as ICU does: no copy.
    std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaks(
        ubrk_open(UBRK_CHARACTER, "", reinterpret_cast<const UChar*>(text.utf16()),
                  static_cast<int32_t>(text.size()), &status),
        ubrk_close);
    if (U_FAILURE(status) || !breaks) {
        // Without ICU's rules, code points are the nearest count.
        return static_cast<int>(text.toUcs4().size());
    }
    int count = 0;
    ubrk_first(breaks.get());
    while (ubrk_next(breaks.get()) != UBRK_DONE) ++count;
    return count;
}

}  // namespace quorvel
