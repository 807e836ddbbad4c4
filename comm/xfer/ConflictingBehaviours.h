#pragma once

#include <cstdint>
#include <optional>

namespace ostrelcomm {

// What an upload of several items does with an item that already exists in
// the remote folder. The application's settings store the raw values.
enum class ConflictingBehaviours { skipIfEqual = 0, alwaysReplace = 1, rename = 2 };

constexpr int rawValue(ConflictingBehaviours behaviour) { return static_cast<int>(behaviour); }

// The behaviour with this raw value; none for a number that is not listed.
constexpr std::optional<ConflictingBehaviours> conflictingBehavioursFromRaw(std::int64_t raw) {
    switch (raw) {
        case 0: return ConflictingBehaviours::skipIfEqual;
        case 1: return ConflictingBehaviours::alwaysReplace;
        case 2: return ConflictingBehaviours::rename;
    }
    return std::nullopt;
}

}  // namespace ostrelcomm
