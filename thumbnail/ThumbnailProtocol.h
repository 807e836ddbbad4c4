#pragma once

// How the library and the thumbnail helper (quorvel-thumbnailer) talk. The
// library starts the helper once, with one end of a socket pair on
// descriptor 3, and sends it one ThumbnailRequest per thumbnail with three
// descriptors: the file (read-only), the write end of a pipe for the output
// (ThumbnailOutput) and a socket for the ending. The helper gives the
// request to a child of its own, confined before it gets the file (a spare
// forked ahead, or one forked for the request), which makes that one
// thumbnail and ends; when the child is gone the helper sends one
// ThumbnailEnding on that socket and closes it. Both sides are built from
// this header in one build.

#include <chrono>
#include <cstdint>

#include "thumbnail/ThumbnailKind.h"

namespace ostrelcomm {

// What one thumbnail may cost in its own process. The memory is address
// space beyond what the helper holds when it forks (its libraries alone take
// some 200 MiB of it) and, like the processor time, a resource limit the
// child sets on itself before it reads the file; the helper ends the child
// when its wall time is up.
struct ThumbnailLimits {
    std::uint64_t memoryBytes = std::uint64_t{256} << 20;
    std::chrono::seconds processor{5};
    std::chrono::milliseconds wallTime{5000};
};

// Misbehaviour the child can be told to show once its output is ready, so
// that tests can see the library survive it. Never set in production.
// clang-format off
#define OSTRELCOMM_THUMBNAIL_FAULTS(X) \
    X(none) X(killedHalfway) X(garbage) X(overlong) X(stalls) X(spins) X(leavesAChild) X(failingStatus)
// clang-format on

enum class ThumbnailFault : std::uint8_t {
#define OSTRELCOMM_ENUM_CASE(name) name,
    OSTRELCOMM_THUMBNAIL_FAULTS(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
};

inline constexpr std::uint8_t kThumbnailFaultCount = 0
#define OSTRELCOMM_COUNT_CASE(name) +1
    OSTRELCOMM_THUMBNAIL_FAULTS(OSTRELCOMM_COUNT_CASE)
#undef OSTRELCOMM_COUNT_CASE
    ;

// One request, sent as one message of these bytes.
struct ThumbnailRequest {
    std::uint8_t kind = 0;  // ThumbnailKind
    std::uint8_t fault = 0;  // ThumbnailFault
    std::uint32_t processorSeconds = 0;
    std::uint32_t wallMilliseconds = 0;
    std::uint64_t memoryBytes = 0;
};

// How the child ended: its wait status, and whether the helper ended it for
// its wall time.
struct ThumbnailEnding {
    std::int32_t waitStatus = 0;
    std::uint8_t timedOut = 0;
};

// Where the helper finds its socket.
inline constexpr int kThumbnailControlDescriptor = 3;
// Where the child has the file to read.
inline constexpr int kThumbnailInputDescriptor = 3;

}  // namespace ostrelcomm
