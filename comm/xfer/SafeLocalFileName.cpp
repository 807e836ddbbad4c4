#include "xfer/SafeLocalFileName.h"

namespace ostrelcomm {

std::string safeLocalFileName(std::string_view name, std::string_view fallback) {
    if (name.empty() || name == "." || name == "..") return std::string(fallback);
    std::string safe(name);
    for (char& c : safe) {
        if (c == '/' || c == '\0') c = '_';
    }
    return safe;
}

}  // namespace ostrelcomm
