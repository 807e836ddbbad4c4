#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The light or dark appearance of the desktop.
enum class InterfaceStyle { dark, light };

// "dark", "light".
const char* rawValue(InterfaceStyle style);
// The style with exactly this raw value; none for any other text.
std::optional<InterfaceStyle> interfaceStyleFromRaw(std::string_view raw);

// Where the desktop's appearance setting comes from: the system-wide
// "AppleInterfaceStyle" text, "Dark" or "Light".
class AppearanceProvider {
public:
    virtual ~AppearanceProvider() = default;
    // Absent when the desktop has no such setting or does not say.
    virtual std::optional<std::string> appleInterfaceStyle() const = 0;
};

// The desktop's appearance as `provider` reports it: no setting is light, and
// so is a text that names no style; otherwise its lower-cased text picks the
// style ("Dark" is dark).
InterfaceStyle currentInterfaceStyle(const AppearanceProvider& provider);
// The same, asked of the desktop portal.
InterfaceStyle currentInterfaceStyle();

}  // namespace quorvel
