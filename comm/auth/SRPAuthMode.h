#pragma once

#include <string_view>

namespace ostrelcomm {

// How a login job runs. `new` is a keyword here, hence `new_` (its name is
// still "new").
//   new_:    a first login; any stored session identifier is dropped.
//   renew:   a new login that presents the stored session identifier.
//   prepare: no exchange; the engine gets a local session "preparedSession"
//            with a random 32-byte key.
#define OSTRELCOMM_SRP_AUTH_MODES(X) X(new_, "new") X(renew, "renew") X(prepare, "prepare")

enum class SRPAuthMode {
#define OSTRELCOMM_ENUM_CASE(id, text) id,
    OSTRELCOMM_SRP_AUTH_MODES(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
};

std::string_view name(SRPAuthMode mode);

}  // namespace ostrelcomm
