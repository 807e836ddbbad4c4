#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

#include "devserver/DataFolder.h"

namespace devserver {

// A request body taken as it arrives: into a buffer reserved once for the
// announced length (no growing copy by copy), and, for a large body, hashed
// with SHA-256 on a follower thread that works through the part received so
// far, so the digest is ready as soon as the last byte is in.
//
// Given a spool, it also writes the body into it: piece by piece as it
// arrives, or for a body without a follower in one piece at finish(). The
// spool is the caller's, and outlives the intake.
//
// Used by one thread (the one receiving the body); the follower is its own.
// The follower never outlives the intake: destroying it mid-body (the client
// hung up) stops and joins it.
class BodyIntake {
public:
    // Bodies from this size on are hashed while they arrive.
    static constexpr std::size_t kFollowFrom = std::size_t{1} << 20;

    // `announced`: the length the request announces (0 when unknown), already
    // bounded by the largest body the server takes.
    explicit BodyIntake(std::size_t announced, DataFolder::Spool* spool = nullptr);
    ~BodyIntake();
    BodyIntake(const BodyIntake&) = delete;
    BodyIntake& operator=(const BodyIntake&) = delete;

    void append(const char* data, std::size_t length);
    // After the last byte: the body, and into `sha256` its lower-case hex
    // digest when it was hashed while arriving (else left empty). The spool,
    // if any, then holds the body too and is closed.
    std::string finish(std::string& sha256);

private:
    void follow();

    std::string body_;
    DataFolder::Spool* spool_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::thread follower_;
    // The follower's view, under mutex_: the buffer, how much of it is in,
    // how much it has hashed.
    const char* base_ = nullptr;
    std::size_t received_ = 0;
    std::size_t hashed_ = 0;
    std::size_t notified_ = 0;
    bool catchUp_ = false;
    bool complete_ = false;
    bool abandoned_ = false;
    std::string digest_;
};

}  // namespace devserver
