#include "auth/SRPAuthMode.h"

namespace ostrelcomm {

std::string_view name(SRPAuthMode mode) {
    switch (mode) {
#define OSTRELCOMM_NAME_CASE(id, text) \
    case SRPAuthMode::id:              \
        return text;
        OSTRELCOMM_SRP_AUTH_MODES(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

}  // namespace ostrelcomm
