// The pace of a transfer from the sightings of its step counter, under a
// clock of the test's own: the mean of the moves weighted 0.3 for the
// newest, a move of several steps counted per step, a counter that goes
// back timed afresh, and the jobs no longer running forgotten.

#include <QTest>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/window/TransferPace.h"

using quorvel::TransferPace;

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

struct Sighting {
    std::size_t step;
    double second;
};

}  // namespace

class TransferPaceTest : public QObject {
    Q_OBJECT

private slots:
    void thePaceOfEachRun() {
        const struct {
            const char* name;
            std::vector<Sighting> sightings;
            std::size_t jobSteps;
            // Seconds per step, and seconds left; none when no estimate.
            std::optional<std::pair<double, double>> expected;
        } cases[] = {
            {"one move", {{1, 0}, {2, 2}}, 10, std::nullopt},
            {"two even moves", {{1, 0}, {2, 2}, {3, 4}}, 10, std::pair{2.0, 14.0}},
            // 0.3 × 4 + 0.7 × 2
            {"a slower move weighs 0.3", {{1, 0}, {2, 2}, {3, 6}}, 10, std::pair{2.6, 18.2}},
            {"a move of three steps", {{0, 0}, {3, 3}, {4, 4}}, 6, std::pair{1.0, 2.0}},
            // Timed from the move to 2 (at 6 s), not from its last sighting: 0.3 × 4 + 0.7 × 6
            {"sightings without a move", {{1, 0}, {1, 5}, {2, 6}, {2, 9}, {3, 10}}, 4, std::pair{5.4, 5.4}},
            {"a counter that goes back", {{5, 0}, {6, 1}, {7, 2}, {2, 3}, {3, 13}}, 10, std::nullopt},
            {"past the announced steps", {{1, 0}, {2, 1}, {3, 2}}, 2, std::pair{1.0, 0.0}},
            {"no time between moves", {{1, 0}, {2, 0}, {3, 0}}, 10, std::nullopt},
        };
        for (const auto& c : cases) {
            auto now = std::chrono::steady_clock::time_point{};
            TransferPace pace([&now] { return now; });
            for (const auto& s : c.sightings) {
                now = std::chrono::steady_clock::time_point{} +
                      std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                          std::chrono::duration<double>(s.second));
                pace.sight("job", s.step);
            }
            const auto estimate = pace.estimate("job", c.jobSteps);
            QVERIFY2(estimate.has_value() == c.expected.has_value(), c.name);
            if (!estimate) continue;
            QVERIFY2(qFuzzyCompare(estimate->bytesPerSecond, 4 * kMiB / c.expected->first), c.name);
            QVERIFY2(qFuzzyCompare(1 + estimate->secondsLeft, 1 + c.expected->second), c.name);
        }
    }

    void jobsNoLongerRunningAreForgotten() {
        auto now = std::chrono::steady_clock::time_point{};
        TransferPace pace([&now] { return now; });
        for (int step = 1; step <= 3; ++step) {
            now += std::chrono::seconds(1);
            pace.sight("a", static_cast<std::size_t>(step));
            pace.sight("b", static_cast<std::size_t>(step));
        }
        pace.keepOnly({"b"});
        QVERIFY(!pace.estimate("a", 10));
        QVERIFY(pace.estimate("b", 10));
        // Seen again, "a" starts over.
        now += std::chrono::seconds(1);
        pace.sight("a", 4);
        now += std::chrono::seconds(1);
        pace.sight("a", 5);
        QVERIFY(!pace.estimate("a", 10));
    }
};

QTEST_GUILESS_MAIN(TransferPaceTest)
#include "TransferPace_test.moc"
