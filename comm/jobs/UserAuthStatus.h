#pragma once

#include <cstddef>
#include <string_view>

namespace ostrelcomm {

// Login state of an engine.
// clang-format off
#define OSTRELCOMM_USER_AUTH_STATUSES(X) \
    X(notAuthenticated) X(inProgress) X(renewAuthentication) X(authFullAccess) X(authError)
// clang-format on

enum class UserAuthStatus {
#define OSTRELCOMM_ENUM_CASE(name) name,
    OSTRELCOMM_USER_AUTH_STATUSES(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
};

inline constexpr std::size_t kUserAuthStatusCount = 0
#define OSTRELCOMM_COUNT_CASE(name) +1
    OSTRELCOMM_USER_AUTH_STATUSES(OSTRELCOMM_COUNT_CASE)
#undef OSTRELCOMM_COUNT_CASE
    ;

std::string_view name(UserAuthStatus status);

}  // namespace ostrelcomm
