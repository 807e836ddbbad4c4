#pragma once

#include <compare>
#include <optional>

namespace quorvel {

// A version of the operating system, as the system checks name them.
struct OperatingSystemVersion {
    int majorVersion = 0;
    int minorVersion = 0;
    int patchVersion = 0;

    friend auto operator<=>(const OperatingSystemVersion&, const OperatingSystemVersion&) = default;
};

// The system the program runs on, as far as its version checks go. The
// checks name versions of the system the program first ran on; on Linux
// there is no such version and every check passes. Tests give a version to
// see a check fail.
class PlatformInfo {
public:
    // The system the program runs on: every check passes.
    PlatformInfo() = default;
    // A system of that version.
    explicit PlatformInfo(OperatingSystemVersion version) : version_(version) {}

    bool isOperatingSystemAtLeast(OperatingSystemVersion version) const { return !version_ || *version_ >= version; }

    // What the program checks against: the running system unless set.
    static PlatformInfo current();
    static void setCurrent(PlatformInfo info);

private:
    std::optional<OperatingSystemVersion> version_;
};

// Biometric login is offered from this version on.
inline constexpr OperatingSystemVersion kBiometricLoginSystem{10, 12, 2};
// The machine's biometry is looked for from this version on.
inline constexpr OperatingSystemVersion kBiometryDetectionSystem{10, 13, 2};
// Face recognition counts as the machine's biometry from this version on.
inline constexpr OperatingSystemVersion kFaceIDSystem{10, 15, 0};
// A check that failed for want of a paired watch sends the user to the typed
// login from this version on.
inline constexpr OperatingSystemVersion kWatchNotAvailableSystem{10, 15, 0};

}  // namespace quorvel
