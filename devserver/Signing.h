#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>

// The server's half of the protocol's header signature and body digest,
// written straight on OpenSSL so that it shares no code with the client.
namespace devserver {

using HeaderMap = std::map<std::string, std::string>;
using KeyView = std::span<const std::uint8_t>;

// ASCII lower-casing: the protocol's names and values are ASCII, and any other
// byte passes unchanged.
std::string lowerAscii(std::string_view text);

std::string hexLower(std::span<const std::uint8_t> bytes);

// One "name:value" line per header, both lower-cased, in byte order of the
// names as given (upper case sorts first), joined by ";".
std::string canonicalHeaderText(const HeaderMap& headers);

// The names as given, in the same order, joined by ",".
std::string signedNameList(const HeaderMap& headers);

std::string hmacSha256Hex(KeyView key, std::string_view message);
std::string sha256Hex(std::string_view data);

// Equality whose running time does not depend on where the texts differ.
bool constantTimeEquals(std::string_view a, std::string_view b);

struct HeaderSignature {
    std::string names;  // the value of "x-sb-auth-headers"
    std::string hmac;   // the value of "x-sb-auth"
};

HeaderSignature signHeaders(const HeaderMap& headers, KeyView key);

}  // namespace devserver
