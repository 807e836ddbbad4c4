#pragma once

#include <cstddef>
#include <string_view>

namespace ostrelcomm {

// Kinds of job, in their fixed order.
// clang-format off
#define OSTRELCOMM_JOB_TYPES(X)                                                                      \
    X(nop) X(userAdd) X(getProfile) X(getShareProfile) X(getSessionsInformations) X(deleteProfile) \
    X(modifyUser) X(authenticate) X(logout) X(fileSend) X(fileReceive) X(getFolderInfo)            \
    X(createFolder) X(getDirectoryTree) X(getFileInfo) X(fileModify) X(fileCopy) X(fileDelete)     \
    X(directoryModify) X(directoryDelete) X(addTrustedUser) X(listTrusts) X(removeTrust)           \
    X(shareItem) X(removeShare) X(queryForShares) X(queryForSharingPeers) X(queryForSharedItems)
// clang-format on

enum class JobType {
#define OSTRELCOMM_ENUM_CASE(name) name,
    OSTRELCOMM_JOB_TYPES(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
};

inline constexpr std::size_t kJobTypeCount = 0
#define OSTRELCOMM_COUNT_CASE(name) +1
    OSTRELCOMM_JOB_TYPES(OSTRELCOMM_COUNT_CASE)
#undef OSTRELCOMM_COUNT_CASE
    ;

std::string_view name(JobType type);

}  // namespace ostrelcomm
