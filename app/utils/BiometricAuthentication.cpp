#include "app/utils/BiometricAuthentication.h"

#include <QDBusConnection>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "app/utils/FprintdBiometryProvider.h"

namespace quorvel {

namespace {

BiometrySupport detect(BiometryProvider& provider, const PlatformInfo& platform) {
    if (!platform.isOperatingSystemAtLeast(kBiometryDetectionSystem)) return BiometrySupport::none;
    const BiometrySupport offered = provider.supported();
    // Before face recognition counts, a machine offering it has no biometry
    // the program uses: only the fingerprint test decides then.
    if (offered == BiometrySupport::faceID && platform.isOperatingSystemAtLeast(kFaceIDSystem))
        return BiometrySupport::faceID;
    if (offered == BiometrySupport::touchID) return BiometrySupport::touchID;
    return BiometrySupport::none;
}

std::atomic<BiometricAuthentication*>& sharedInstance() {
    static std::atomic<BiometricAuthentication*> instance{nullptr};
    return instance;
}

}  // namespace

BiometricAuthentication::BiometricAuthentication(std::shared_ptr<BiometryProvider> provider,
                                                 const PlatformInfo& platform)
    : provider_(std::move(provider)) {
    if (!provider_) throw std::invalid_argument("BiometricAuthentication needs a provider");
    supportedBiometry_ = detect(*provider_, platform);
}

BiometricAuthentication& BiometricAuthentication::shared() {
    if (BiometricAuthentication* installed = sharedInstance().load()) return *installed;
    static std::once_flag once;
    std::call_once(once, [] {
        if (sharedInstance().load()) return;
        sharedInstance().store(new BiometricAuthentication(
            std::make_shared<FprintdBiometryProvider>(QDBusConnection::systemBus()), PlatformInfo::current()));
    });
    return *sharedInstance().load();
}

BiometricAuthentication& BiometricAuthentication::installShared(std::unique_ptr<BiometricAuthentication> instance) {
    // Every instance that was shared stays reachable: a check it started may
    // still be waiting for the user.
    static auto* kept = new std::vector<BiometricAuthentication*>;
    kept->push_back(instance.release());
    sharedInstance().store(kept->back());
    return *kept->back();
}

}  // namespace quorvel
