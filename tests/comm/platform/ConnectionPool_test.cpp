// URL sessions attached to a connection pool, against the in-process stand-in
// server, which numbers the connections it accepts: sessions of one pool
// reuse a connection one after another, two pools never share one, and a
// pooled session still ends, times out and completes on its own.

#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/UrlSession.h"
#include "support/DevserverFixture.h"

namespace {

using namespace ostrelcomm;
using devserver::Endpoint;
using devserver::Fault;
using devserver::Reply;
using devserver::ServerRequest;

constexpr auto kGuard = std::chrono::seconds(60);

struct Outcome {
    std::optional<int> status;
    std::optional<UrlErrorCode> error;
    std::string body;
    std::thread::id thread;
};

// Completions by name, in the order they ran.
class Completions {
public:
    DataTaskCompletion make(std::string name) {
        return [this, name](std::optional<Bytes> data, std::optional<HttpUrlResponse> response,
                            std::optional<UrlError> error) {
            Outcome o;
            if (response) o.status = response->statusCode;
            if (error) o.error = error->code;
            if (data) o.body = toText(*data);
            o.thread = std::this_thread::get_id();
            {
                std::lock_guard lock(mutex_);
                outcomes_[name] = o;
                order_.push_back(name);
            }
            changed_.notify_all();
        };
    }
    bool waitFor(const std::string& name) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return outcomes_.count(name) > 0; });
    }
    bool has(const std::string& name) {
        std::lock_guard lock(mutex_);
        return outcomes_.count(name) > 0;
    }
    Outcome of(const std::string& name) {
        std::lock_guard lock(mutex_);
        return outcomes_.at(name);
    }
    std::vector<std::string> order() {
        std::lock_guard lock(mutex_);
        return order_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Outcome> outcomes_;
    std::vector<std::string> order_;
};

class ConnectionPoolTest : public testsupport::DevserverTest {
protected:
    void SetUp() override {
        for (const char* path : {"/echo/", "/slow/"}) {
            devserver->route("GET", path, Endpoint{"echo", devserver::Access::open, [](const ServerRequest& r) {
                                                       return Reply::json({{"tag", r.header("X-Tag").value_or("")}});
                                                   }});
        }
    }
    void TearDown() override {
        devserver->releaseStalls();
        EXPECT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
    }

    std::shared_ptr<UrlSession> session(const ConnectionPool* pool, double idleSeconds = 60) {
        auto configuration = devserver.sessionConfiguration();
        configuration->timeoutIntervalForRequest = idleSeconds;
        auto s = std::make_shared<UrlSession>(*configuration);
        if (pool != nullptr) {
            EXPECT_TRUE(s->useConnectionPool(*pool));
        }
        return s;
    }

    UrlRequest get(const std::string& path, const std::string& tag) {
        UrlRequest request(devserver.url(path));
        request.allHTTPHeaderFields = {{"X-Tag", tag}};
        return request;
    }

    // One request on a fresh session, to its completion; the session is let go.
    void oneRequest(const ConnectionPool* pool, const std::string& tag) {
        auto s = session(pool);
        s->dataTask(get("/echo/", tag), done.make(tag))->resume();
        ASSERT_TRUE(done.waitFor(tag));
        EXPECT_EQ(done.of(tag).status, 200) << tag;
    }

    // The connection numbers the server saw for each tag.
    std::map<std::string, std::uint64_t> connectionOfTag() {
        std::map<std::string, std::uint64_t> out;
        for (const auto& r : devserver->requests()) {
            const auto tags = r.values("X-Tag");
            if (!tags.empty()) out[tags.front()] = r.connection;
        }
        return out;
    }

    Completions done;
};

TEST_F(ConnectionPoolTest, SessionsOfOnePoolTakeTurnsOnOneConnection) {
    ConnectionPool pool;
    const std::size_t before = devserver->acceptedConnections();
    for (int i = 0; i < 20; ++i) oneRequest(&pool, "pooled-" + std::to_string(i));
    EXPECT_EQ(devserver->acceptedConnections() - before, 1u);

    // Without a pool, each session opens its own.
    const std::size_t middle = devserver->acceptedConnections();
    for (int i = 0; i < 3; ++i) oneRequest(nullptr, "alone-" + std::to_string(i));
    EXPECT_EQ(devserver->acceptedConnections() - middle, 3u);
}

TEST_F(ConnectionPoolTest, TwoPoolsNeverShareAConnection) {
    ConnectionPool first;
    ConnectionPool second;
    for (int i = 0; i < 10; ++i) {
        oneRequest(&first, "first-" + std::to_string(i));
        oneRequest(&second, "second-" + std::to_string(i));
    }
    std::map<std::uint64_t, std::set<std::string>> poolsOfConnection;
    for (const auto& [tag, connection] : connectionOfTag())
        poolsOfConnection[connection].insert(tag.substr(0, tag.find('-')));
    EXPECT_EQ(poolsOfConnection.size(), 2u);
    for (const auto& [connection, pools] : poolsOfConnection)
        EXPECT_EQ(pools.size(), 1u) << "connection " << connection << " served both pools";
}

// Two sessions of one pool in flight at once, both held by the server. The
// session that first handed its transfer to the pool drives both; cancelling
// it ends its own transfer alone, and the other session takes over and
// completes, its own later task after it.
TEST_F(ConnectionPoolTest, ACancelledTransferEndsAloneWhileAnotherOfThePoolGoesOn) {
    ConnectionPool pool;
    devserver->setFault("GET", "/slow/", Fault::stalled());
    auto cancelled = session(&pool);
    auto other = session(&pool);
    auto task = cancelled->dataTask(get("/slow/", "cancelled"), done.make("cancelled"));
    task->resume();
    ASSERT_TRUE(devserver->waitForStalledRequests(1, kGuard));
    other->dataTask(get("/slow/", "held"), done.make("held"))->resume();
    other->dataTask(get("/echo/", "after"), done.make("after"))->resume();
    ASSERT_TRUE(devserver->waitForStalledRequests(2, kGuard));

    task->cancel();
    ASSERT_TRUE(done.waitFor("cancelled"));
    EXPECT_EQ(done.of("cancelled").error, UrlErrorCode::cancelled);
    EXPECT_FALSE(done.has("held"));
    EXPECT_FALSE(done.has("after"));

    devserver->releaseStalls();
    ASSERT_TRUE(done.waitFor("after"));
    EXPECT_EQ(done.of("held").status, 200);
    EXPECT_EQ(done.of("held").body, R"({"tag":"held"})");
    EXPECT_EQ(done.of("after").status, 200);
    EXPECT_EQ(done.order(), (std::vector<std::string>{"cancelled", "held", "after"}));
    EXPECT_EQ(done.of("held").thread, done.of("after").thread);
    EXPECT_NE(done.of("held").thread, done.of("cancelled").thread);
}

// The same, with a session whose own limit for data is short: it times out
// while the session driving the pool, with the long limit, waits on.
TEST_F(ConnectionPoolTest, EachSessionKeepsItsOwnTimeLimit) {
    ConnectionPool pool;
    devserver->setFault("GET", "/slow/", Fault::stalled());
    auto patient = session(&pool, 60);
    auto hasty = session(&pool, 0.3);
    patient->dataTask(get("/slow/", "patient"), done.make("patient"))->resume();
    ASSERT_TRUE(devserver->waitForStalledRequests(1, kGuard));
    hasty->dataTask(get("/slow/", "hasty"), done.make("hasty"))->resume();

    ASSERT_TRUE(done.waitFor("hasty"));
    EXPECT_EQ(done.of("hasty").error, UrlErrorCode::timedOut);
    EXPECT_FALSE(done.has("patient"));
    devserver->releaseStalls();
    ASSERT_TRUE(done.waitFor("patient"));
    EXPECT_EQ(done.of("patient").status, 200);
}

// A connection verified under one set of certificate authorities (or a TLS
// session resumed without a new check) must never serve a session that
// trusts another set.
TEST_F(ConnectionPoolTest, APoolServesOnlySessionsThatTrustTheSameAuthorities) {
    ConnectionPool pool;
    oneRequest(&pool, "trusting");

    struct Case {
        const char* name;
        std::optional<std::string> caFile;
    };
    const Case cases[] = {
        {"the system's authorities only", std::nullopt},
        {"an unreadable CA file", "/nonexistent/ca.pem"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UrlSessionConfiguration configuration;
        configuration.additionalCaFile = c.caFile;
        auto stranger = std::make_shared<UrlSession>(configuration);
        EXPECT_FALSE(stranger->useConnectionPool(pool));
        stranger->dataTask(get("/echo/", c.name), done.make(c.name))->resume();
        ASSERT_TRUE(done.waitFor(c.name));
        EXPECT_FALSE(done.of(c.name).status);
        EXPECT_TRUE(done.of(c.name).error == UrlErrorCode::serverCertificateUntrusted ||
                    done.of(c.name).error == UrlErrorCode::secureConnectionFailed);
    }
    oneRequest(&pool, "trusting again");
    EXPECT_EQ(connectionOfTag().at("trusting"), connectionOfTag().at("trusting again"));
}

}  // namespace
