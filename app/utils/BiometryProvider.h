#pragma once

#include <functional>
#include <optional>
#include <string>

namespace quorvel {

// The biometry a machine offers, in the order the program names it.
enum class BiometrySupport { none, touchID, faceID };

// The codes of a biometric check that did not pass, as the login paths tell
// them apart.
namespace LAErrorCode {
inline constexpr int authenticationFailed = -1;
inline constexpr int userCancel = -2;
inline constexpr int userFallback = -3;
inline constexpr int systemCancel = -4;
inline constexpr int biometryNotEnrolled = -7;
inline constexpr int biometryLockout = -8;
inline constexpr int appCancel = -9;
inline constexpr int watchNotAvailable = -11;
inline constexpr int notInteractive = -1004;
}  // namespace LAErrorCode

// Why a biometric check did not pass: a code of the check itself
// (LAErrorCode), or a failure of another kind, which the login paths treat
// as nothing to act on.
struct BiometryError {
    enum class Domain { localAuthentication, other };

    Domain domain = Domain::localAuthentication;
    int code = 0;

    static BiometryError localAuthentication(int code) { return {Domain::localAuthentication, code}; }
    static BiometryError other(int code) { return {Domain::other, code}; }

    friend bool operator==(const BiometryError&, const BiometryError&) = default;
};

// How a check ended: no error when it passed. Called exactly once.
using BiometryReply = std::function<void(std::optional<BiometryError>)>;

// The machine's biometric check, behind which sits the platform's reader.
class BiometryProvider {
public:
    virtual ~BiometryProvider() = default;
    // The biometry this machine can check now.
    virtual BiometrySupport supported() = 0;
    // Asks the user for a biometric check, telling them `reason`, and calls
    // `reply` once with the outcome, on the thread that called.
    virtual void evaluate(const std::string& reason, BiometryReply reply) = 0;
};

}  // namespace quorvel
