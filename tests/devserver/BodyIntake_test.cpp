// The stand-in's intake of a request body: the body comes out as it went in,
// and the digest taken while it arrived is the body's, whatever the pieces
// and whether or not the announced length held.

#include "devserver/BodyIntake.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "devserver/DataFolder.h"
#include "devserver/Signing.h"

namespace {

using devserver::BodyIntake;

// Bytes that differ from place to place, so a piece hashed twice, skipped or
// out of order changes the digest.
std::string patterned(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131) ^ (i >> 11));
    return bytes;
}

TEST(DevServerBodyIntake, TheDigestTakenWhileTheBodyArrivesIsTheBodys) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    struct Case {
        const char* what;
        std::size_t announced;
        std::size_t sent;
        std::size_t piece;
    };
    const std::vector<Case> cases = {
        {"small: hashed later", 1000, 1000, 100},
        {"unknown length", 0, 3 * kMiB, 4096},
        {"just large enough", BodyIntake::kFollowFrom, BodyIntake::kFollowFrom, 4096},
        {"odd pieces", 3 * kMiB + 5, 3 * kMiB + 5, 4093},
        {"more than announced: the buffer moves", BodyIntake::kFollowFrom, 5 * kMiB + 3, 65521},
        {"less than announced", 4 * kMiB, 2 * kMiB + 1, 16384},
    };
    devserver::DataFolder data;
    data.open(std::nullopt);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string body = patterned(c.sent);
        // Each body also goes into a spool, which then holds it exactly.
        auto spool = data.openSpool();
        ASSERT_TRUE(spool);
        BodyIntake intake(c.announced, spool.get());
        for (std::size_t at = 0; at < body.size(); at += c.piece)
            intake.append(body.data() + at, std::min(c.piece, body.size() - at));
        std::string digest = "stale";
        EXPECT_TRUE(intake.finish(digest) == body);
        EXPECT_EQ(digest, c.announced >= BodyIntake::kFollowFrom ? devserver::sha256Hex(body) : "");
        EXPECT_TRUE(spool->holds(body.size()));
        std::ifstream in(spool->path(), std::ios::binary);
        EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == body);
    }
}

TEST(DevServerBodyIntake, ABodyLeftHalfWayTakesItsFollowerWithIt) {
    // The client hung up: the intake goes without finish(), and its follower
    // with it, whether it had bytes to hash or none.
    // Its spool goes after it, and takes its file along.
    const std::string part = patterned(3 << 20);
    devserver::DataFolder data;
    data.open(std::nullopt);
    for (std::size_t sent : {std::size_t{0}, part.size()}) {
        auto spool = data.openSpool();
        ASSERT_TRUE(spool);
        const auto spooled = spool->path();
        {
            BodyIntake intake(std::size_t{8} << 20, spool.get());
            intake.append(part.data(), sent);
        }
        EXPECT_FALSE(spool->holds(sent));
        spool.reset();
        EXPECT_FALSE(std::filesystem::exists(spooled));
    }
}

}  // namespace
