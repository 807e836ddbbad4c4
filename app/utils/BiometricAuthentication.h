#pragma once

#include <memory>

#include "app/utils/BiometryProvider.h"
#include "app/utils/PlatformInfo.h"

namespace quorvel {

// The machine's biometry, decided once when the instance is made: a device
// attached later is seen at the next start. The check itself goes to the
// provider.
class BiometricAuthentication {
public:
    using BiometrySupport = quorvel::BiometrySupport;

    // Asks `provider` what the machine offers, within what `platform`'s
    // version allows. Throws std::invalid_argument for a null provider.
    BiometricAuthentication(std::shared_ptr<BiometryProvider> provider, const PlatformInfo& platform);

    // The instance of the run: the one installed, or else one over the
    // fingerprint daemon on the system bus, made on first use (from any
    // thread, once).
    static BiometricAuthentication& shared();
    // Makes `instance` the shared one (tests bring their own provider). Like
    // the application's, it is never destroyed.
    static BiometricAuthentication& installShared(std::unique_ptr<BiometricAuthentication> instance);

    BiometrySupport supportedBiometry() const { return supportedBiometry_; }
    BiometryProvider& provider() const { return *provider_; }

private:
    std::shared_ptr<BiometryProvider> provider_;
    BiometrySupport supportedBiometry_;
};

}  // namespace quorvel
