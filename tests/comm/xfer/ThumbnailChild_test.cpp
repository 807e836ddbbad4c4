// The thumbnail helper's children as the library sees them: each way a child
// can misbehave ends in no thumbnail and one line in the system log, nothing
// is left behind (no zombie, no descriptor, no stray process), and the helper
// comes back when it dies.

#include "xfer/ThumbnailChild.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "support/MediaFixtures.h"
#include "xfer/ThumbnailHelperProcess.h"

namespace ostrelcomm {
namespace {

using namespace testsupport;

class ThumbnailChildTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        shelf_ = std::make_unique<FixtureShelf>(std::map<std::string, FixtureShelf::Maker>{
            {"small.png", [](const auto& output) { twoColourPicture(output, 64, 32); }},
            {"large.png", [](const auto& output) { twoColourPicture(output, 6000, 4000); }},
        });
    }
    static void TearDownTestSuite() { shelf_.reset(); }

    static ThumbnailResult make(const std::string& name, ThumbnailLimits limits = {},
                                ThumbnailFault fault = ThumbnailFault::none) {
        auto file = RegularFile::open(shelf_->get(name));
        EXPECT_TRUE(file);
        if (!file) return {};
        return ThumbnailChild(limits, fault).make(*file, ThumbnailKind::image);
    }
    static pid_t helper() {
        const auto pid = ThumbnailHelperProcess::shared().helper();
        EXPECT_TRUE(pid);
        return pid.value_or(-1);
    }

    static std::unique_ptr<FixtureShelf> shelf_;
};

std::unique_ptr<FixtureShelf> ThumbnailChildTest::shelf_;

struct FaultCase {
    std::string label;
    ThumbnailFault fault;
    ThumbnailLimits limits;
    std::string logged;  // what the line says after the prefix
};

TEST_F(ThumbnailChildTest, AChildThatMisbehavesGivesNothingAndOneLogLine) {
    ASSERT_TRUE(make("small.png").thumbnail);
    ThumbnailLimits shortWall;
    shortWall.wallTime = std::chrono::milliseconds(300);
    ThumbnailLimits shortProcessor;
    shortProcessor.processor = std::chrono::seconds(1);
    shortProcessor.wallTime = std::chrono::seconds(20);
    const std::vector<FaultCase> cases{
        {"killed_halfway", ThumbnailFault::killedHalfway, {}, "the thumbnail's maker was stopped by signal 9"},
        {"garbage", ThumbnailFault::garbage, {}, "the thumbnail's maker wrote output that cannot be read"},
        {"overlong", ThumbnailFault::overlong, {}, "the thumbnail's maker wrote more than a thumbnail can take"},
        {"stalls", ThumbnailFault::stalls, shortWall, "the thumbnail's maker took longer than 300 ms"},
        {"spins", ThumbnailFault::spins, shortProcessor, "the thumbnail's maker was stopped by signal 24"},
        {"failing_status", ThumbnailFault::failingStatus, {}, "the thumbnail's maker ended with status 68"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        SystemLogCapture log;
        EXPECT_EQ(make("small.png", c.limits, c.fault), ThumbnailResult{});
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind(kThumbnailErrorPrefix + c.logged, 0), 0u) << lines[0];
    }
}

// A process the child starts and leaves holding the output open would keep
// the output from ending: it goes with its child, at once.
TEST_F(ThumbnailChildTest, AProcessLeftBehindByTheChildEndsWithIt) {
    SystemLogCapture log;
    // No wall limit to fall back on: were the process left behind kept
    // alive, the output would never end and the test would time out.
    ThumbnailLimits unbounded;
    unbounded.wallTime = std::chrono::hours(24);
    EXPECT_TRUE(make("small.png", unbounded, ThumbnailFault::leavesAChild).thumbnail);
    EXPECT_TRUE(log.lines().empty());
}

// A hundred children killed in the middle of their output: every one is
// reaped by the helper, this process has no zombie, and no descriptor of
// this process is left open. All the helper keeps is its one spare for the
// next request.
TEST_F(ThumbnailChildTest, ChildrenKilledHalfwayLeaveNoZombieAndNoDescriptor) {
    SystemLogCapture log;
    ASSERT_TRUE(make("small.png").thumbnail);
    const std::size_t descriptors = openDescriptors();
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(make("small.png", {}, ThumbnailFault::killedHalfway), ThumbnailResult{});
    }
    EXPECT_EQ(log.lines().size(), 100u);
    EXPECT_EQ(openDescriptors(), descriptors);
    EXPECT_TRUE(zombieChildren(::getpid()).empty());
    EXPECT_TRUE(zombieChildren(helper()).empty());
    EXPECT_LE(childrenOf(helper()).size(), 1u);
}

// The address space a child may use beyond the helper's: a picture that
// needs more than it is allowed gives nothing, and the same picture within
// the default limit gives its thumbnail. The first request for other limits
// gets a child forked for it; those after it find spares confined for them,
// which hold the same.
TEST_F(ThumbnailChildTest, TheMemoryLimitHoldsTheChild) {
    ThumbnailLimits tight;
    tight.memoryBytes = std::uint64_t{16} << 20;
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        SystemLogCapture log;
        EXPECT_EQ(make("large.png", tight), ThumbnailResult{});
        EXPECT_LE(log.lines().size(), 1u);
    }
    EXPECT_TRUE(make("large.png").thumbnail);
    EXPECT_TRUE(make("large.png").thumbnail);
}

TEST_F(ThumbnailChildTest, AHelperThatDiedIsReapedAndReplaced) {
    ASSERT_TRUE(make("small.png").thumbnail);
    const pid_t first = helper();
    ASSERT_EQ(::kill(first, SIGKILL), 0);
    siginfo_t ended{};
    ASSERT_EQ(::waitid(P_PID, static_cast<id_t>(first), &ended, WEXITED | WNOWAIT), 0);  // dead, not reaped
    SystemLogCapture log;
    EXPECT_TRUE(make("small.png").thumbnail);
    EXPECT_NE(helper(), first);
    EXPECT_TRUE(zombieChildren(::getpid()).empty());
}

}  // namespace
}  // namespace ostrelcomm
