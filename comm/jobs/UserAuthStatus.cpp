#include "jobs/UserAuthStatus.h"

namespace ostrelcomm {

std::string_view name(UserAuthStatus status) {
    switch (status) {
#define OSTRELCOMM_NAME_CASE(name) \
    case UserAuthStatus::name:     \
        return #name;
        OSTRELCOMM_USER_AUTH_STATUSES(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

}  // namespace ostrelcomm
