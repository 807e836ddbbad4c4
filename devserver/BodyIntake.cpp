#include "devserver/BodyIntake.h"

#include <openssl/evp.h>

#include <cstdint>
#include <memory>
#include <span>

#include "devserver/Signing.h"

namespace devserver {

namespace {

// The follower wakes once per this many new bytes: often enough to keep up,
// seldom enough that waking costs nothing beside hashing.
constexpr std::size_t kStep = std::size_t{256} << 10;

struct DigestDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

BodyIntake::BodyIntake(std::size_t announced, DataFolder::Spool* spool) : spool_(spool) {
    body_.reserve(announced);
    base_ = body_.data();
    if (announced >= kFollowFrom) follower_ = std::thread([this] { follow(); });
}

BodyIntake::~BodyIntake() {
    if (!follower_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        abandoned_ = true;
    }
    changed_.notify_all();
    follower_.join();
}

void BodyIntake::append(const char* data, std::size_t length) {
    if (!follower_.joinable()) {
        body_.append(data, length);
        return;
    }
    // Written here rather than by the follower: a piece into the page cache
    // costs less than taking it off the connection, and the follower stays
    // free for the digest, which the last byte waits for (measured both ways).
    if (spool_) spool_->write(data, length);
    if (body_.size() + length > body_.capacity()) {
        // More than announced: the buffer moves, so the follower must be done
        // with what it holds first.
        std::unique_lock lock(mutex_);
        catchUp_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return hashed_ == received_; });
        catchUp_ = false;
        body_.append(data, length);
        base_ = body_.data();
        received_ = body_.size();
        return;
    }
    // Within the reserve: the bytes the follower reads lie below received_,
    // and the append writes only above it.
    body_.append(data, length);
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        received_ = body_.size();
        if (received_ - notified_ >= kStep) {
            notified_ = received_;
            wake = true;
        }
    }
    if (wake) changed_.notify_all();
}

std::string BodyIntake::finish(std::string& sha256) {
    sha256.clear();
    if (follower_.joinable()) {
        {
            std::lock_guard lock(mutex_);
            complete_ = true;
        }
        changed_.notify_all();
        follower_.join();
        std::lock_guard lock(mutex_);
        sha256 = std::move(digest_);
    } else if (spool_) {
        spool_->write(body_.data(), body_.size());
    }
    if (spool_) spool_->close();
    return std::move(body_);
}

void BodyIntake::follow() {
    std::unique_ptr<EVP_MD_CTX, DigestDeleter> context(EVP_MD_CTX_new());
    bool working = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    std::size_t done = 0;
    for (;;) {
        const char* base = nullptr;
        std::size_t upTo = 0;
        bool last = false;
        {
            std::unique_lock lock(mutex_);
            hashed_ = done;
            changed_.notify_all();
            changed_.wait(lock, [&] {
                return abandoned_ || complete_ || (catchUp_ && received_ > done) || received_ - done >= kStep;
            });
            if (abandoned_) return;
            base = base_;
            upTo = received_;
            last = complete_;
        }
        if (working && upTo > done) working = EVP_DigestUpdate(context.get(), base + done, upTo - done) == 1;
        done = upTo;
        if (last) break;
    }
    std::uint8_t digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    working = working && EVP_DigestFinal_ex(context.get(), digest, &length) == 1;
    std::lock_guard lock(mutex_);
    hashed_ = done;
    // Left empty when hashing failed: the body is then hashed the usual way.
    if (working) digest_ = hexLower(std::span<const std::uint8_t>(digest, length));
}

}  // namespace devserver
