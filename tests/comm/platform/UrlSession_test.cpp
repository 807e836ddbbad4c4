#include "platform/UrlSession.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/ssl.h>

#include <algorithm>
#include <fstream>
#include <future>
#include <condition_variable>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

#include "devserver/TlsIdentity.h"
#include "support/DevserverFixture.h"

namespace {

using namespace ostrelcomm;
using devserver::Endpoint;
using devserver::Fault;
using devserver::Reply;
using devserver::ServerRequest;
using std::chrono::seconds;

constexpr auto kGuard = std::chrono::seconds(60);

struct Result {
    std::optional<Bytes> data;
    std::optional<HttpUrlResponse> response;
    std::optional<UrlError> error;
    std::thread::id thread;
};

// Collects completions, each tagged with its slot, so a test can see how
// often each one ran and on which thread.
class Collector : public std::enable_shared_from_this<Collector> {
public:
    DataTaskCompletion completion(std::size_t slot, std::function<void()> then = {}) {
        return [self = shared_from_this(), slot, then = std::move(then)](
                   std::optional<Bytes> data, std::optional<HttpUrlResponse> response, std::optional<UrlError> error) {
            {
                std::lock_guard lock(self->mutex_);
                self->calls_[slot].push_back(
                    Result{std::move(data), std::move(response), std::move(error), std::this_thread::get_id()});
                self->order_.push_back(slot);
            }
            if (then) then();
            self->changed_.notify_all();
        };
    }
    bool waitForCalls(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGuard, [&] { return order_.size() >= count; });
    }
    std::size_t callsOf(std::size_t slot) {
        std::lock_guard lock(mutex_);
        return calls_[slot].size();
    }
    Result resultOf(std::size_t slot) {
        std::lock_guard lock(mutex_);
        return calls_.at(slot).at(0);
    }
    std::vector<std::size_t> order() {
        std::lock_guard lock(mutex_);
        return order_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::size_t, std::vector<Result>> calls_;
    std::vector<std::size_t> order_;
};

std::string text(const std::optional<Bytes>& data) { return data ? toText(*data) : std::string("<none>"); }

UrlRequest makeRequest(std::string url, std::string method, std::map<std::string, std::string> headers = {}) {
    UrlRequest request(std::move(url));
    request.httpMethod = std::move(method);
    request.allHTTPHeaderFields = std::move(headers);
    return request;
}

UrlRequest makeRequest(std::string url, std::string method, std::map<std::string, std::string> headers,
                       const std::string& body) {
    UrlRequest request = makeRequest(std::move(url), std::move(method), std::move(headers));
    request.httpBody = toBytes(body);
    return request;
}

class UrlSessionTest : public testsupport::DevserverTest {
protected:
    void SetUp() override {
        for (const char* method : {"GET", "PUT", "POST", "DELETE"}) {
            devserver->route(method, "/echo/", Endpoint{"echo", devserver::Access::open, [](const ServerRequest& r) {
                                                            return Reply::json({{"method", r.method}, {"body", r.body}})
                                                                .with("X-Mixed-Case-Header", "Value")
                                                                .with("x-sb-lower", "v");
                                                        }});
        }
        devserver->route("GET", "/slow/", Endpoint{"slow", devserver::Access::open, [](const ServerRequest&) {
                                                       return Reply::json({{"slow", true}});
                                                   }});
        devserver->route("GET", "/long/", Endpoint{"long", devserver::Access::open, [](const ServerRequest&) {
                                                       return Reply::bytes(std::string(4000, 'x'));
                                                   }});
    }

    void TearDown() override {
        devserver->releaseStalls();
        // Every session of the test is gone by now; once their workers have
        // ended, no completion can run any more, so the counts below are final.
        EXPECT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
    }

    std::shared_ptr<UrlSession> newSession(std::function<void(UrlSessionConfiguration&)> adjust = {}) {
        auto configuration = devserver.sessionConfiguration();
        if (adjust) adjust(*configuration);
        return std::make_shared<UrlSession>(*configuration);
    }

    std::shared_ptr<Collector> collector = std::make_shared<Collector>();
};

struct MethodCase {
    std::string method;
    std::optional<std::string> body;
    bool withContentType;
};

TEST_F(UrlSessionTest, EachMethodReachesTheServerWithExactlyTheGivenHeaders) {
    const std::vector<MethodCase> cases = {
        {"GET", std::nullopt, false},  {"GET", "query body", false},
        {"PUT", std::nullopt, false},  {"PUT", "", false},
        {"PUT", "put body", true},     {"POST", std::nullopt, false},
        {"POST", "{\"a\":1}", true},   {"DELETE", std::nullopt, false},
        {"DELETE", "gone", false},
    };
    auto session = newSession();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.method + " body=" + c.body.value_or("<none>"));
        std::map<std::string, std::string> given = {
            {"Accept", "application/json"}, {"User-Agent", "App macOS 1.2 (34)"},
            {"x-sb-username", "Alice"},     {"X-Custom-Case", "Value With Spaces"},
        };
        if (c.withContentType) given["Content-Type"] = "application/octet-stream";
        devserver->clearRequests();
        UrlRequest sent = c.body ? makeRequest(devserver.url("/echo/"), c.method, given, *c.body)
                                 : makeRequest(devserver.url("/echo/"), c.method, given);
        session->dataTask(sent, collector->completion(i))->resume();
        ASSERT_TRUE(collector->waitForCalls(i + 1));
        const Result result = collector->resultOf(i);
        ASSERT_FALSE(result.error) << result.error->localizedDescription;
        EXPECT_NE(result.thread, std::this_thread::get_id());

        const auto recorded = devserver->requests();
        ASSERT_EQ(recorded.size(), 1u);
        const auto& request = recorded[0];
        EXPECT_EQ(request.method, c.method);
        std::set<std::pair<std::string, std::string>> seen;
        for (const auto& [name, value] : request.headers) {
            if (name != "Host" && name != "Content-Length") seen.emplace(name, value);
        }
        EXPECT_EQ(seen, (std::set<std::pair<std::string, std::string>>(given.begin(), given.end())));
        EXPECT_FALSE(request.has("Expect"));
        EXPECT_FALSE(request.has("Accept-Encoding"));
        EXPECT_EQ(request.has("Content-Type"), c.withContentType);

        const bool sendsBody = c.body || c.method == "PUT" || c.method == "POST";
        if (sendsBody) {
            EXPECT_EQ(request.values("Content-Length"),
                      std::vector<std::string>{std::to_string(c.body.value_or("").size())});
        } else {
            EXPECT_FALSE(request.has("Content-Length"));
        }
        if (c.method == "GET" && c.body) {
            // The server refuses a GET body (and closes that connection).
            EXPECT_EQ(result.response->statusCode, 400);
        } else {
            EXPECT_EQ(result.response->statusCode, 200);
            EXPECT_EQ(request.body, c.body.value_or(""));
        }
    }
    for (std::size_t i = 0; i < cases.size(); ++i) EXPECT_EQ(collector->callsOf(i), 1u);
}

TEST_F(UrlSessionTest, TasksRunInOrderOverOneConnectionOnTheSessionsOwnThread) {
    auto session = newSession();
    constexpr std::size_t kTasks = 6;
    std::vector<std::shared_ptr<UrlSessionDataTask>> tasks;
    for (std::size_t i = 0; i < kTasks; ++i) {
        tasks.push_back(session->dataTask(
            makeRequest(devserver.url("/echo/"), "PUT", {{"X-Index", std::to_string(i)}}, std::to_string(i)),
            collector->completion(i)));
    }
    tasks[3]->cancel();  // still queued: fails in its turn, sends nothing
    for (auto& task : tasks) task->resume();
    tasks[0]->resume();  // a second resume changes nothing
    ASSERT_TRUE(collector->waitForCalls(kTasks));

    EXPECT_EQ(collector->order(), (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
    std::set<std::thread::id> threads;
    for (std::size_t i = 0; i < kTasks; ++i) {
        const Result r = collector->resultOf(i);
        threads.insert(r.thread);
        if (i == 3) {
            ASSERT_TRUE(r.error);
            EXPECT_EQ(r.error->code, UrlErrorCode::cancelled);
        } else {
            ASSERT_FALSE(r.error) << r.error->localizedDescription;
            EXPECT_EQ(r.response->statusCode, 200);
        }
    }
    EXPECT_EQ(threads.size(), 1u);
    EXPECT_EQ(threads.count(std::this_thread::get_id()), 0u);

    const auto recorded = devserver->requests();
    ASSERT_EQ(recorded.size(), kTasks - 1);
    std::set<int> ports;
    for (std::size_t i = 0; i < recorded.size(); ++i) {
        EXPECT_EQ(recorded[i].values("X-Index"), std::vector<std::string>{std::to_string(i < 3 ? i : i + 1)});
        ports.insert(recorded[i].remotePort);
    }
    EXPECT_EQ(ports.size(), 1u) << "the connection is kept alive and reused";
    session.reset();
    ASSERT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
    for (std::size_t i = 0; i < kTasks; ++i) EXPECT_EQ(collector->callsOf(i), 1u);
}

// A job starts the next one from its last answer: the new session's task is
// resumed inside the completion of a session that has just ended. It may run
// on that completion's thread once the completion returns; but a session that
// has not ended (here one with a stalled task still queued) must not hold the
// new session's task back.
TEST_F(UrlSessionTest, ATaskResumedFromAnotherSessionsCompletionIsNotHeldBackByThatSession) {
    devserver->setFault("GET", "/slow/", Fault::stalled());
    struct Case {
        const char* name;
        bool endsFirst;  // the first session is invalidated inside its completion
    };
    const Case cases[] = {{"ended", true}, {"still busy", false}};
    std::size_t slot = 0;
    std::size_t answered = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto first = newSession();
        auto next = newSession();
        const std::size_t firstSlot = slot++;
        const std::size_t nextSlot = slot++;
        const std::size_t stalledSlot = slot++;
        first->dataTask(makeRequest(devserver.url("/echo/"), "GET"), collector->completion(firstSlot, [&] {
                 if (c.endsFirst) first->invalidateAndCancel();
                 next->dataTask(makeRequest(devserver.url("/echo/"), "GET"), collector->completion(nextSlot))->resume();
             }))->resume();
        if (!c.endsFirst)
            first->dataTask(makeRequest(devserver.url("/slow/"), "GET"), collector->completion(stalledSlot))->resume();

        // The first session's completion and the next session's, in that
        // order; the stalled task has not answered.
        answered += 2;
        ASSERT_TRUE(collector->waitForCalls(answered));
        const auto order = collector->order();
        EXPECT_EQ(std::vector<std::size_t>(order.end() - 2, order.end()),
                  (std::vector<std::size_t>{firstSlot, nextSlot}));
        const Result answered = collector->resultOf(nextSlot);
        ASSERT_FALSE(answered.error) << answered.error->localizedDescription;
        EXPECT_EQ(answered.response->statusCode, 200);
        EXPECT_EQ(collector->callsOf(stalledSlot), 0u);
        devserver->releaseStalls();
        first->invalidateAndCancel();
        first.reset();
        next.reset();
        ASSERT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
    }
}

// The body is handed back once the transfer is over, so that its storage can
// serve again: not while the task waits to run, already in its completion,
// and once only.
TEST_F(UrlSessionTest, TheBodyIsHandedBackOnceTheTransferIsOver) {
    auto session = newSession();
    std::shared_ptr<UrlSessionDataTask> task;
    std::optional<Bytes> inCompletion;
    std::optional<Bytes> afterwards = toBytes("<not asked>");
    std::promise<void> taken;
    task = session->dataTask(makeRequest(devserver.url("/echo/"), "PUT", {}, "block bytes"),
                             collector->completion(0, [&] {
                                 inCompletion = task->takeBody();
                                 afterwards = task->takeBody();
                                 taken.set_value();
                             }));
    EXPECT_FALSE(task->takeBody());
    task->resume();
    auto done = taken.get_future();
    ASSERT_EQ(done.wait_for(kGuard), std::future_status::ready);
    ASSERT_FALSE(collector->resultOf(0).error);
    EXPECT_EQ(text(inCompletion), "block bytes");
    EXPECT_FALSE(afterwards);
    EXPECT_EQ(devserver->requests().at(0).body, "block bytes");
}

TEST_F(UrlSessionTest, AConnectionTheServerClosesIsReplacedForTheNextRequest) {
    devserver->route("GET", "/last/", Endpoint{"last", devserver::Access::open, [](const ServerRequest&) {
                                                   return Reply::json({}).with("Connection", "close");
                                               }});
    auto session = newSession();
    session->dataTask(makeRequest(devserver.url("/last/"), "GET"), collector->completion(0))->resume();
    session->dataTask(makeRequest(devserver.url("/echo/"), "PUT", {}, "after"), collector->completion(1))->resume();
    ASSERT_TRUE(collector->waitForCalls(2));
    EXPECT_FALSE(collector->resultOf(0).error);
    ASSERT_FALSE(collector->resultOf(1).error) << collector->resultOf(1).error->localizedDescription;
    EXPECT_EQ(collector->resultOf(1).response->statusCode, 200);
    const auto recorded = devserver->requests();
    ASSERT_EQ(recorded.size(), 2u);
    EXPECT_NE(recorded[0].remotePort, recorded[1].remotePort);
}

TEST_F(UrlSessionTest, AnswerHeadersKeepTheirCaseAndTheMimeTypeLosesItsParameters) {
    devserver->route("GET", "/typed/", Endpoint{"typed", devserver::Access::open, [](const ServerRequest&) {
                                                    Reply reply = Reply::json({{"ok", true}});
                                                    reply.contentType = "Application/JSON; charset=utf-8";
                                                    return reply.with("X-Mixed-Case-Header", "One")
                                                        .with("X-Twice", "a")
                                                        .with("X-Twice", "b");
                                                }});
    devserver->route("GET", "/untyped/", Endpoint{"untyped", devserver::Access::open, [](const ServerRequest&) {
                                                      Reply reply;
                                                      reply.contentType.reset();
                                                      return reply;
                                                  }});
    auto session = newSession();
    session->dataTask(makeRequest(devserver.url("/typed/"), "GET"), collector->completion(0))->resume();
    session->dataTask(makeRequest(devserver.url("/untyped/"), "GET"), collector->completion(1))->resume();
    ASSERT_TRUE(collector->waitForCalls(2));

    const Result typed = collector->resultOf(0);
    ASSERT_TRUE(typed.response);
    EXPECT_EQ(typed.response->mimeType, "application/json");
    EXPECT_EQ(typed.response->value("X-Mixed-Case-Header"), "One");
    EXPECT_EQ(typed.response->value("x-mixed-case-header"), std::nullopt);
    EXPECT_EQ(typed.response->value("x-sb-action"), "typed");
    EXPECT_EQ(typed.response->value("X-SB-ACTION"), std::nullopt);
    EXPECT_EQ(typed.response->value("X-Twice"), "a, b");
    EXPECT_EQ(typed.response->allHeaderFields().count("Content-Type"), 1u);
    EXPECT_EQ(text(typed.data), "{\"ok\":true}");

    const Result untyped = collector->resultOf(1);
    ASSERT_TRUE(untyped.response);
    EXPECT_EQ(untyped.response->mimeType, std::nullopt);
    ASSERT_TRUE(untyped.data);
    EXPECT_TRUE(untyped.data->empty()) << "an empty body is present, not absent";
}

TEST_F(UrlSessionTest, TheBodyObserverSeesTheWholeBodyInOrderAndItsFailureFailsTheTask) {
    // A long body is observed on a thread beside the transfer, a short one in
    // line: both must see exactly the body, and a refusal fail the task.
    for (const std::size_t size : {std::size_t{3'000'000}, std::size_t{1000}}) {
        SCOPED_TRACE(size);
        const std::string body = [size] {
            std::string bytes(size, '\0');
            for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 131) >> 7);
            return bytes;
        }();
        const std::string path = "/body-" + std::to_string(size) + "/";
        devserver->route("GET", path, Endpoint{"body", devserver::Access::open, [body](const ServerRequest&) {
                                                   return Reply::bytes(body);
                                               }});
        auto session = newSession();
        auto results = std::make_shared<Collector>();
        // Touched by the observer only until the completion runs; read after it.
        auto seen = std::make_shared<std::string>();
        auto pieces = std::make_shared<std::size_t>(0);
        UrlRequest watched = makeRequest(devserver.url(path), "GET");
        watched.bodyObserver = [seen, pieces](ByteView piece) {
            seen->append(toText(piece));
            ++*pieces;
        };
        UrlRequest refusing = makeRequest(devserver.url(path), "GET");
        refusing.bodyObserver = [](ByteView) { throw std::runtime_error("refused"); };
        session->dataTask(std::move(watched), results->completion(0))->resume();
        session->dataTask(std::move(refusing), results->completion(1))->resume();
        session->dataTask(makeRequest(devserver.url("/echo/"), "GET"), results->completion(2))->resume();
        ASSERT_TRUE(results->waitForCalls(3));

        const Result whole = results->resultOf(0);
        ASSERT_TRUE(whole.data);
        EXPECT_TRUE(text(whole.data) == body);
        EXPECT_TRUE(*seen == body);
        EXPECT_GE(*pieces, 1u);
        const Result refused = results->resultOf(1);
        EXPECT_FALSE(refused.data);
        ASSERT_TRUE(refused.error);
        EXPECT_EQ(refused.error->code, UrlErrorCode::unknown);
        EXPECT_TRUE(results->resultOf(2).response) << "the session goes on after a refused answer";
    }
}

TEST_F(UrlSessionTest, InvalidateDuringAStalledAnswerCancelsEachTaskOnceAndSendsNothingMore) {
    devserver->setFault("GET", "/slow/", Fault::stalled());
    auto session = newSession();
    session->dataTask(makeRequest(devserver.url("/slow/"), "GET"), collector->completion(0))->resume();
    session->dataTask(makeRequest(devserver.url("/echo/"), "GET"), collector->completion(1))->resume();
    session->dataTask(makeRequest(devserver.url("/echo/"), "POST", {}, "x"), collector->completion(2))->resume();
    ASSERT_TRUE(devserver->waitForStalledRequests(1, kGuard));

    session->invalidateAndCancel();
    ASSERT_TRUE(collector->waitForCalls(3));
    for (std::size_t slot : {0, 1, 2}) {
        const Result r = collector->resultOf(slot);
        ASSERT_TRUE(r.error) << slot;
        EXPECT_EQ(r.error->code, UrlErrorCode::cancelled) << slot;
        EXPECT_FALSE(r.response);
        EXPECT_FALSE(r.data);
        EXPECT_NE(r.thread, std::this_thread::get_id());
    }

    session->dataTask(makeRequest(devserver.url("/echo/"), "GET"), collector->completion(3))->resume();
    ASSERT_TRUE(collector->waitForCalls(4));
    EXPECT_EQ(collector->resultOf(3).error->code, UrlErrorCode::cancelled);
    EXPECT_NE(collector->resultOf(3).thread, std::this_thread::get_id());

    session.reset();
    ASSERT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
    EXPECT_EQ(devserver->requestCount(), 1u) << "only the stalled request reached the server";
    for (std::size_t slot : {0, 1, 2, 3}) EXPECT_EQ(collector->callsOf(slot), 1u);
}

TEST_F(UrlSessionTest, ACompletionMayInvalidateAndReleaseItsOwnSession) {
    auto session = newSession();
    auto holder = std::make_shared<std::shared_ptr<UrlSession>>(session);
    session->dataTask(makeRequest(devserver.url("/echo/"), "GET"), collector->completion(0, [holder] {
                          (*holder)->invalidateAndCancel();
                          holder->reset();  // the last owner goes, on the session's own thread
                      }))
        ->resume();
    session->dataTask(makeRequest(devserver.url("/echo/"), "GET"), collector->completion(1))->resume();
    session = nullptr;  // only the completion's holder keeps it now
    ASSERT_TRUE(collector->waitForCalls(2));
    ASSERT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
    EXPECT_FALSE(collector->resultOf(0).error);
    ASSERT_TRUE(collector->resultOf(1).error);
    EXPECT_EQ(collector->resultOf(1).error->code, UrlErrorCode::cancelled);
    EXPECT_EQ(collector->callsOf(0), 1u);
    EXPECT_EQ(collector->callsOf(1), 1u);
    EXPECT_EQ(devserver->requestCount(), 1u);
}

TEST_F(UrlSessionTest, IdleAndTotalTimeLimitsEndTheTransfer) {
    struct Case {
        const char* name;
        double requestLimit;
        double resourceLimit;
        std::optional<double> ownLimit;
        const char* path;
        Fault fault;
        const char* wording;
    };
    Fault trickle;
    trickle.trickle = true;
    const std::vector<Case> cases = {
        {"no data for a while", 0.2, 60, std::nullopt, "/slow/", Fault::stalled(), "no data"},
        {"the request's own shorter limit", 60, 60, 0.2, "/slow/", Fault::stalled(), "no data"},
        {"data keeps coming but too slowly", 30, 0.4, std::nullopt, "/long/", trickle, "took longer"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        devserver->setFault("GET", c.path, c.fault);
        auto session = newSession([&](UrlSessionConfiguration& configuration) {
            configuration.timeoutIntervalForRequest = c.requestLimit;
            configuration.timeoutIntervalForResource = c.resourceLimit;
        });
        UrlRequest request = makeRequest(devserver.url(c.path), "GET");
        request.timeoutInterval = c.ownLimit;
        session->dataTask(request, collector->completion(i))->resume();
        ASSERT_TRUE(collector->waitForCalls(i + 1));
        const Result r = collector->resultOf(i);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->code, UrlErrorCode::timedOut);
        EXPECT_NE(r.error->localizedDescription.find(c.wording), std::string::npos) << r.error->localizedDescription;
        devserver->releaseStalls();
        devserver->clearFaults();
    }
}

TEST_F(UrlSessionTest, AProgressLimitTakesThePlaceOfEveryOtherLimit) {
    Fault trickle;
    trickle.trickle = true;
    // Longer in all than both session limits, with gaps shorter than none.
    devserver->setFault("GET", "/slow/", trickle);
    auto session = newSession([](UrlSessionConfiguration& configuration) {
        configuration.timeoutIntervalForRequest = 0.1;
        configuration.timeoutIntervalForResource = 0.1;
    });
    UrlRequest moving = makeRequest(devserver.url("/slow/"), "GET");
    moving.timeoutInterval = 0.1;
    moving.progressTimeoutInterval = 5;
    session->dataTask(moving, collector->completion(0))->resume();
    ASSERT_TRUE(collector->waitForCalls(1));
    const Result completed = collector->resultOf(0);
    ASSERT_FALSE(completed.error) << completed.error->localizedDescription;
    EXPECT_EQ(text(completed.data), R"({"slow":true})");

    devserver->setFault("GET", "/slow/", Fault::stalled());
    auto patient = newSession();
    UrlRequest stalled = makeRequest(devserver.url("/slow/"), "GET");
    stalled.progressTimeoutInterval = 0.2;
    patient->dataTask(stalled, collector->completion(1))->resume();
    ASSERT_TRUE(collector->waitForCalls(2));
    const Result ended = collector->resultOf(1);
    ASSERT_TRUE(ended.error);
    EXPECT_EQ(ended.error->code, UrlErrorCode::timedOut);
    EXPECT_NE(ended.error->localizedDescription.find("no data"), std::string::npos);
    devserver->releaseStalls();
    devserver->clearFaults();
}

TEST_F(UrlSessionTest, AServerWhoseCertificateIsNotTrustedFailsVerification) {
    testsupport::RunningDevserver other;
    struct Case {
        const char* name;
        std::optional<std::string> caFile;
        UrlErrorCode expected;
    };
    const std::vector<Case> cases = {
        {"no extra CA", std::nullopt, UrlErrorCode::serverCertificateUntrusted},
        {"another server's CA", other.caFile(), UrlErrorCode::serverCertificateUntrusted},
        {"a CA file that does not exist", "/nonexistent/ca.pem", UrlErrorCode::secureConnectionFailed},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        UrlSessionConfiguration configuration;
        configuration.additionalCaFile = cases[i].caFile;
        auto session = std::make_shared<UrlSession>(configuration);
        session->dataTask(makeRequest(devserver.url("/echo/"), "GET"), collector->completion(i))->resume();
        ASSERT_TRUE(collector->waitForCalls(i + 1));
        const Result r = collector->resultOf(i);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->code, cases[i].expected) << r.error->localizedDescription;
        EXPECT_FALSE(r.response);
    }
    EXPECT_EQ(devserver->requestCount(), 0u);
    // The system's own CAs stay trusted beside any extra one; the devserver's
    // CA is just not among them.
    EXPECT_GT(UrlSession::systemTrustAnchorCount(), 10u);
}

TEST_F(UrlSessionTest, TheCaFileComesFromTheEnvironmentForEphemeralConfigurations) {
    ::setenv("QUORVEL_CA_FILE", devserver.caFile().c_str(), 1);
    auto configuration = UrlSessionConfiguration::ephemeral();
    ::unsetenv("QUORVEL_CA_FILE");
    EXPECT_EQ(configuration->additionalCaFile, devserver.caFile());
    EXPECT_EQ(UrlSessionConfiguration::ephemeral()->additionalCaFile, std::nullopt);

    auto session = std::make_shared<UrlSession>(*configuration);
    session->dataTask(makeRequest(devserver.url("/echo/"), "GET"), collector->completion(0))->resume();
    ASSERT_TRUE(collector->waitForCalls(1));
    EXPECT_FALSE(collector->resultOf(0).error);
}

TEST_F(UrlSessionTest, AHeaderThatCannotGoOnTheWireFailsTheTaskAndSendsNothing) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> requestHeaders;
        std::map<std::string, std::string> sessionHeaders;
    };
    const std::vector<Case> cases = {
        {"CR in a value", {{"x-sb-username", "alice\rInjected: yes"}}, {}},
        {"LF in a value", {{"x-sb-username", "alice\nInjected: yes"}}, {}},
        {"CR LF in a value", {{"User-Agent", "App\r\n\r\nGET / HTTP/1.1"}}, {}},
        {"NUL in a value", {{"x-sb-username", std::string("ali\0ce", 6)}}, {}},
        {"colon in a name", {{"Bad:Name", "v"}}, {}},
        {"blank in a name", {{"Bad Name", "v"}}, {}},
        {"empty name", {{"", "v"}}, {}},
        {"LF in a session header", {}, {{"X-Extra", "a\nb"}}},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        auto session = newSession([&](UrlSessionConfiguration& c) { c.httpAdditionalHeaders = cases[i].sessionHeaders; });
        session->dataTask(makeRequest(devserver.url("/echo/"), "PUT", cases[i].requestHeaders, "body"),
                          collector->completion(i))
            ->resume();
        ASSERT_TRUE(collector->waitForCalls(i + 1));
        const Result r = collector->resultOf(i);
        ASSERT_TRUE(r.error);
        EXPECT_EQ(r.error->code, UrlErrorCode::invalidRequest);
        EXPECT_NE(r.thread, std::this_thread::get_id());
    }
    EXPECT_EQ(devserver->requestCount(), 0u);
}

TEST_F(UrlSessionTest, SessionHeadersGiveWayToTheRequestsOwn) {
    auto session = newSession([](UrlSessionConfiguration& c) {
        c.httpAdditionalHeaders = {{"X-Extra", "from session"}, {"Accept", "text/plain"}};
    });
    session->dataTask(makeRequest(devserver.url("/echo/"), "GET", {{"accept", "application/json"}}),
                      collector->completion(0))
        ->resume();
    ASSERT_TRUE(collector->waitForCalls(1));
    const auto request = devserver->requests().at(0);
    EXPECT_EQ(request.values("X-Extra"), std::vector<std::string>{"from session"});
    EXPECT_EQ(request.values("Accept"), std::vector<std::string>{"application/json"});
}

TEST_F(UrlSessionTest, BrokenAnswersEndInTransportErrors) {
    devserver->route("GET", "/moved/", Endpoint{"moved", devserver::Access::open, [](const ServerRequest&) {
                                                    Reply reply = Reply::json({});
                                                    reply.status = 302;
                                                    return reply.with("Location", "/v1/echo/");
                                                }});
    devserver->setFault("GET", "/slow/", Fault::droppedConnection());
    auto session = newSession([](UrlSessionConfiguration& c) { c.maximumBodySize = 1000; });
    session->dataTask(makeRequest(devserver.url("/slow/"), "GET"), collector->completion(0))->resume();
    session->dataTask(makeRequest(devserver.url("/long/"), "GET"), collector->completion(1))->resume();
    session->dataTask(makeRequest(devserver.url("/moved/"), "GET"), collector->completion(2))->resume();
    session->dataTask(makeRequest("ftp://127.0.0.1/file", "GET"), collector->completion(3))->resume();
    ASSERT_TRUE(collector->waitForCalls(4));

    ASSERT_TRUE(collector->resultOf(0).error);
    EXPECT_EQ(collector->resultOf(0).error->code, UrlErrorCode::networkConnectionLost)
        << collector->resultOf(0).error->localizedDescription;
    ASSERT_TRUE(collector->resultOf(1).error);
    EXPECT_EQ(collector->resultOf(1).error->code, UrlErrorCode::dataLengthExceedsMaximum);
    // A redirect is an answer like any other: it is not followed.
    ASSERT_TRUE(collector->resultOf(2).response);
    EXPECT_EQ(collector->resultOf(2).response->statusCode, 302);
    ASSERT_TRUE(collector->resultOf(3).error);
    EXPECT_EQ(collector->resultOf(3).error->code, UrlErrorCode::badURL);
    EXPECT_EQ(devserver->requestCount(), 3u);
}

// A TLS server that answers every request with the same canned bytes and then
// closes the connection: answers no well-behaved HTTP server would give.
class CannedTlsServer {
public:
    explicit CannedTlsServer(std::string answer) : answer_(std::move(answer)) {
        const auto identity = devserver::TlsIdentity::generate();
        char pattern[] = "/tmp/quorvel-canned-XXXXXX";
        directory_ = mkdtemp(pattern);
        caFile_ = directory_ + "/ca.pem";
        std::ofstream(caFile_) << identity.caCertificatePem;
        context_ = SSL_CTX_new(TLS_server_method());
        SSL_CTX_use_certificate(context_, identity.certificate.get());
        SSL_CTX_use_PrivateKey(context_, identity.privateKey.get());
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        ::listen(listener_, 8);
        thread_ = std::thread([this] { serve(); });
    }
    ~CannedTlsServer() {
        ::shutdown(listener_, SHUT_RDWR);  // ends the blocking accept()
        thread_.join();
        ::close(listener_);
        SSL_CTX_free(context_);
        std::remove(caFile_.c_str());
        ::rmdir(directory_.c_str());
    }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/v1/canned/"; }
    const std::string& caFile() const { return caFile_; }

private:
    void serve() {
        for (;;) {
            const int fd = ::accept(listener_, nullptr, nullptr);
            if (fd < 0) return;
            SSL* ssl = SSL_new(context_);
            SSL_set_fd(ssl, fd);
            if (SSL_accept(ssl) == 1) {
                std::string request;
                char buffer[4096];
                int n = 0;
                while (request.find("\r\n\r\n") == std::string::npos &&
                       (n = SSL_read(ssl, buffer, sizeof buffer)) > 0) {
                    request.append(buffer, static_cast<std::size_t>(n));
                }
                SSL_write(ssl, answer_.data(), static_cast<int>(answer_.size()));
                SSL_shutdown(ssl);
            }
            SSL_free(ssl);
            ::close(fd);
        }
    }

    std::string answer_;
    std::string directory_;
    std::string caFile_;
    SSL_CTX* context_ = nullptr;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

TEST_F(UrlSessionTest, HostileAnswersEndInAClearErrorOrAreReadSafely) {
    std::string manyHeaders = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 300; ++i) manyHeaders += "X-Filler-" + std::to_string(i) + ": " + std::string(1000, 'a') + "\r\n";
    manyHeaders += "Content-Length: 0\r\n\r\n";
    struct Case {
        const char* name;
        std::string answer;
        std::optional<UrlErrorCode> error;
        std::function<void(const Result&)> check;
    };
    const std::vector<Case> cases = {
        {"not HTTP at all", "NOT HTTP AT ALL\r\n\r\n", UrlErrorCode::badServerResponse, {}},
        {"a header block beyond the limit", manyHeaders, UrlErrorCode::badServerResponse, {}},
        {"a body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", UrlErrorCode::networkConnectionLost,
         {}},
        {"a body longer than allowed", "HTTP/1.1 200 OK\r\nContent-Length: 999999999999\r\n\r\nabc",
         UrlErrorCode::dataLengthExceedsMaximum, {}},
        {"folded and repeated fields",
         "HTTP/1.1 200 OK\r\nX-Folded: first\r\n  second\r\nx-sb-twice: 1\r\nx-sb-twice: 2\r\n"
         "Content-Type:  text/PLAIN ;q=1\r\nContent-Length: 2\r\n\r\nok",
         std::nullopt,
         [](const Result& r) {
             EXPECT_EQ(r.response->value("X-Folded"), "first second");
             EXPECT_EQ(r.response->value("x-sb-twice"), "1, 2");
             EXPECT_EQ(r.response->mimeType, "text/plain");
             EXPECT_EQ(text(r.data), "ok");
         }},
        {"a body that ends with the connection", "HTTP/1.1 503 Busy\r\nConnection: close\r\n\r\nlater",
         std::nullopt,
         [](const Result& r) {
             EXPECT_EQ(r.response->statusCode, 503);
             EXPECT_EQ(r.response->mimeType, std::nullopt);
             EXPECT_EQ(text(r.data), "later");
         }},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        CannedTlsServer server(c.answer);
        UrlSessionConfiguration configuration;
        configuration.additionalCaFile = server.caFile();
        configuration.maximumBodySize = 1024 * 1024;
        auto session = std::make_shared<UrlSession>(configuration);
        session->dataTask(makeRequest(server.url(), "GET"), collector->completion(i))->resume();
        ASSERT_TRUE(collector->waitForCalls(i + 1));
        session.reset();
        ASSERT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));  // before the server goes
        const Result r = collector->resultOf(i);
        if (c.error) {
            ASSERT_TRUE(r.error);
            EXPECT_EQ(r.error->code, *c.error) << r.error->localizedDescription;
            EXPECT_FALSE(r.response);
        } else {
            ASSERT_FALSE(r.error) << r.error->localizedDescription;
            c.check(r);
        }
    }
}

TEST_F(UrlSessionTest, ManySessionsComeAndGoWithoutLeavingThreadsOrHandles) {
    // A port bound but not listening: connecting to it is refused at once, so
    // most sessions make and drop a transfer handle without a TLS handshake.
    const int closed = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(closed, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    socklen_t length = sizeof address;
    ASSERT_EQ(::getsockname(closed, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const std::string refusedUrl = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/v1/echo/";

    constexpr std::size_t kSessions = 1000;
    constexpr std::size_t kBatch = 40;
    std::size_t expected = 0;
    std::vector<std::optional<UrlErrorCode>> outcome(kSessions);
    for (std::size_t start = 0; start < kSessions; start += kBatch) {
        for (std::size_t i = start; i < start + kBatch; ++i) {
            auto session = newSession();
            auto run = [&](UrlRequest request) {
                session->dataTask(std::move(request), collector->completion(i))->resume();
                ++expected;
            };
            switch (i % 8) {
                case 0:  // never used
                    break;
                case 1:  // a full exchange, the session released while it is in flight
                    run(makeRequest(devserver.url("/echo/"), "GET"));
                    break;
                case 2:  // invalidated as soon as its request is queued
                    run(makeRequest(refusedUrl, "GET"));
                    session->invalidateAndCancel();
                    break;
                case 3:  // refused before sending
                    run(makeRequest(refusedUrl, "GET", {{"X-Bad", "a\r\nb"}}));
                    outcome[i] = UrlErrorCode::invalidRequest;
                    break;
                default:  // the connection is refused
                    run(makeRequest(refusedUrl, "PUT", {}, "body"));
                    outcome[i] = UrlErrorCode::cannotConnectToHost;
                    break;
            }
        }
        ASSERT_TRUE(collector->waitForCalls(expected));
    }
    ::close(closed);
    ASSERT_TRUE(UrlSession::waitForNoLiveWorkers(kGuard));
    EXPECT_EQ(UrlSession::liveWorkerThreads(), 0u);
    EXPECT_EQ(UrlSession::liveTransferHandles(), 0u);
    for (std::size_t i = 0; i < kSessions; ++i) {
        if (i % 8 == 0) continue;
        ASSERT_EQ(collector->callsOf(i), 1u) << i;
        const auto error = collector->resultOf(i).error;
        if (i % 8 == 1) {
            EXPECT_FALSE(error) << i;
        } else if (outcome[i]) {
            ASSERT_TRUE(error) << i;
            EXPECT_EQ(error->code, *outcome[i]) << i << ": " << error->localizedDescription;
        }
    }
}

}  // namespace
