#include "devserver/Base64.h"

#include <openssl/evp.h>

namespace devserver {

namespace {

bool isAlphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

}  // namespace

std::string base64Encode(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return {};
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), bytes.data(),
                                        static_cast<int>(bytes.size()));
    out.resize(written < 0 ? 0 : static_cast<std::size_t>(written));
    return out;
}

std::optional<std::vector<std::uint8_t>> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    if (text.empty()) return std::vector<std::uint8_t>{};
    std::size_t padding = 0;
    if (text.back() == '=') ++padding;
    if (text.size() >= 2 && text[text.size() - 2] == '=') ++padding;
    if (padding == 1 && text.back() != '=') return std::nullopt;
    for (std::size_t i = 0; i < text.size() - padding; ++i)
        if (!isAlphabet(text[i])) return std::nullopt;
    // EVP_DecodeBlock counts the padding as zero bytes.
    std::vector<std::uint8_t> out(text.size() / 4 * 3);
    const int decoded = EVP_DecodeBlock(out.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    if (decoded < 0 || static_cast<std::size_t>(decoded) != out.size()) return std::nullopt;
    out.resize(out.size() - padding);
    return out;
}

}  // namespace devserver
