#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "app/utils/InterfaceStyle.h"

namespace quorvel {

// The desktop's appearance as the desktop portal's settings give it: the
// "color-scheme" of "org.freedesktop.appearance", read over the session bus.
// 1 (prefer dark) is "Dark", 2 (prefer light) is "Light"; 0 (no preference),
// any other value, no session bus, no portal, a refusal or no answer within
// the time bound leave the setting absent.
//
// Each call opens a private connection of its own and closes it before it
// returns: no thread is started and nothing stays behind. It blocks its
// thread for at most the bound (connecting and the question together). The
// application asks once, when it starts.
class DesktopPortalAppearanceProvider : public AppearanceProvider {
public:
    static constexpr char kPortalService[] = "org.freedesktop.portal.Desktop";
    static constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
    static constexpr char kSettingsInterface[] = "org.freedesktop.portal.Settings";
    static constexpr std::chrono::milliseconds kDefaultTimeout{500};

    // `service` is the bus name of the portal; tests give their fake's.
    explicit DesktopPortalAppearanceProvider(std::string service = kPortalService,
                                             std::chrono::milliseconds timeout = kDefaultTimeout);

    std::optional<std::string> appleInterfaceStyle() const override;

private:
    std::string service_;
    std::chrono::milliseconds timeout_;
};

}  // namespace quorvel
