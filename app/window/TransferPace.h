#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace quorvel {

// How fast each running transfer goes, as the application sees its step
// counter move: the time between two sightings of a moved counter, per step,
// smoothed over the moves (an exponentially weighted mean), each step being
// one block of the transfer. The library reports no rate of its own.
//
// An estimate exists once two moves have been timed: the first sighting only
// sets the clock going.
//
// On the main thread only.
class TransferPace {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The weight of the newest move in the mean.
    static constexpr double kSmoothing = 0.3;
    // What one step of a transfer carries: one block.
    static constexpr std::uint64_t kBytesPerStep = 4 * 1024 * 1024;

    struct Estimate {
        double bytesPerSecond = 0;
        // The steps still to take at the mean pace; never below 0.
        double secondsLeft = 0;
    };

    explicit TransferPace(Clock clock = &std::chrono::steady_clock::now);

    void setClock(Clock clock) { clock_ = std::move(clock); }

    // The job's step counter as it is now; times the move when it moved
    // since the last sighting (forward: a counter that goes back starts the
    // timing again).
    void sight(const std::string& jobID, std::size_t actStep);
    // Forgets every job but those in `running`.
    void keepOnly(const std::unordered_set<std::string>& running);
    // The job's pace and what is left of its `jobSteps` from the last step
    // seen; none before two moves were timed.
    std::optional<Estimate> estimate(const std::string& jobID, std::size_t jobSteps) const;

private:
    struct Track {
        std::size_t step = 0;
        std::chrono::steady_clock::time_point seen;
        double secondsPerStep = 0;
        int movesTimed = 0;
    };

    Clock clock_;
    std::unordered_map<std::string, Track> tracks_;
};

}  // namespace quorvel
