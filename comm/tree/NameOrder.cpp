#include "tree/NameOrder.h"

#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace ostrelcomm {

std::string nameOrderKey(std::string_view name) {
    const std::string raw(name);
    if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return raw;
    if (name.size() > INT32_MAX / 4) return raw;
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    if (U_FAILURE(status)) return raw;

    std::u16string utf16(name.size(), u'\0');
    std::int32_t length = 0;
    u_strFromUTF8WithSub(utf16.data(), static_cast<std::int32_t>(utf16.size()), &length, name.data(),
                         static_cast<std::int32_t>(name.size()), 0xFFFD, nullptr, &status);
    if (U_FAILURE(status)) return raw;
    utf16.resize(static_cast<std::size_t>(length));

    std::u16string normal(utf16.size() * 3 + 1, u'\0');
    length = unorm2_normalize(nfc, utf16.data(), static_cast<std::int32_t>(utf16.size()), normal.data(),
                              static_cast<std::int32_t>(normal.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        status = U_ZERO_ERROR;
        normal.assign(static_cast<std::size_t>(length), u'\0');
        length = unorm2_normalize(nfc, utf16.data(), static_cast<std::int32_t>(utf16.size()), normal.data(),
                                  static_cast<std::int32_t>(normal.size()), &status);
    }
    if (U_FAILURE(status)) return raw;
    normal.resize(static_cast<std::size_t>(length));

    std::string utf8(normal.size() * 3, '\0');
    u_strToUTF8(utf8.data(), static_cast<std::int32_t>(utf8.size()), &length, normal.data(),
                static_cast<std::int32_t>(normal.size()), &status);
    if (U_FAILURE(status)) return raw;
    utf8.resize(static_cast<std::size_t>(length));
    return utf8;
}

}  // namespace ostrelcomm
