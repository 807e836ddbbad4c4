#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "encoding/Encoding.h"
#include "http/Http.h"

using namespace ostrelcomm;

namespace {

Bytes keyZeroToThirtyOne() {
    Bytes key;
    for (int i = 0; i < 32; ++i) key.push_back(static_cast<std::uint8_t>(i));
    return key;
}

// HMAC-SHA256 of `text` under `key`, as the openssl command line computes it.
std::string opensslHmac(const std::string& text, ByteView key) {
    auto path = std::filesystem::temp_directory_path() /
                ("quorvel-hmac-" + std::to_string(::getpid()) + "-" + std::to_string(text.size()) + ".txt");
    {
        std::ofstream out(path, std::ios::binary);
        out << text;
    }
    std::string command = "openssl dgst -sha256 -mac HMAC -macopt hexkey:" + toHex(key) + " -r '" + path.string() + "'";
    std::string output;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
        ::pclose(pipe);
    }
    std::filesystem::remove(path);
    return output.substr(0, 64);
}

}  // namespace

// The published example: three headers, key bytes 00..1f. The signature was
// computed with `openssl dgst -sha256 -mac HMAC -macopt hexkey:0001..1f` over
// the canonical text below.
TEST(HeaderSignature, WorkedExample) {
    const std::map<std::string, std::string> headers = {
        {"x-sb-username", "Alice"},
        {"User-Agent", "App macOS 1.2 (34)"},
        {"Accept", "application/json"},
    };
    auto [listName, list, signature] = Http::authenticate(headers, keyZeroToThirtyOne());
    EXPECT_EQ(listName, "x-sb-auth-headers");
    EXPECT_EQ(list, "Accept,User-Agent,x-sb-username");
    EXPECT_EQ(signature, "d7fa931dff831f63d8ebd202df707721a8b3f7812d0258f2f1841560e9996db1");
    EXPECT_EQ(signature,
              opensslHmac("accept:application/json;user-agent:app macos 1.2 (34);x-sb-username:alice",
                          keyZeroToThirtyOne()));
}

TEST(HeaderSignature, EmptyMapSignsTheEmptyText) {
    auto [listName, list, signature] = Http::authenticate({}, keyZeroToThirtyOne());
    EXPECT_EQ(listName, "x-sb-auth-headers");
    EXPECT_EQ(list, "");
    EXPECT_EQ(signature, "d38b42096d80f45f826b44a9d5607de72496a415d3f4a1a8c88e3bb9da8dc1cb");
}

// Names sort by their exact characters (upper case first), lines are
// lower-cased whole, and ":" or ";" inside a value is written unchanged.
TEST(HeaderSignature, OrderCaseAndPunctuationAgainstOpenssl) {
    const Bytes key = toBytes("a session key of some length");
    const std::map<std::string, std::string> headers = {
        {"b-lower", "V:1;2"},
        {"Content-Type", "Application/JSON"},
        {"x-sb-item-uuid", "ABCDEF"},
        {"Accept", ""},
    };
    auto [listName, list, signature] = Http::authenticate(headers, key);
    EXPECT_EQ(list, "Accept,Content-Type,b-lower,x-sb-item-uuid");
    EXPECT_EQ(signature,
              opensslHmac("accept:;content-type:application/json;b-lower:v:1;2;x-sb-item-uuid:abcdef", key));

    // Values that differ only in case sign alike; a different value does not.
    auto upper = headers;
    upper["x-sb-item-uuid"] = "abcdef";
    EXPECT_EQ(std::get<2>(Http::authenticate(upper, key)), signature);
    upper["x-sb-item-uuid"] = "abcdeg";
    EXPECT_NE(std::get<2>(Http::authenticate(upper, key)), signature);
    // The same names under another key sign differently.
    EXPECT_NE(std::get<2>(Http::authenticate(headers, keyZeroToThirtyOne())), signature);
}
