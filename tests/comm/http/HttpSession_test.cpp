#include <gtest/gtest.h>

#include "HttpTestSupport.h"
#include "http/Server_GenericConfirmation.h"
#include "platform/AppInfo.h"

using namespace httptest;

TEST(HttpSession, ServerKeyFallsBackToTheOneEntry) {
    server();
    EXPECT_EQ(Http::url().size(), 1u);
    struct Row {
        const char* given;
        const char* expected;
    };
    for (const Row& row : {Row{"https", "Switzerland"}, Row{"", "Switzerland"}, Row{"switzerland", "Switzerland"},
                           Row{"Switzerland", "Switzerland"}}) {
        Http http(row.given, true, UrlSessionConfiguration::ephemeral(), std::nullopt);
        EXPECT_EQ(http.urlToUse, row.expected) << row.given;
        EXPECT_EQ(http.getUsedURL(), testsupport::sharedDevserver().server().baseUrl());
        EXPECT_EQ(http.headerPrefix, "x-sb-");
        EXPECT_EQ(http.task, nullptr);
    }
}

TEST(HttpSession, UserAgentComesFromTheApplicationInfo) {
    server();
    const AppInfo saved = AppInfo::current();
    AppInfo info = saved;
    info.name = "App";
    info.shortVersion = "1.2";
    info.build = "34";
    AppInfo::set(info);
    Http http("https", true, UrlSessionConfiguration::ephemeral(), std::nullopt);
    AppInfo::set(saved);
    EXPECT_EQ(http.userAgent, "App macOS 1.2 (34)");
}

TEST(HttpSession, AdjustsTheConfigurationItWasGiven) {
    server();
    auto configuration = UrlSessionConfiguration::ephemeral();
    configuration->httpAdditionalHeaders["X-Extra"] = "1";
    configuration->timeoutIntervalForRequest = 99;
    configuration->timeoutIntervalForResource = 999;
    Http http("https", false, configuration, std::nullopt);
    EXPECT_EQ(http.sessionConfig, configuration) << "the object itself, not a copy";
    EXPECT_FALSE(configuration->allowsCellularAccess);
    EXPECT_EQ(configuration->timeoutIntervalForRequest, 10.0);
    EXPECT_EQ(configuration->timeoutIntervalForResource, 30.0);
    EXPECT_TRUE(configuration->httpAdditionalHeaders.empty());
    EXPECT_EQ(http.session->configuration().timeoutIntervalForRequest, 10.0);
    EXPECT_TRUE(http.session->configuration().httpAdditionalHeaders.empty());
}

// The job lets its Http go while a request is in flight: the Http stays alive
// until that request's handler has run, and is released afterwards.
TEST(HttpSession, OutlivesItsOwnerWhileARequestIsInFlight) {
    auto& s = server();
    s.setFault("GET", "/test/confirm/", devserver::Fault::stalled());
    auto http = makeHttp();
    std::weak_ptr<Http> watch = http;

    Capture<Server_GenericConfirmation> done;
    auto aliveInHandler = std::make_shared<std::atomic<bool>>(false);
    auto inner = done.handler();
    http->query<Server_GenericConfirmation>(
        "/test/confirm/", "GET", {}, std::nullopt, "application/json",
        [watch, aliveInHandler, inner](auto value, auto headers, auto error) {
            aliveInHandler->store(!watch.expired());
            inner(std::move(value), std::move(headers), std::move(error));
        });
    ASSERT_TRUE(s.waitForStalledRequests(1, kGuard));
    http.reset();
    EXPECT_FALSE(watch.expired()) << "the request in flight holds it";

    s.releaseStalls();
    auto call = done.first();
    s.clearFaults();
    EXPECT_FALSE(call.error.has_value());
    EXPECT_TRUE(aliveInHandler->load());
    waitForAllSessionsToEnd();
    EXPECT_TRUE(watch.expired()) << "released once its handler has run";
    EXPECT_EQ(done.count(), 1u);
}

// A second request replaces `task`; the first one still ends in its own handler.
TEST(HttpSession, SecondRequestReplacesTheTaskAndBothHandlersRun) {
    auto& s = server();
    s.setFault("GET", "/test/confirm/", devserver::Fault::stalled());
    auto http = makeHttp();
    Capture<Server_GenericConfirmation> first;
    Capture<Server_GenericConfirmation> second;
    http->query<Server_GenericConfirmation>("/test/confirm/", "GET", {{"item-uuid", "one"}}, std::nullopt,
                                            "application/json", first.handler());
    auto firstTask = http->task;
    ASSERT_TRUE(s.waitForStalledRequests(1, kGuard));
    s.clearFaults();
    http->query<Server_GenericConfirmation>("/test/confirm/", "GET", {{"item-uuid", "two"}}, std::nullopt,
                                            "application/json", second.handler());
    EXPECT_NE(http->task, firstTask);
    s.releaseStalls();
    ASSERT_TRUE(first.first().value.has_value());
    ASSERT_TRUE(second.first().value.has_value());
    EXPECT_EQ(first.first().value->opdata.itemUUID, "one");
    EXPECT_EQ(second.first().value->opdata.itemUUID, "two");
    http.reset();
    waitForAllSessionsToEnd();
    EXPECT_EQ(first.count(), 1u);
    EXPECT_EQ(second.count(), 1u);
}

// The engine ends a job's session: the request in flight ends once, as a
// transfer failure, and the Http sends nothing afterwards.
TEST(HttpSession, InvalidatedSessionEndsTheRequestOnceAndSendsNothingMore) {
    auto& s = server();
    s.clearRequests();
    s.setFault("GET", "/test/confirm/", devserver::Fault::stalled());
    auto http = makeHttp();
    Capture<Server_GenericConfirmation> inFlight;
    http->query<Server_GenericConfirmation>("/test/confirm/", "GET", {}, std::nullopt, "application/json",
                                            inFlight.handler());
    ASSERT_TRUE(s.waitForStalledRequests(1, kGuard));
    http->session->invalidateAndCancel();
    auto call = inFlight.first();
    ASSERT_TRUE(call.error.has_value());
    EXPECT_EQ(call.error->error, HTTPErrors::dataTaskError);
    EXPECT_TRUE(call.headers.empty());

    Capture<Server_GenericConfirmation> after;
    http->queryWithPayload<Server_GenericConfirmation>("/test/confirm/", "PUT", {}, "application/json", Bytes{},
                                                       std::nullopt, "application/json", after.payloadHandler());
    auto late = after.first();
    ASSERT_TRUE(late.error.has_value());
    EXPECT_EQ(late.error->error, HTTPErrors::dataTaskError);
    EXPECT_EQ(late.digest->size(), 32u);

    s.releaseStalls();
    s.clearFaults();
    http.reset();
    waitForAllSessionsToEnd();
    EXPECT_EQ(inFlight.count(), 1u);
    EXPECT_EQ(after.count(), 1u);
    EXPECT_EQ(s.requestCount(), 1u) << "only the request that was already in flight reached the server";
}
