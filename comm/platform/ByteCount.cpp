#include "platform/ByteCount.h"

#include <array>
#include <cstdio>

namespace ostrelcomm {

namespace {

struct Unit {
    const char* name;
    int decimals;
};

constexpr std::array<Unit, 6> kUnits{{{"KB", 0}, {"MB", 1}, {"GB", 2}, {"TB", 2}, {"PB", 2}, {"EB", 2}}};

// value / 10^(3·(unit+1)) rounded half up to `decimals` digits, in
// hundredths of the unit, computed on integers so that no count is misread
// by a binary fraction.
unsigned __int128 scaledHundredths(std::uint64_t bytes, std::size_t unit, int decimals) {
    unsigned __int128 divisor = 1;
    for (std::size_t i = 0; i <= unit; ++i) divisor *= 1000;
    unsigned __int128 step = 1;
    for (int i = 0; i < decimals; ++i) step *= 10;
    // Rounded to `decimals` digits, then expressed in hundredths.
    const unsigned __int128 rounded = (static_cast<unsigned __int128>(bytes) * step * 2 + divisor) / (divisor * 2);
    return rounded * (100 / static_cast<unsigned>(step));
}

}  // namespace

std::string byteCountText(std::uint64_t bytes) {
    if (bytes == 0) return "Zero KB";
    if (bytes == 1) return "1 byte";
    if (bytes < 1000) return std::to_string(bytes) + " bytes";
    std::size_t unit = 0;
    while (unit + 1 < kUnits.size()) {
        unsigned __int128 divisor = 1;
        for (std::size_t i = 0; i <= unit + 1; ++i) divisor *= 1000;
        if (bytes < divisor) break;
        ++unit;
    }
    unsigned __int128 hundredths = scaledHundredths(bytes, unit, kUnits[unit].decimals);
    if (hundredths >= 100'000 && unit + 1 < kUnits.size()) {
        ++unit;
        hundredths = scaledHundredths(bytes, unit, kUnits[unit].decimals);
    }
    const auto whole = static_cast<std::uint64_t>(hundredths / 100);
    auto fraction = static_cast<unsigned>(hundredths % 100);
    std::string text = std::to_string(whole);
    if (fraction != 0) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02u", fraction);
        std::string part(digits);
        while (!part.empty() && part.back() == '0') part.pop_back();
        text += "." + part;
    }
    return text + " " + kUnits[unit].name;
}

std::string byteCountText(std::int64_t bytes) {
    if (bytes >= 0) return byteCountText(static_cast<std::uint64_t>(bytes));
    // Built in place: g++ 12 at -O3 misreads `"-" + std::string` as an
    // overlapping copy and, with warnings as errors, refuses it.
    std::string text(1, '-');
    text += byteCountText(static_cast<std::uint64_t>(-(bytes + 1)) + 1);
    return text;
}

}  // namespace ostrelcomm
