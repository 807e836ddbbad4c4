#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrelcomm {

// Scheduling priority; the queue runs higher raw values first.
// clang-format off
#define OSTRELCOMM_JOB_PRIORITIES(X) X(ImmediateRun, 9) X(Deferred, 8) X(High, 3) X(Normal, 2) X(Low, 1)
// clang-format on

enum class JobPriority : std::int8_t {
#define OSTRELCOMM_ENUM_CASE(name, raw) name = raw,
    OSTRELCOMM_JOB_PRIORITIES(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
};

inline constexpr std::size_t kJobPriorityCount = 0
#define OSTRELCOMM_COUNT_CASE(name, raw) +1
    OSTRELCOMM_JOB_PRIORITIES(OSTRELCOMM_COUNT_CASE)
#undef OSTRELCOMM_COUNT_CASE
    ;

constexpr std::int8_t rawValue(JobPriority priority) {
    return static_cast<std::int8_t>(priority);
}

// The priority with this raw value; none for a number that is not listed.
constexpr std::optional<JobPriority> jobPriorityFromRaw(std::int64_t raw) {
    switch (raw) {
#define OSTRELCOMM_RAW_CASE(name, value) \
    case value:                          \
        return JobPriority::name;
        OSTRELCOMM_JOB_PRIORITIES(OSTRELCOMM_RAW_CASE)
#undef OSTRELCOMM_RAW_CASE
    }
    return std::nullopt;
}

std::string_view name(JobPriority priority);

}  // namespace ostrelcomm
