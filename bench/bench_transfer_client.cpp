// The client side of the whole-process transfer benchmark (bench/transfer.sh):
// one engine that logs in and moves one file, as the application would, in a
// process of its own so that its wall time and peak memory can be set beside
// curl's on the same server.
//
//   bench_transfer_client --user NAME:PASSWORD upload FILE
//   bench_transfer_client --user NAME:PASSWORD download UUID FOLDER
//   bench_transfer_client profile FILE
//
// The server and its CA come from QUORVEL_SERVER_URL and QUORVEL_CA_FILE, as
// for the application. upload prints "uuid <remote file>", download
// "path <file written>", both "seconds <transfer>" (from queuing the job to
// its end; the login is not counted). profile times, on the same bytes and
// with the library's own primitives, each piece of work an upload does to a
// block before it is sent: the breakdown beside the upload's wall time.
// upload and download also print "longest-hold-ms", the longest the engine's
// lock was held at a time while the transfer ran (the window queues its jobs
// under that lock, so it is the longest a window call could wait), timed by
// the program's own pthread mutex functions of LockHoldTimer.h;
// "longest-hold-own-ms" is the same less the holder's waits for a processor.

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <any>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "crypto/Digest.h"
#include "crypto/EncryptionKey.h"
#include "crypto/SecretBytes.h"
#include "crypto/StreamCryptor.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "xfer/FileSendBlockReader.h"
#include "xfer/FileSendContext.h"
#include "xfer/XferNotifications.h"

#include "LockHoldTimer.h"

namespace {

using namespace ostrelcomm;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The first notification of `name` whose "Result" is one of `ends`.
class EndWaiter {
public:
    EndWaiter(std::shared_ptr<NotificationCenter> center, std::string name, std::vector<std::string> ends)
        : center_(std::move(center)), ends_(std::move(ends)) {
        token_ = center_->addObserver(std::move(name), [this](const Notification& n) {
            const auto* result = userInfoValue<std::string>(n.userInfo, "Result");
            if (!result) return;
            for (const auto& end : ends_) {
                if (*result != end) continue;
                std::lock_guard lock(mutex_);
                if (!ended_) {
                    ended_ = *result;
                    if (auto it = n.userInfo.find("CustomData"); it != n.userInfo.end()) data_ = it->second;
                }
                changed_.notify_all();
            }
        });
    }
    ~EndWaiter() { center_->removeObserver(token_); }
    EndWaiter(const EndWaiter&) = delete;
    EndWaiter& operator=(const EndWaiter&) = delete;

    // The end's result and its CustomData; waits as long as it takes.
    std::pair<std::string, std::any> wait() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ended_.has_value(); });
        return {*ended_, data_};
    }

private:
    std::shared_ptr<NotificationCenter> center_;
    std::vector<std::string> ends_;
    NotificationCenter::Token token_ = 0;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::string> ended_;
    std::any data_;
};

template <class T>
std::optional<T> entry(const std::any& data, const char* key) {
    const auto* map = std::any_cast<std::map<std::string, std::any>>(&data);
    if (!map) return std::nullopt;
    auto it = map->find(key);
    if (it == map->end()) return std::nullopt;
    const T* value = std::any_cast<T>(&it->second);
    return value ? std::optional<T>(*value) : std::nullopt;
}

std::string lastEvent(const SrvComm& engine) {
    const auto events = engine.comLog().events();
    return events.empty() ? std::string() : events.back().description;
}

bool login(SrvComm& engine, const std::string& user, const std::string& password) {
    EndWaiter waiter(engine.notifications(), auth::kSRPAuthenticatedNotification,
                     {auth::kAuthenticated, auth::kError, auth::kAborted});
    engine.auth_add(user, SecretBytes::fromText(password), SRPAuthMode::new_);
    const auto [result, data] = waiter.wait();
    if (result == auth::kAuthenticated) return true;
    std::fprintf(stderr, "login failed: %s (%s)\n", result.c_str(), lastEvent(engine).c_str());
    return false;
}

int upload(SrvComm& engine, const std::filesystem::path& file) {
    EndWaiter waiter(engine.notifications(), xfer::kLocalFileUploadNotification,
                     {xfer::kSent, xfer::kError, xfer::kAborted});
    holdtimer::watchOwnTime(engine.mutex());
    const auto start = Clock::now();
    if (!engine.fileSend_add(file, std::nullopt, std::nullopt, std::nullopt, std::nullopt, "bench")) {
        std::fprintf(stderr, "upload not queued: %s\n", lastEvent(engine).c_str());
        return 1;
    }
    const auto [result, data] = waiter.wait();
    const double seconds = secondsSince(start);
    if (result != xfer::kSent) {
        std::fprintf(stderr, "upload ended %s: %s\n", result.c_str(), lastEvent(engine).c_str());
        return 1;
    }
    std::printf("uuid %s\nseconds %.3f\nlongest-hold-ms %.2f\nlongest-hold-own-ms %.2f\n",
                entry<std::string>(data, xfer::kUUIDKey).value_or("").c_str(), seconds, holdtimer::longestMs(),
                holdtimer::longestOwnMs());
    return 0;
}

int download(SrvComm& engine, const std::string& uuid, const std::filesystem::path& folder) {
    EndWaiter waiter(engine.notifications(), xfer::kRemoteFileDownloadNotification,
                     {xfer::kReceived, xfer::kError, xfer::kAborted});
    holdtimer::watchOwnTime(engine.mutex());
    const auto start = Clock::now();
    if (!engine.fileReceive_add(uuid, folder, "bench", "bench")) {
        std::fprintf(stderr, "download not queued: %s\n", lastEvent(engine).c_str());
        return 1;
    }
    const auto [result, data] = waiter.wait();
    const double seconds = secondsSince(start);
    if (result != xfer::kReceived) {
        std::fprintf(stderr, "download ended %s: %s\n", result.c_str(), lastEvent(engine).c_str());
        return 1;
    }
    std::printf("path %s\nseconds %.3f\nlongest-hold-ms %.2f\nlongest-hold-own-ms %.2f\n",
                entry<std::string>(data, xfer::kDownloadLocalURLKey).value_or("").c_str(), seconds,
                holdtimer::longestMs(), holdtimer::longestOwnMs());
    return 0;
}

// Each piece of an upload's work on a block, timed over the whole file on its
// own: reading (from the page cache when the file was just written or read),
// the clear file's digest, the block's encryption, and the digest of the
// encrypted body.
int profile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror("open");
        return 1;
    }
    const std::size_t block = FileSendContext::kBlockSize;
    Bytes clear(block);
    Bytes cipher(block + 16);
    EncryptionKey key(CipherAlgorithm::aes256, 32);
    Digest clearDigest(DigestAlgorithm::sha256);
    double read = 0, digest = 0, encrypt = 0, bodyDigest = 0, blockReader = 0;
    std::uint64_t offset = 0;
    for (;;) {
        auto t = Clock::now();
        const ssize_t got = ::pread(fd, clear.data(), block, static_cast<off_t>(offset));
        read += secondsSince(t);
        if (got <= 0) break;
        offset += static_cast<std::uint64_t>(got);
        const ByteView bytes(clear.data(), static_cast<std::size_t>(got));

        t = Clock::now();
        clearDigest.update(bytes);
        digest += secondsSince(t);

        t = Clock::now();
        StreamCryptor cryptor(StreamCryptor::Operation::encrypt, CipherAlgorithm::aes256, key.key.key.view(),
                              key.key.iv.view());
        std::size_t written = cryptor.update(bytes, cipher.data());
        written += cryptor.final(cipher.data() + written);
        encrypt += secondsSince(t);

        t = Clock::now();
        const Bytes body = sha256(ByteView(cipher.data(), written));
        bodyDigest += secondsSince(t);
    }
    ::close(fd);
    (void)clearDigest.final();
    // The same work as the upload does it: a block's passes side by side.
    {
        Digest running(DigestAlgorithm::sha256);
        std::uint64_t hashed = 0;
        const auto size = static_cast<std::int64_t>(offset);
        std::uint64_t n = 0;
        const auto t = Clock::now();
        while (FileSendBlockReader::read(path, size, static_cast<std::int32_t>(block), n, key, running, hashed)) ++n;
        blockReader = secondsSince(t);
    }
    std::printf("bytes %llu\nread %.3f\ndigest %.3f\nencrypt %.3f\nbody-digest %.3f\nblock-reader %.3f\n",
                static_cast<unsigned long long>(offset), read, digest, encrypt, bodyDigest, blockReader);
    return 0;
}

void usage() {
    std::fprintf(stderr,
                 "usage: bench_transfer_client --user NAME:PASSWORD upload FILE\n"
                 "       bench_transfer_client --user NAME:PASSWORD download UUID FOLDER\n"
                 "       bench_transfer_client profile FILE\n"
                 "(server and CA from QUORVEL_SERVER_URL and QUORVEL_CA_FILE)\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string user, password;
    if (args.size() >= 2 && args[0] == "--user") {
        const auto colon = args[1].find(':');
        if (colon == std::string::npos || colon == 0) {
            usage();
            return 2;
        }
        user = args[1].substr(0, colon);
        password = args[1].substr(colon + 1);
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.size() == 2 && args[0] == "profile") return profile(args[1]);
    const bool isUpload = args.size() == 2 && args[0] == "upload";
    const bool isDownload = args.size() == 3 && args[0] == "download";
    if (user.empty() || (!isUpload && !isDownload)) {
        usage();
        return 2;
    }

    auto engine = std::make_shared<SrvComm>();
    if (!login(*engine, user, password)) return 1;
    return isUpload ? upload(*engine, args[1]) : download(*engine, args[1], args[2]);
}
