#include "devserver/Signing.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <fstream>

namespace {

using devserver::HeaderMap;

std::vector<std::uint8_t> fromHex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return out;
}

// Runs the openssl command line over `message` (through a file, so that no
// shell quoting can alter it) and returns the hex digest it prints.
std::string opensslDigest(const std::string& message, const std::optional<std::string>& hexKey) {
    char path[] = "/tmp/quorvel-signing-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return "mkstemp failed";
    ::close(fd);
    std::ofstream(path, std::ios::binary) << message;
    std::string command = "openssl dgst -sha256 -r ";
    if (hexKey) command += "-mac HMAC -macopt hexkey:" + *hexKey + " ";
    command += path;
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        std::array<char, 256> buffer{};
        while (fgets(buffer.data(), buffer.size(), pipe) != nullptr) output += buffer.data();
        pclose(pipe);
    }
    std::remove(path);
    return output.substr(0, output.find(' '));
}

TEST(Signing, ReproducesTheWorkedExample) {
    const HeaderMap headers = {
        {"x-sb-username", "Alice"},
        {"User-Agent", "App macOS 1.2 (34)"},
        {"Accept", "application/json"},
    };
    EXPECT_EQ(devserver::canonicalHeaderText(headers),
              "accept:application/json;user-agent:app macos 1.2 (34);x-sb-username:alice");
    EXPECT_EQ(devserver::signedNameList(headers), "Accept,User-Agent,x-sb-username");
}

TEST(Signing, AgreesWithTheOpensslCommandLine) {
    struct Case {
        const char* name;
        HeaderMap headers;
        std::string hexKey;
        std::string canonical;
        std::string list;
    };
    const std::string longKey(200, 'a');  // longer than a SHA-256 block: HMAC hashes it first
    const std::vector<Case> cases = {
        {"worked example",
         {{"x-sb-username", "Alice"}, {"User-Agent", "App macOS 1.2 (34)"}, {"Accept", "application/json"}},
         "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
         "accept:application/json;user-agent:app macos 1.2 (34);x-sb-username:alice",
         "Accept,User-Agent,x-sb-username"},
        {"no headers", {}, "0b0b0b0b", "", ""},
        {"upper case sorts before lower case",
         {{"b-lower", "X"}, {"C-Upper", "Y"}},
         "c0ffee",
         "c-upper:y;b-lower:x",
         "C-Upper,b-lower"},
        {"separators inside a value are not escaped",
         {{"x-sb-item-uuid", "A:b;C d,E"}, {"x-sb-timestamp", "20240102030405"}},
         longKey,
         "x-sb-item-uuid:a:b;c d,e;x-sb-timestamp:20240102030405",
         "x-sb-item-uuid,x-sb-timestamp"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto signature = devserver::signHeaders(c.headers, fromHex(c.hexKey));
        EXPECT_EQ(devserver::canonicalHeaderText(c.headers), c.canonical);
        EXPECT_EQ(signature.names, c.list);
        EXPECT_EQ(signature.hmac, opensslDigest(c.canonical, c.hexKey));
        EXPECT_EQ(signature.hmac.size(), 64u);
    }
}

TEST(Signing, ValuesThatDifferOnlyInCaseSignAlike) {
    const auto key = fromHex("01020304");
    EXPECT_EQ(devserver::signHeaders({{"x-sb-username", "ALICE"}}, key).hmac,
              devserver::signHeaders({{"x-sb-username", "alice"}}, key).hmac);
    EXPECT_NE(devserver::signHeaders({{"x-sb-username", "alice"}}, key).hmac,
              devserver::signHeaders({{"x-sb-username", "alice"}}, fromHex("01020305")).hmac);
}

TEST(Signing, BodyDigestMatchesPublishedValuesAndTheCommandLine) {
    EXPECT_EQ(devserver::sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(devserver::sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string body = std::string("\x00\x01binary\xff", 9) + std::string(5000, 'z');
    EXPECT_EQ(devserver::sha256Hex(body), opensslDigest(body, std::nullopt));
}

TEST(Signing, ComparisonIsExactText) {
    const std::string mac = devserver::hmacSha256Hex(fromHex("01"), "x");
    std::string upper = mac;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(devserver::constantTimeEquals(mac, mac));
    EXPECT_FALSE(devserver::constantTimeEquals(mac, upper));
    EXPECT_FALSE(devserver::constantTimeEquals(mac, mac.substr(1)));
    EXPECT_TRUE(devserver::constantTimeEquals("", ""));
}

}  // namespace
