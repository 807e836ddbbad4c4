#pragma once

#include <cstddef>
#include <string_view>

namespace ostrelcomm {

// The engine's steps. Their names are behaviour: a step whose name ends in
// "_wait" waits for an answer, and an unknown step is reported by name. The
// wait steps of the directory modification keep their older "rename" names.
// clang-format off
#define OSTRELCOMM_JOBS_STEPS(X)                                                                              \
    X(idle)                                                                                                   \
    X(user_create) X(user_create_wait)                                                                        \
    X(user_getProfile) X(user_getProfile_wait)                                                                \
    X(user_getShareProfile) X(user_getShareProfile_wait)                                                      \
    X(user_renewAuthenticationForDelete)                                                                      \
    X(user_deleteProfile) X(user_deleteProfile_wait)                                                          \
    X(user_renewAuthenticationForModification)                                                                \
    X(user_getKeys) X(user_getKeys_wait)                                                                      \
    X(user_storeKeys) X(user_storeKeys_wait)                                                                  \
    X(user_getSessions) X(user_getSessions_wait)                                                              \
    X(auth_init) X(auth_init_wait)                                                                            \
    X(auth_getchallenge) X(auth_getchallenge_wait)                                                            \
    X(auth_logout)                                                                                            \
    X(fileSend_prepare) X(fileSend_prepare_wait)                                                              \
    X(fileSend_sendBlock) X(fileSend_sendBlock_wait)                                                          \
    X(fileSend_finalize) X(fileSend_finalize_wait)                                                            \
    X(fileSend_terminate) X(fileSend_terminate_wait)                                                          \
    X(fileSend_abort) X(fileSend_abort_wait)                                                                  \
    X(fileSend_resume)                                                                                        \
    X(fileReceive_prepare) X(fileReceive_prepare_wait)                                                        \
    X(fileReceive_getBlock) X(fileReceive_getBlock_wait)                                                      \
    X(fileReceive_terminate)                                                                                  \
    X(fileReceive_abort)                                                                                      \
    X(directory_getInfoQuery) X(directory_getInfoQuery_wait)                                                  \
    X(directory_getTreeQuery) X(directory_getTreeQuery_wait)                                                  \
    X(directory_createPrepare) X(directory_createPrepare_wait)                                                \
    X(directory_createExecute) X(directory_createExecute_wait)                                                \
    X(file_getInfoQuery) X(file_getInfoQuery_wait)                                                            \
    X(file_modifyPrepare) X(file_modifyPrepare_wait)                                                          \
    X(file_modifyExecute) X(file_modifyExecute_wait)                                                          \
    X(file_copyPrepare) X(file_copyPrepare_wait)                                                              \
    X(file_copyExecute) X(file_copyExecute_wait)                                                              \
    X(file_delete) X(file_delete_wait)                                                                        \
    X(directory_modifyPrepare) X(directory_renamePrepare_wait)                                                \
    X(directory_modifyExecute) X(directory_renameExecute_wait)                                                \
    X(directory_delete) X(directory_delete_wait)                                                              \
    X(share_addTrustedUser) X(share_addTrustedUser_wait)                                                      \
    X(share_listTrusts) X(share_listTrusts_wait)                                                              \
    X(share_removeTrust) X(share_removeTrust_wait)                                                            \
    X(shareItem_prepare) X(shareItem_prepare_wait)                                                            \
    X(shareItem_execute) X(shareItem_execute_wait)                                                            \
    X(share_queryForSharingPeers) X(share_queryForSharingPeers_wait)                                          \
    X(share_queryForShares) X(share_queryForShares_wait)                                                      \
    X(share_queryForSharedItems) X(share_queryForSharedItems_wait)                                            \
    X(share_removeShare) X(share_removeShare_wait)
// clang-format on

enum class JobsSteps {
#define OSTRELCOMM_ENUM_CASE(name) name,
    OSTRELCOMM_JOBS_STEPS(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
};

inline constexpr std::size_t kJobsStepsCount = 0
#define OSTRELCOMM_COUNT_CASE(name) +1
    OSTRELCOMM_JOBS_STEPS(OSTRELCOMM_COUNT_CASE)
#undef OSTRELCOMM_COUNT_CASE
    ;

std::string_view name(JobsSteps step);

// True for a step during which the job only waits for its answer (the name
// ends in "_wait").
bool isWaitStep(JobsSteps step);

}  // namespace ostrelcomm
