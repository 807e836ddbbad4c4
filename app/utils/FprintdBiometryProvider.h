#pragma once

#include <QDBusConnection>

#include <string>

#include "app/utils/BiometryProvider.h"

namespace quorvel {

// The fingerprint reader, through the fingerprint daemon (fprintd) on a
// D-Bus bus: the system bus in the application.
//
// The machine offers touchID when the daemon has a default device and the
// current user has enrolled fingers on it; never faceID.
//
// A check claims the device for the current user, starts a verification of
// any finger and shows a small prompt, window-modal on the active window,
// with the reason, a hint line and the buttons "Cancel" (userCancel) and "Use
// Password" (userFallback). A match passes; the third finger that does not
// match fails (authenticationFailed); a scan to retry keeps waiting and says
// so on the hint line. No enrolled fingers give biometryNotEnrolled; a device
// that is missing, busy, refused, disconnected or failing, or a daemon that
// does not answer, gives notInteractive, so the user can still type the
// password. A prompt that goes with its window ends the check as appCancel.
// Once a device was found, the verification is stopped and the device
// released before the reply, whatever the outcome.
//
// Every call to the daemon is bounded in time (kCallTimeoutMs). Status
// signals are taken from the daemon alone: the sender must be the bus name
// that answered for the device.
//
// Made and used on the main thread; supported() blocks for at most two calls.
class FprintdBiometryProvider : public BiometryProvider {
public:
    static constexpr char kService[] = "net.reactivated.Fprint";
    static constexpr char kManagerPath[] = "/net/reactivated/Fprint/Manager";
    static constexpr char kManagerInterface[] = "net.reactivated.Fprint.Manager";
    static constexpr char kDeviceInterface[] = "net.reactivated.Fprint.Device";
    static constexpr char kNoEnrolledPrintsError[] = "net.reactivated.Fprint.Error.NoEnrolledPrints";
    static constexpr int kCallTimeoutMs = 5000;
    // The prompt's object name, and those of its hint line and buttons.
    static constexpr char kPromptName[] = "biometricPrompt";
    static constexpr char kHintName[] = "biometricHint";
    static constexpr char kCancelButtonName[] = "biometricCancel";
    static constexpr char kUsePasswordButtonName[] = "biometricUsePassword";

    explicit FprintdBiometryProvider(QDBusConnection bus);

    BiometrySupport supported() override;
    void evaluate(const std::string& reason, BiometryReply reply) override;

private:
    QDBusConnection bus_;
};

}  // namespace quorvel
