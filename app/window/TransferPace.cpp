#include "app/window/TransferPace.h"

#include <algorithm>

namespace quorvel {

namespace {

constexpr int kMovesBeforeEstimate = 2;

}  // namespace

TransferPace::TransferPace(Clock clock) : clock_(std::move(clock)) {}

void TransferPace::sight(const std::string& jobID, std::size_t actStep) {
    const auto now = clock_();
    auto [it, first] = tracks_.try_emplace(jobID);
    Track& track = it->second;
    if (first || actStep < track.step) {
        track = Track{actStep, now, 0, 0};
        return;
    }
    if (actStep == track.step) return;
    const double seconds = std::chrono::duration<double>(now - track.seen).count();
    const double perStep = std::max(0.0, seconds) / static_cast<double>(actStep - track.step);
    track.secondsPerStep =
        track.movesTimed == 0 ? perStep : kSmoothing * perStep + (1 - kSmoothing) * track.secondsPerStep;
    ++track.movesTimed;
    track.step = actStep;
    track.seen = now;
}

void TransferPace::keepOnly(const std::unordered_set<std::string>& running) {
    for (auto it = tracks_.begin(); it != tracks_.end();) {
        if (running.count(it->first))
            ++it;
        else
            it = tracks_.erase(it);
    }
}

std::optional<TransferPace::Estimate> TransferPace::estimate(const std::string& jobID, std::size_t jobSteps) const {
    const auto it = tracks_.find(jobID);
    if (it == tracks_.end() || it->second.movesTimed < kMovesBeforeEstimate) return std::nullopt;
    const Track& track = it->second;
    // Steps that took no measurable time: no rate to tell.
    if (track.secondsPerStep <= 0) return std::nullopt;
    const std::size_t left = jobSteps > track.step ? jobSteps - track.step : 0;
    return Estimate{static_cast<double>(kBytesPerStep) / track.secondsPerStep,
                    static_cast<double>(left) * track.secondsPerStep};
}

}  // namespace quorvel
