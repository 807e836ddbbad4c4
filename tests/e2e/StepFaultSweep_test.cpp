// Every request step of every area against every fault the stand-in server
// can inject: whatever goes wrong, the job ends with exactly one terminal
// notification, the engine is idle afterwards, nothing went out unsigned once
// the user was logged in, and no session worker is left running.
//
// The rows come from the areas' own step tables (RequestRows): a new row joins
// the sweep by itself. What the sweep needs to know beside a row is how to
// queue a job that reaches it (a probe, below); a row without one fails.

#include <gtest/gtest.h>
#include <unistd.h>

#include <unistd.h>

#include <any>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "devserver/AccountEndpoints.h"
#include "devserver/DevServer.h"
#include "devserver/Signing.h"
#include "devserver/TransferEndpoints.h"
#include "jobs/CommJobs.h"
#include "jobs/RequestStep.h"
#include "jobs/SrvComm.h"
#include "platform/UrlSession.h"
#include "shares/ShareNotifications.h"
#include "support/EngineRequests.h"
#include "support/ListingOracle.h"
#include "support/NotificationRecorder.h"
#include "support/ListingOracle.h"
#include "support/SharedDevserver.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"
#include "tree/TreeNotifications.h"
#include "user/UserNotifications.h"
#include "xfer/XferNotifications.h"

namespace ostrelcomm {

// A failing row names its step, not the bytes of its parameter.
void PrintTo(const RequestSpec& row, std::ostream* os) { *os << name(row.step); }

namespace {

constexpr auto kGuard = std::chrono::seconds(30);
constexpr char kPassword[] = "sweep password";

devserver::DevServer& server() { return testsupport::sharedDevserver().server(); }

// What a probe's job is, for the sweep: the notification that announces it
// and the result words it posts while it runs (the others end it).
struct Probe {
    std::string notification;
    std::set<std::string> progressWords;
    // Queues the job on a logged-in engine of `user`; returns its identifier.
    std::function<std::string(SrvComm& engine, const std::string& user)> queue;
    // The job asks for its own abort on the way (the row is an abort step):
    // the sweep's stalled request is that abort already.
    bool abortsItself = false;
};

// A file of the user's, sealed as another client would have stored it.
std::string seededFile(const std::string& user) {
    const auto account = server().users().find(user);
    if (!account) return "no-such-user";
    const auto chain = testsupport::ListingOracle::forAccount(account->umk, kPassword);
    if (!chain) return "no-key-chain";
    testsupport::ListingOracle::Item item;
    item.metadata = testsupport::metadataText("sweep");
    devserver::Item stored;
    stored.owner = account->uuid;
    stored.kind = devserver::ItemKind::file;
    stored.itemkey = chain->wrappedItemKey(item);
    stored.metadata = chain->sealedMetadata(item);
    const auto added = server().items().add(stored);
    return added ? added->uuid : "not-stored";
}

// A one-block file of the user's, stored as the upload leaves one, and the
// folder every download of the sweep goes to (removed at the program's end).
std::string seededDownload(const std::string& user) {
    const auto account = server().users().find(user);
    if (!account) return "no-such-user";
    const auto chain = testsupport::ListingOracle::forAccount(account->umk, kPassword);
    if (!chain) return "no-key-chain";
    testsupport::ListingOracle::Item item;
    item.metadata = testsupport::metadataText("sweep download");
    const Bytes key(item.itemKey.begin() + 16, item.itemKey.end());
    const Bytes iv(item.itemKey.begin(), item.itemKey.begin() + 16);
    const Bytes cipher = testsupport::oracleCbcEncrypt(key, iv, Bytes(100, 0x5a));
    const std::string body(cipher.begin(), cipher.end());
    devserver::Item stored;
    stored.owner = account->uuid;
    stored.itemkey = chain->wrappedItemKey(item);
    stored.metadata = chain->sealedMetadata(item);
    stored.size = 100;
    stored.chunks = {devserver::Chunk{0, 99, devserver::sha256Hex(body)}};
    stored.treehash = devserver::treeHashHex(stored.chunks);
    const auto added = devserver::storeFile(server(), stored, {body});
    return added ? added->uuid : "not-stored";
}

const std::filesystem::path& downloadFolder() {
    static const struct Folder {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("sweep-downloads-" + std::to_string(::getpid()));
        ~Folder() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    } folder;
    return folder.path;
}

// How to reach each row. A job may pass other rows first (a password change
// logs in again before it fetches the keys): the fault sits on the row's
// own method and path only.
const std::map<JobsSteps, Probe>& probes() {
    static const std::map<JobsSteps, Probe> table = [] {
        const Probe login{auth::kSRPAuthenticatedNotification, {auth::kInProgress},
                          [](SrvComm& e, const std::string& user) {
                              return e.auth_add(user, SecretBytes::fromText(kPassword), SRPAuthMode::new_);
                          }};
        const Probe folderCreation{tree::kNewRemoteDirectoryCreatedNotification, {tree::kStarted},
                                   [](SrvComm& e, const std::string&) {
                                       return e.directory_create("sweep", std::nullopt, "sweep");
                                   }};
        // Another user for the trust rows, and that user trusted already
        // (in the stand-in's table) for the removal.
        const auto peer = [] {
            return devserver::addDemoUser(server().users(), testsupport::uniqueName("sweep-peer"), kPassword);
        };
        // A folder of the user's, sealed under the account's own keys as a
        // client would have stored it, for the rows that change one.
        const auto seededFolder = [](const std::string& user) {
            const devserver::User account = *server().users().find(user);
            const auto chain = testsupport::ListingOracle::forAccount(account.umk, kPassword);
            testsupport::ListingOracle::Item item;
            item.metadata = testsupport::metadataText("sweep");
            devserver::Item stored;
            stored.owner = account.uuid;
            stored.itemkey = chain->wrappedItemKey(item);
            stored.metadata = chain->sealedMetadata(item);
            return server().items().add(stored)->uuid;
        };
        const Probe folderRename{tree::kDirectoryPropertiesModifiedNotification, {tree::kStarted},
                                 [seededFolder](SrvComm& e, const std::string& user) {
                                     return e.directory_modify(seededFolder(user), std::nullopt, "renamed", "sweep");
                                 }};
        const Probe passwordChange{user::kUserModificationNotification, {}, [](SrvComm& e, const std::string& user) {
                                       return e.user_modify(user, SecretBytes::fromText(kPassword),
                                                            SecretBytes::fromText("another password"));
                                   }};
        const Probe fileModification{tree::kFilePropertiesModificationNotification, {tree::kStarted},
                                     [](SrvComm& e, const std::string& user) {
                                         const auto now = std::chrono::floor<std::chrono::seconds>(
                                             std::chrono::system_clock::now());
                                         return e.file_modify(seededFile(user), std::nullopt,
                                                              RemoteItemMetadata("sweep", now, now), std::nullopt);
                                     }};
        const Probe fileCopy{tree::kFileCopyNotification, {tree::kStarted}, [](SrvComm& e, const std::string& user) {
                                 return e.file_copy(seededFile(user), std::nullopt);
                             }};
        // One of the user's files shared with another user made for the run.
        const Probe shareItem{shares::kShareItemTerminatedNotification, {}, [peer](SrvComm& e, const std::string& user) {
                                  return e.shares_shareItem(peer().name, seededFile(user));
                              }};
        const Probe download{xfer::kRemoteFileDownloadNotification, {xfer::kDownloading},
                             [](SrvComm& e, const std::string& user) {
                                 return e.fileReceive_add(seededDownload(user), downloadFolder(), "sweep", "sweep")
                                     .value_or("");
                             }};
        // An upload of a small file of its own: every upload row but the
        // abort runs on the way; the abort probe aborts the job once the
        // server has named the file.
        static const std::filesystem::path uploaded = [] {
            const auto path = std::filesystem::temp_directory_path() /
                              testsupport::uniqueName("sweep-upload-" + std::to_string(::getpid()));
            std::ofstream(path, std::ios::binary) << std::string(5000, 'u');
            return path;
        }();
        const Probe upload{xfer::kLocalFileUploadNotification, {xfer::kSending}, [](SrvComm& e, const std::string&) {
                               return e.fileSend_add(uploaded, std::nullopt, "sweep.bin").value_or("");
                           }};
        Probe uploadAborted{xfer::kLocalFileUploadNotification, {xfer::kSending},
                            [](SrvComm& e, const std::string&) {
                                auto asked = std::make_shared<bool>(false);
                                e.notifications()->addObserver(
                                    xfer::kLocalFileUploadNotification, [&e, asked](const Notification& n) {
                                        const auto* data =
                                            userInfoValue<xfer::LocalFileUploadPayload>(n.userInfo, "CustomData");
                                        if (*asked || !data) return;
                                        const auto* uuid = std::any_cast<std::string>(&data->at(xfer::kUUIDKey));
                                        const auto* job = std::any_cast<std::string>(&data->at(xfer::kJobIDKey));
                                        if (!uuid || uuid->empty() || !job) return;
                                        *asked = true;
                                        e.abortJobs({*job});
                                    });
                                return e.fileSend_add(uploaded, std::nullopt, "sweep.bin").value_or("");
                            },
                            true};
        return std::map<JobsSteps, Probe>{
            {JobsSteps::fileSend_prepare, upload},
            {JobsSteps::fileSend_sendBlock, upload},
            {JobsSteps::fileSend_finalize, upload},
            {JobsSteps::fileSend_terminate, upload},
            {JobsSteps::fileSend_abort, uploadAborted},
            {JobsSteps::fileReceive_prepare, download},
            {JobsSteps::fileReceive_getBlock, download},
            {JobsSteps::auth_init, login},
            {JobsSteps::auth_getchallenge, login},
            {JobsSteps::user_create,
             {user::kUserCreationTerminatedNotification, {}, [](SrvComm& e, const std::string&) {
                  return e.user_addCreation(testsupport::uniqueName("sweep-new"), SecretBytes::fromText(kPassword));
              }}},
            {JobsSteps::user_getProfile,
             {user::kUserProfileDataAvailableNotification, {}, [](SrvComm& e, const std::string&) {
                  return e.user_addGetProfile();
              }}},
            {JobsSteps::user_getShareProfile,
             {user::kPeerShareDataNotification, {}, [](SrvComm& e, const std::string& user) {
                  return e.user_addGetShareProfile(user);
              }}},
            {JobsSteps::user_getSessions,
             {user::kGetUserSessionsDataNotification, {}, [](SrvComm& e, const std::string&) {
                  return e.user_addGetUserSessions(0, 10);
              }}},
            {JobsSteps::user_getKeys, passwordChange},
            {JobsSteps::user_storeKeys, passwordChange},
            {JobsSteps::directory_getInfoQuery,
             {tree::kQueryRemoteDirectoryContentNotification, {tree::kStarted}, [](SrvComm& e, const std::string&) {
                  return e.directory_getInfo("root", "sweep");
              }}},
            {JobsSteps::directory_createPrepare, folderCreation},
            {JobsSteps::directory_createExecute, folderCreation},
            {JobsSteps::directory_modifyPrepare, folderRename},
            {JobsSteps::directory_modifyExecute, folderRename},
            {JobsSteps::directory_delete,
             {tree::kDirectoryDeletedNotification, {tree::kStarted},
              [seededFolder](SrvComm& e, const std::string& user) {
                  return e.directory_delete(seededFolder(user), true, "sweep");
              }}},
            {JobsSteps::directory_getTreeQuery,
             {tree::kGetDirectoryTreeTerminatedNotification, {}, [](SrvComm& e, const std::string&) {
                  return e.directory_getTree("root", false, "ALL", "sweep");
              }}},
            {JobsSteps::file_getInfoQuery,
             {tree::kGetFileInfoNotification, {tree::kStarted}, [](SrvComm& e, const std::string& user) {
                  return e.file_getFileInfo(seededFile(user), "sweep");
              }}},
            {JobsSteps::file_modifyPrepare, fileModification},
            {JobsSteps::file_modifyExecute, fileModification},
            {JobsSteps::file_copyPrepare, fileCopy},
            {JobsSteps::file_copyExecute, fileCopy},
            {JobsSteps::file_delete,
             {tree::kDeleteFileNotification, {tree::kStarted}, [](SrvComm& e, const std::string& user) {
                  return e.file_delete(seededFile(user));
              }}},
            {JobsSteps::user_deleteProfile,
             {user::kUserProfileDeletedNotification, {}, [](SrvComm& e, const std::string&) {
                  return e.user_delete(SecretBytes::fromText(kPassword));
              }}},
            {JobsSteps::share_addTrustedUser,
             {shares::kTrustCreationTerminatedNotification, {}, [peer](SrvComm& e, const std::string&) {
                  const devserver::User other = peer();
                  return e.shares_addTrustedUser(other.uuid, other.name, other.pubshkey);
              }}},
            {JobsSteps::share_listTrusts,
             {shares::kTrustsListNotification, {}, [](SrvComm& e, const std::string&) {
                  return e.shares_getTrustedUsers();
              }}},
            {JobsSteps::share_removeTrust,
             {shares::kTrustRemoveNotification, {}, [peer](SrvComm& e, const std::string& user) {
                  const devserver::User other = peer();
                  server().trusts().add(server().users().find(user)->uuid,
                                        {"sweep-trust", other.uuid, other.name, other.pubshkey});
                  return e.shares_deleteTrust(other.uuid);
              }}},
            {JobsSteps::shareItem_prepare, shareItem},
            {JobsSteps::shareItem_execute, shareItem},
            {JobsSteps::share_queryForShares,
             {shares::kQueryForSharesNotification, {shares::kStarted}, [](SrvComm& e, const std::string& user) {
                  return e.shares_queryForShares(seededFile(user));
              }}},
            // One of the user's files granted to another user made for the run.
            {JobsSteps::share_removeShare,
             {shares::kRemoveShareTerminatedNotification, {}, [peer](SrvComm& e, const std::string& user) {
                  const std::string owner = server().users().find(user)->uuid;
                  const std::string file = seededFile(user);
                  const devserver::User reader = peer();
                  server().items().grant(owner, file, reader.uuid, "sweep key");
                  const auto shared = server().items().sharedWith(reader.uuid, file);
                  return e.shares_removeShare(shared ? shared->grant.shareUUID : "no-share");
              }}},
            {JobsSteps::share_queryForSharingPeers,
             {shares::kQueryForSharingPeersNotification, {shares::kStarted}, [](SrvComm& e, const std::string&) {
                  return e.shares_queryForSharingPeer();
              }}},
            {JobsSteps::share_queryForSharedItems,
             {shares::kQuerySharedItemsNotification, {shares::kStarted}, [](SrvComm& e, const std::string&) {
                  return e.shares_queryForSharedItems(std::nullopt);
              }}},
        };
    }();
    return table;
}

struct FaultCase {
    const char* name;
    devserver::Fault fault;
    // Stall the request, abort the job while it waits, then release it.
    bool abortWhileStalled = false;
};

std::vector<FaultCase> faultCases() {
    using devserver::Fault;
    using devserver::HeaderTamper;
    auto tampered = [](auto set) {
        Fault f;
        set(f);
        return f;
    };
    auto once = [](Fault f) {
        f.times = 1;
        return f;
    };
    return {
        {"status 500", Fault::exception(500, "InternalServerError", "The server broke")},
        {"status 404", once(tampered([](Fault& f) { f.status = 404; }))},
        {"exception", Fault::exception(400, "BadRequestException", "Malformed request")},
        {"undecodable body", tampered([](Fault& f) {
             f.rawBody = "{not json";
             f.contentType = "application/json";
         })},
        {"no content type", tampered([](Fault& f) { f.omitContentType = true; })},
        {"signature dropped", tampered([](Fault& f) { f.auth = HeaderTamper::drop(); })},
        {"signature corrupted", tampered([](Fault& f) { f.auth = HeaderTamper::corrupt(); })},
        {"signed names corrupted", tampered([](Fault& f) { f.authHeaders = HeaderTamper::corrupt(); })},
        {"body digest corrupted", tampered([](Fault& f) { f.payloadSha256 = HeaderTamper::corrupt(); })},
        {"body digest upper case", tampered([](Fault& f) { f.payloadSha256 = HeaderTamper::upperCase(); })},
        {"wrong action", tampered([](Fault& f) { f.action = "SOMETHING_ELSE"; })},
        {"wrong user", tampered([](Fault& f) { f.username = "somebody-else"; })},
        {"dropped connection", Fault::droppedConnection()},
        {"stall, then abort", once(Fault::stalled()), true},
        {"session expired once", once(Fault::sessionExpired())},
        {"session expired for ever", Fault::sessionExpired()},
    };
}

std::string caseName(const testing::TestParamInfo<RequestSpec>& info) { return std::string(name(info.param.step)); }

class StepFaultSweep : public testing::TestWithParam<RequestSpec> {};

TEST_P(StepFaultSweep, EveryFaultEndsTheJobOnceAndLeavesTheEngineIdle) {
    const RequestSpec row = GetParam();
    auto probe = probes().find(row.step);
    ASSERT_NE(probe, probes().end()) << "no probe for the row " << name(row.step)
                                     << ": add one to the sweep's table";
    // The rows that go out unsigned by design (the login, the account creation).
    std::set<std::string> unsignedRows;
    for (const auto& r : RequestRows::all())
        if (!r.isSigned) unsignedRows.insert(std::string(r.method) + " " + r.path);

    for (const auto& c : faultCases()) {
        SCOPED_TRACE(c.name);
        const std::string user = testsupport::uniqueName("sweep");
        devserver::addDemoUser(server().users(), user, kPassword);
        {
            auto engine = std::make_shared<SrvComm>();
            testsupport::NotificationRecorder recorder(engine->notifications(), {probe->second.notification});
            testsupport::NotificationRecorder logins(engine->notifications(), {auth::kSRPAuthenticatedNotification});
            engine->auth_add(user, SecretBytes::fromText(kPassword), SRPAuthMode::new_);
            ASSERT_TRUE(logins.waitIdle());
            ASSERT_EQ(logins.last(auth::kSRPAuthenticatedNotification)->result, auth::kAuthenticated);
            ASSERT_TRUE(recorder.waitIdle());
            recorder.clear();
            const std::size_t requestsBefore = testsupport::requestsOf(server(), user).size();

            server().setFault(row.method, row.path, c.fault);
            const std::string jobID = probe->second.queue(*engine, user);
            if (c.abortWhileStalled) {
                ASSERT_TRUE(server().waitForStalledRequests(1, kGuard));
                if (!probe->second.abortsItself) {
                    EXPECT_TRUE(engine->abortJobs({jobID}).at(jobID));
                }
                server().releaseStalls();
            }
            // The engine runs dry once the job (and whatever it queued) ends.
            ASSERT_TRUE(recorder.waitIdle()) << "the job never ended";
            auto item = engine->queue()->getJobData(jobID);
            ASSERT_TRUE(item && isFinished(item->status));
            ASSERT_TRUE(server().waitForStalledRequests(0, kGuard));
            server().clearFault(row.method, row.path);

            std::size_t terminal = 0;
            for (const auto& p : recorder.all())
                if (!probe->second.progressWords.count(p.result)) ++terminal;
            EXPECT_EQ(terminal, 1u) << "terminal notifications of the job";
            EXPECT_EQ(engine->actualJobStep(), JobsSteps::idle);
            EXPECT_FALSE(engine->queue()->getNextJob().first.has_value());

            const auto requests = testsupport::requestsOf(server(), user);
            for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
                const std::string line = requests[i].method + " " + requests[i].path;
                if (unsignedRows.count(line)) continue;
                EXPECT_TRUE(requests[i].has("x-sb-auth")) << line << " went out unsigned";
            }
            engine->queue()->jobCleanup();
        }
        EXPECT_TRUE(UrlSession::waitForNoLiveWorkers(std::chrono::duration_cast<std::chrono::milliseconds>(kGuard)))
            << "a session worker is still running";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryRow, StepFaultSweep, testing::ValuesIn(RequestRows::all()), caseName);

}  // namespace
}  // namespace ostrelcomm
