#include "devserver/BenchRoute.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>

#include "crypto/Random.h"
#include "devserver/DevServer.h"
#include "support/DevserverFixture.h"

namespace {

using namespace ostrelcomm;
namespace fs = std::filesystem;

constexpr auto kGuard = std::chrono::seconds(60);
constexpr std::size_t kProtocolLimit = 1000;

struct Answer {
    int status = -1;
    Bytes body;
};

class BenchRouteTest : public testing::Test {
protected:
    static devserver::DevServerOptions options(bool benchRoute) {
        devserver::DevServerOptions o;
        o.maximumBodySize = kProtocolLimit;
        o.benchRoute = benchRoute;
        return o;
    }

    Answer send(testsupport::RunningDevserver& server, const std::string& method, const std::string& url,
                std::optional<Bytes> body = std::nullopt) {
        auto session = std::make_shared<UrlSession>(*server.sessionConfiguration());
        UrlRequest request(url);
        request.httpMethod = method;
        request.httpBody = std::move(body);
        auto promise = std::make_shared<std::promise<Answer>>();
        auto future = promise->get_future();
        session
            ->dataTask(std::move(request),
                       [promise](std::optional<Bytes> data, std::optional<HttpUrlResponse> response,
                                 std::optional<UrlError>) {
                           promise->set_value(Answer{response ? response->statusCode : -1,
                                                     data ? std::move(*data) : Bytes{}});
                       })
            ->resume();
        if (future.wait_for(kGuard) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        return future.get();
    }

    testsupport::RunningDevserver bench{options(true)};
};

TEST_F(BenchRouteTest, ABodyOfAnySizeGoesIntoTheDataFolderAndComesBackAsItWas) {
    // Far beyond the protocol's limit, and more than one read of the server.
    const Bytes content = randomBytes(3 * 1024 * 1024 + 17);
    const std::string url = bench->origin() + devserver::benchroute::kPrefix + "big.bin";
    EXPECT_EQ(send(bench, "PUT", url, content).status, 201);
    const fs::path stored = bench->dataFolder().path() / "bench" / "big.bin";
    std::ifstream in(stored, std::ios::binary);
    EXPECT_TRUE(Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()) == content);

    const Answer back = send(bench, "GET", url);
    EXPECT_EQ(back.status, 200);
    EXPECT_TRUE(back.body == content);

    // Put again, shorter: the new body replaces the old one whole.
    EXPECT_EQ(send(bench, "PUT", url, Bytes{1, 2, 3}).status, 201);
    EXPECT_EQ(send(bench, "GET", url).body, (Bytes{1, 2, 3}));
    EXPECT_EQ(send(bench, "GET", bench->origin() + devserver::benchroute::kPrefix + "missing").status, 404);
}

TEST_F(BenchRouteTest, ANameThatIsNoPlainFileNameWritesNothing) {
    struct Case {
        const char* name;
        int status;
    };
    const Case cases[] = {{".hidden", 400}, {"...", 400}, {"..%2Fescape", 404}, {"a%2Fb", 404}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(send(bench, "PUT", bench->origin() + devserver::benchroute::kPrefix + c.name, Bytes{7}).status,
                  c.status);
    }
    const fs::path data = bench->dataFolder().path();
    EXPECT_FALSE(fs::exists(data / "escape"));
    EXPECT_FALSE(fs::exists(data / "bench" / "a"));
    EXPECT_FALSE(fs::exists(data / "bench" / ".hidden"));
    EXPECT_THROW(devserver::benchroute::fileFor(bench->dataFolder(), "../x"), std::runtime_error);
}

TEST_F(BenchRouteTest, TheProtocolKeepsItsBodyLimitAndWithoutTheOptionThereIsNoRoute) {
    const std::string store = bench.url("/filesend/store/");
    EXPECT_EQ(send(bench, "PUT", store, Bytes(kProtocolLimit + 1, 1)).status, 413);
    EXPECT_EQ(send(bench, "PUT", store, Bytes(kProtocolLimit, 1)).status, 403) << "read, then refused unsigned";

    testsupport::RunningDevserver plain(options(false));
    EXPECT_EQ(send(plain, "PUT", plain->origin() + devserver::benchroute::kPrefix + "x", Bytes{1}).status, 404);
    EXPECT_FALSE(fs::exists(plain->dataFolder().path() / "bench"));
    EXPECT_EQ(send(plain, "GET", plain->origin() + "/bench-times").status, 404);
}

}  // namespace
