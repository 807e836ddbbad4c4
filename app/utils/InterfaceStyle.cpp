#include "app/utils/InterfaceStyle.h"

#include <QString>

#include "app/utils/DesktopPortalAppearanceProvider.h"

namespace quorvel {

const char* rawValue(InterfaceStyle style) {
    switch (style) {
        case InterfaceStyle::dark: return "dark";
        case InterfaceStyle::light: return "light";
    }
    return "light";
}

std::optional<InterfaceStyle> interfaceStyleFromRaw(std::string_view raw) {
    if (raw == "dark") return InterfaceStyle::dark;
    if (raw == "light") return InterfaceStyle::light;
    return std::nullopt;
}

InterfaceStyle currentInterfaceStyle(const AppearanceProvider& provider) {
    const std::string setting = provider.appleInterfaceStyle().value_or("light");
    // Unicode lower-casing, as the setting is a text of the desktop's.
    const std::string lowered = QString::fromStdString(setting).toLower().toStdString();
    // A text that names no style: the desktop's default look.
    return interfaceStyleFromRaw(lowered).value_or(InterfaceStyle::light);
}

InterfaceStyle currentInterfaceStyle() { return currentInterfaceStyle(DesktopPortalAppearanceProvider()); }

}  // namespace quorvel
