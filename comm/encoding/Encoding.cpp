#include "encoding/Encoding.h"

#include <openssl/crypto.h>

#include <array>

namespace ostrelcomm {

namespace {

std::string hexWith(ByteView bytes, const char* digits) {
    std::string out(bytes.size() * 2, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        out[2 * i] = digits[bytes[i] >> 4];
        out[2 * i + 1] = digits[bytes[i] & 0x0f];
    }
    return out;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<std::int8_t, 256> makeBase64Table() {
    std::array<std::int8_t, 256> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
    return table;
}

constexpr auto kBase64Table = makeBase64Table();

}  // namespace

std::string toHex(ByteView bytes) { return hexWith(bytes, "0123456789abcdef"); }

std::string toHexUpper(ByteView bytes) { return hexWith(bytes, "0123456789ABCDEF"); }

std::optional<Bytes> fromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    Bytes out(hex.size() / 2);
    for (std::size_t i = 0; i < out.size(); ++i) {
        int hi = hexValue(hex[2 * i]);
        int lo = hexValue(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out[i] = static_cast<std::uint8_t>(hi << 4 | lo);
    }
    return out;
}

std::string base64Encode(ByteView bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += kBase64Alphabet[v >> 6 & 63];
        out += kBase64Alphabet[v & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        std::uint32_t v = bytes[i] << 16;
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += "==";
    } else if (rest == 2) {
        std::uint32_t v = bytes[i] << 16 | bytes[i + 1] << 8;
        out += kBase64Alphabet[v >> 18 & 63];
        out += kBase64Alphabet[v >> 12 & 63];
        out += kBase64Alphabet[v >> 6 & 63];
        out += '=';
    }
    return out;
}

std::optional<Bytes> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') padding = (text[text.size() - 2] == '=') ? 2 : 1;
    Bytes out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        bool last = i + 4 == text.size();
        std::uint32_t v = 0;
        for (std::size_t j = 0; j < 4; ++j) {
            char c = text[i + j];
            if (last && j >= 4 - padding) {
                if (c != '=') return std::nullopt;
                v <<= 6;
                continue;
            }
            auto d = kBase64Table[static_cast<unsigned char>(c)];
            if (d < 0) return std::nullopt;
            v = v << 6 | static_cast<std::uint32_t>(d);
        }
        out.push_back(static_cast<std::uint8_t>(v >> 16));
        if (!last || padding < 2) out.push_back(static_cast<std::uint8_t>(v >> 8));
        if (!last || padding < 1) out.push_back(static_cast<std::uint8_t>(v));
    }
    return out;
}

bool constantTimeEquals(ByteView a, ByteView b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

bool constantTimeEquals(std::string_view a, std::string_view b) {
    return constantTimeEquals(asBytes(a), asBytes(b));
}

bool isValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        // The bounds of the first continuation byte exclude overlong forms,
        // surrogates and code points above U+10FFFF.
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
        }
        i += length;
    }
    return true;
}

}  // namespace ostrelcomm
