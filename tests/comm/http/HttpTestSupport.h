#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "devserver/DevServer.h"
#include "http/Http.h"
#include "support/SharedDevserver.h"

namespace httptest {

using namespace ostrelcomm;

inline constexpr const char* kSessionId = "http-test-session";
inline constexpr const char* kUser = "alice";
inline constexpr auto kGuard = std::chrono::seconds(30);

inline SecretBytes sessionKey() {
    Bytes key;
    for (int i = 0; i < 32; ++i) key.push_back(static_cast<std::uint8_t>(0xa0 + i));
    return SecretBytes(std::move(key));
}

// The shared stand-in server with this folder's test routes and session:
//   "/test/confirm/" (any method, open): a generic confirmation whose
//       itemUUID echoes "x-sb-item-uuid" (or "I"), with the answer header
//       "x-sb-verified-session" naming the session that signed the request;
//   "/test/signed/" (GET, PUT): the same, but only for signed requests;
//   "/test/block/" (GET, open): the request's "x-sb-item-uuid" as raw bytes
//       ("empty": no bytes).
inline devserver::DevServer& server() {
    static devserver::DevServer& instance = [] () -> devserver::DevServer& {
        auto& s = testsupport::sharedDevserver().server();
        s.sessions().add({kSessionId, sessionKey().copyOut(), kUser, false});
        auto confirm = [](const devserver::ServerRequest& request) {
            nlohmann::json body = {{"parentUUID", "P"},
                                   {"itemUUID", request.protocolHeader("item-uuid").value_or("I")}};
            return devserver::Reply::json(body).with("x-sb-verified-session",
                                                     request.session ? request.session->id : "none");
        };
        for (const char* method : {"GET", "PUT", "POST", "DELETE"})
            s.route(method, "/test/confirm/", {"TEST_CONFIRM", devserver::Access::open, confirm});
        for (const char* method : {"GET", "PUT"})
            s.route(method, "/test/signed/", {"TEST_SIGNED", devserver::Access::session, confirm});
        s.route("GET", "/test/block/",
                {"TEST_BLOCK", devserver::Access::open, [](const devserver::ServerRequest& request) {
                     auto block = request.protocolHeader("item-uuid").value_or("");
                     return devserver::Reply::bytes(block == "empty" ? std::string() : block);
                 }});
        return s;
    }();
    return instance;
}

inline std::shared_ptr<Http> makeHttp() {
    server();
    return std::make_shared<Http>("https", true, UrlSessionConfiguration::ephemeral(), std::nullopt);
}

// What one completion handler received, call by call. Copies share the record.
template <ServerAnswer T>
class Capture {
public:
    struct Call {
        std::optional<T> value;
        HttpHeaders headers;
        std::optional<HTTPError> error;
        std::optional<Bytes> digest;
        std::thread::id thread;
    };

    typename Http::template CompletionHandler<T> handler() const {
        return [state = state_](std::optional<T> value, HttpHeaders headers, std::optional<HTTPError> error) {
            state->record({std::move(value), std::move(headers), std::move(error), std::nullopt,
                           std::this_thread::get_id()});
        };
    }

    typename Http::template PayloadCompletionHandler<T> payloadHandler() const {
        return [state = state_](std::optional<T> value, HttpHeaders headers, std::optional<HTTPError> error,
                                Bytes digest) {
            state->record({std::move(value), std::move(headers), std::move(error), std::move(digest),
                           std::this_thread::get_id()});
        };
    }

    // The first call; fails the test (and returns an empty call) when none
    // came within the hang guard.
    Call first() const {
        std::unique_lock lock(state_->mutex);
        if (!state_->changed.wait_for(lock, kGuard, [&] { return !state_->calls.empty(); })) {
            ADD_FAILURE() << "the completion handler was never called";
            return {};
        }
        return state_->calls.front();
    }

    std::size_t count() const {
        std::lock_guard lock(state_->mutex);
        return state_->calls.size();
    }

private:
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::vector<Call> calls;

        void record(Call call) {
            {
                std::lock_guard lock(mutex);
                calls.push_back(std::move(call));
            }
            changed.notify_all();
        }
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

// Waits until every URL session of the program has ended, so that every
// completion that was ever going to run has run.
inline void waitForAllSessionsToEnd() {
    EXPECT_TRUE(UrlSession::waitForNoLiveWorkers(std::chrono::duration_cast<std::chrono::milliseconds>(kGuard)));
}

}  // namespace httptest
