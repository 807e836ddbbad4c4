// The stand-in's upload endpoints driven by hand-made signed requests: the
// order of blocks it takes, the requests it refuses and for whom, the blocks
// it keeps in its data folder and drops with their file, and its tree hash
// beside the client's.

#include "devserver/TransferEndpoints.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "devserver/AccountEndpoints.h"
#include "encoding/Encoding.h"
#include "devserver/Base64.h"
#include "devserver/Signing.h"
#include "support/CryptoOracle.h"
#include "support/DevserverFixture.h"
#include "xfer/TreeHash.h"

namespace {

using namespace ostrelcomm;
using devserver::HeaderMap;

constexpr auto kGuard = std::chrono::seconds(60);

ino_t inodeOf(const std::filesystem::path& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// Every file below `folder`, by its path relative to it.
std::set<std::string> filesUnder(const std::filesystem::path& folder) {
    std::set<std::string> found;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (!entry.is_directory()) found.insert(std::filesystem::relative(entry.path(), folder).string());
    return found;
}

struct Answer {
    int status = -1;
    nlohmann::json json;
    std::string body;
    std::optional<HttpUrlResponse> response;
    // The answer's body digest header; "<absent>" without one.
    std::string digest() const {
        return response ? response->value("x-sb-payload-sha256").value_or("<absent>") : "<no answer>";
    }
    // The exception name of a refusal; empty for an answer.
    std::string code() const { return status == 200 ? "" : json.value("code", "?"); }
};

class TransferEndpointsTest : public testsupport::DevserverTest {
protected:
    struct Account {
        devserver::Session session;
        std::string uuid;
    };

    Account account(const std::string& name) {
        const auto user = devserver::addDemoUser(devserver->users(), name, "password");
        devserver::Session session{"session-" + name, testsupport::oracleRandom(32), name, false};
        devserver->sessions().add(session);
        return {session, user.uuid};
    }

    Answer send(const Account& as, const std::string& method, const std::string& path, HeaderMap headers,
                std::optional<std::string> body = std::nullopt, const char* type = "application/octet-stream") {
        headers.insert({{"Accept", "application/json"},
                        {"x-sb-timestamp", "20240102030405"},
                        {"x-sb-username", as.session.userName},
                        {"x-sb-sessionid", as.session.id}});
        UrlRequest request(devserver.url(path));
        request.httpMethod = method;
        if (body) {
            headers["Content-Type"] = type;
            headers["x-sb-payload-sha256"] = devserver::sha256Hex(*body);
            request.httpBody = toBytes(*body);
        }
        const auto signature = devserver::signHeaders(headers, as.session.key);
        headers["x-sb-auth-headers"] = signature.names;
        headers["x-sb-auth"] = signature.hmac;
        request.allHTTPHeaderFields = {headers.begin(), headers.end()};

        auto session = std::make_shared<UrlSession>(*devserver.sessionConfiguration());
        std::promise<Answer> promise;
        auto future = promise.get_future();
        session
            ->dataTask(std::move(request),
                       [&promise](std::optional<Bytes> d, std::optional<HttpUrlResponse> r, std::optional<UrlError>) {
                           Answer answer;
                           if (r) answer.status = r->statusCode;
                           if (d) answer.body = toText(*d);
                           answer.json = nlohmann::json::parse(answer.body, nullptr, false);
                           answer.response = std::move(r);
                           promise.set_value(std::move(answer));
                       })
            ->resume();
        if (future.wait_for(kGuard) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            return {};
        }
        return future.get();
    }

    Answer prepare(const Account& as, std::uint64_t size, const std::string& parent = "root") {
        return send(as, "GET", "/filesend/prepare/",
                    {{"x-sb-encoder-version", "1.0"},
                     {"x-sb-algorythm", "aes256"},
                     {"x-sb-parent-uuid", parent},
                     {"x-sb-file-size", std::to_string(size)}});
    }
    Answer block(const Account& as, const std::string& uuid, int n, const std::string& range, std::size_t bodySize,
                 char fill = 'c') {
        return send(as, "PUT", "/filesend/store/",
                    {{"x-sb-encoder-version", "1.0"},
                     {"x-sb-item-uuid", uuid},
                     {"x-sb-blocknum", std::to_string(n)},
                     {"x-sb-blockrange", range}},
                    std::string(bodySize, fill));
    }
    Answer getBlock(const Account& as, const std::string& uuid, int n) {
        return send(as, "GET", "/filerecv/getblock/", {{"x-sb-item-uuid", uuid}, {"x-sb-blocknum", std::to_string(n)}});
    }
    Answer finalize(const Account& as, const std::string& uuid, std::size_t sent, const std::string& treehash) {
        return send(as, "GET", "/filesend/finalize/",
                    {{"x-sb-encoder-version", "1.0"},
                     {"x-sb-item-uuid", uuid},
                     {"x-sb-blocks-sent", std::to_string(sent)},
                     {"x-sb-treehash-sha256", treehash}});
    }
    Answer terminate(const Account& as, const std::string& uuid, nlohmann::json body) {
        return send(as, "PUT", "/filesend/terminate/", {{"x-sb-encoder-version", "1.0"}, {"x-sb-item-uuid", uuid}},
                    body.dump(), "application/json");
    }
    Answer abort(const Account& as, const std::string& uuid) {
        return send(as, "DELETE", "/filesend/", {{"x-sb-item-uuid", uuid}});
    }

    static nlohmann::json terminateBody() {
        const Bytes key = testsupport::oracleRandom(32);
        return {{"itemkey", testsupport::oracleWrap(testsupport::oracleRandom(48), key)},
                {"metadata", devserver::base64Encode(testsupport::oracleSeal(key, toBytes(R"({"name":"f"})")))}};
    }
};

TEST_F(TransferEndpointsTest, TakesBlocksInOrderAndRefusesWhatNoClientSends) {
    const Account alice = account("alice");
    const Account bob = account("bob");
    // Two blocks of 20 and 5 clear bytes: 32 and 16 bytes of ciphertext.
    const Answer prepared = prepare(alice, 25);
    ASSERT_EQ(prepared.status, 200);
    const std::string uuid = prepared.json["itemUUID"];
    EXPECT_TRUE(devserver->items().folder(alice.uuid, "root")->content.empty());

    struct Refused {
        const char* what;
        std::function<Answer()> send;
        std::string code;
    };
    const std::vector<Refused> early = {
        {"another encoder", [&] { return send(alice, "GET", "/filesend/prepare/", {{"x-sb-encoder-version", "2.0"}, {"x-sb-algorythm", "aes256"}, {"x-sb-parent-uuid", "root"}, {"x-sb-file-size", "1"}}); }, "BadRequestException"},
        {"a size that is no number", [&] { return send(alice, "GET", "/filesend/prepare/", {{"x-sb-encoder-version", "1.0"}, {"x-sb-algorythm", "aes256"}, {"x-sb-parent-uuid", "root"}, {"x-sb-file-size", "12a"}}); }, "BadRequestException"},
        {"a parent that is no folder", [&] { return prepare(alice, 1, "nowhere"); }, "ItemNotFoundException"},
        {"another user's upload", [&] { return block(bob, uuid, 0, "0-19", 32); }, "ItemNotFoundException"},
        {"a block out of order", [&] { return block(alice, uuid, 1, "20-24", 16); }, "BadRequestException"},
        {"a first block not at 0", [&] { return block(alice, uuid, 0, "1-20", 32); }, "BadRequestException"},
        {"a body of another length", [&] { return block(alice, uuid, 0, "0-19", 31); }, "BadRequestException"},
        {"a range beyond the file", [&] { return block(alice, uuid, 0, "0-25", 32); }, "BadRequestException"},
        {"a range backwards", [&] { return block(alice, uuid, 0, "19-0", 32); }, "BadRequestException"},
        {"a finalize short of the end", [&] { return finalize(alice, uuid, 0, "00"); }, "BadRequestException"},
        {"a terminate before the finalize", [&] { return terminate(alice, uuid, terminateBody()); }, "BadRequestException"},
        {"another user's abort", [&] { return abort(bob, uuid); }, "ItemNotFoundException"},
    };
    for (const auto& r : early) EXPECT_EQ(r.send().code(), r.code) << r.what;

    const Answer first = block(alice, uuid, 0, "0-19", 32);
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(first.json, (nlohmann::json{{"itemUUID", uuid}, {"blocknum", 0}, {"blockBegin", 0}, {"blockEnd", 19}}));
    // The last block again replaces it; with another range it is refused.
    EXPECT_EQ(block(alice, uuid, 0, "0-19", 32).status, 200);
    EXPECT_EQ(block(alice, uuid, 0, "0-15", 32).code(), "BadRequestException");
    EXPECT_EQ(block(alice, uuid, 1, "21-24", 16).code(), "BadRequestException");
    ASSERT_EQ(block(alice, uuid, 1, "20-24", 16).status, 200);
    EXPECT_EQ(devserver->dataFolder().readBlock(uuid, 1)->size(), 16u);

    const auto stored = devserver->items().find(alice.uuid, uuid);
    ASSERT_TRUE(stored);
    std::vector<Bytes> leaves;
    for (const auto& chunk : stored->chunks) {
        EXPECT_EQ(chunk.chksum, devserver::sha256Hex(*devserver->dataFolder().readBlock(uuid, leaves.size())));
        leaves.push_back(*fromHex(chunk.chksum));
    }
    const std::string treehash = toHex(TreeHash::compute(leaves));
    EXPECT_EQ(finalize(alice, uuid, 1, treehash).code(), "BadRequestException");
    EXPECT_EQ(finalize(alice, uuid, 2, std::string(64, '0')).code(), "BadRequestException");
    const Answer finalized = finalize(alice, uuid, 2, treehash);
    ASSERT_EQ(finalized.status, 200);
    EXPECT_EQ(finalized.json["umk"], devserver->users().find("alice")->umk);
    EXPECT_EQ(block(alice, uuid, 1, "20-24", 16).code(), "BadRequestException");

    nlohmann::json extra = terminateBody();
    extra["name"] = "f";
    EXPECT_EQ(terminate(alice, uuid, extra).code(), "BadRequestException");
    ASSERT_EQ(terminate(alice, uuid, terminateBody()).status, 200);
    const auto listed = devserver->items().folder(alice.uuid, "root");
    ASSERT_EQ(listed->content.size(), 1u);
    EXPECT_EQ(listed->content[0].size, 25u);
    EXPECT_EQ(listed->content[0].treehash, treehash);
    // A finished file is no upload any more.
    EXPECT_EQ(abort(alice, uuid).code(), "ItemNotFoundException");
    EXPECT_EQ(block(alice, uuid, 2, "25-25", 16).code(), "ItemNotFoundException");
}

TEST_F(TransferEndpointsTest, AnAbortedUploadTakesItsBlocksWithIt) {
    const Account alice = account("alice");
    const std::string uuid = prepare(alice, 10).json["itemUUID"];
    ASSERT_EQ(block(alice, uuid, 0, "0-9", 16).status, 200);
    const auto path = devserver->dataFolder().blockPath(uuid, 0);
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(abort(alice, uuid).json, (nlohmann::json{{"itemUUID", uuid}}));
    EXPECT_FALSE(devserver->items().find(alice.uuid, uuid));
    EXPECT_FALSE(std::filesystem::exists(path.parent_path()));
}

TEST(TransferDataFolder, ANamedFolderOutlivesTheServerAndATemporaryOneDoesNot) {
    const auto named = std::filesystem::temp_directory_path() / ("transfer-data-" + std::to_string(::getpid()));
    std::filesystem::path temporary;
    {
        devserver::DevServerOptions options;
        options.dataDir = named.string();
        testsupport::RunningDevserver kept(options);
        EXPECT_EQ(kept->dataFolder().path(), named);
        kept->dataFolder().placeBlock(kept->dataFolder().stageBlock("item", 0, "body"), "item", 0);
        testsupport::RunningDevserver passing;
        temporary = passing->dataFolder().path();
        EXPECT_TRUE(std::filesystem::is_directory(temporary));
    }
    EXPECT_FALSE(std::filesystem::exists(temporary));
    std::ifstream in(named / "item" / "0");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "body");
    std::filesystem::remove_all(named);
}

TEST_F(TransferEndpointsTest, ABlockIsSentUnderTheDigestOfTheBytesSent) {
    const Account alice = account("alice");
    // Two blocks of 2 MiB clear bytes each (whole AES blocks: a block of
    // padding more in the ciphertext).
    constexpr std::size_t kClear = std::size_t{2} << 20;
    const std::size_t cipher = kClear + 16;
    const std::string uuid = prepare(alice, 2 * kClear).json["itemUUID"];
    const std::string first = "0-" + std::to_string(kClear - 1);
    ASSERT_EQ(block(alice, uuid, 0, first, cipher, 'a').status, 200);
    // The last block sent again: the one kept, and its digest, are the new one's.
    ASSERT_EQ(block(alice, uuid, 0, first, cipher, 'b').status, 200);
    ASSERT_EQ(block(alice, uuid, 1, std::to_string(kClear) + "-" + std::to_string(2 * kClear - 1), cipher, 'c').status,
              200);
    const auto stored = devserver->items().find(alice.uuid, uuid);
    ASSERT_TRUE(stored);
    std::vector<Bytes> leaves;
    for (const auto& chunk : stored->chunks) leaves.push_back(*fromHex(chunk.chksum));
    ASSERT_EQ(finalize(alice, uuid, 2, toHex(TreeHash::compute(leaves))).status, 200);
    ASSERT_EQ(terminate(alice, uuid, terminateBody()).status, 200);

    const Answer resent = getBlock(alice, uuid, 0);
    ASSERT_EQ(resent.status, 200);
    EXPECT_EQ(resent.body, std::string(cipher, 'b'));
    EXPECT_EQ(resent.digest(), devserver::sha256Hex(resent.body));

    // A block file changed behind the server's back (cut short here) goes
    // out as it now is, under the digest of what is sent.
    std::filesystem::resize_file(devserver->dataFolder().blockPath(uuid, 1), 1000);
    const Answer cut = getBlock(alice, uuid, 1);
    ASSERT_EQ(cut.status, 200);
    EXPECT_EQ(cut.body, std::string(1000, 'c'));
    EXPECT_EQ(cut.digest(), devserver::sha256Hex(cut.body));
}

// Asks for a block over a connection of its own and reads the answer's head;
// `midway` runs once the body has begun to arrive, then the rest is read
// until the server ends it. The body bytes that came, and the length the
// head announced.
std::pair<std::size_t, std::size_t> readBlockAround(const testsupport::RunningDevserver& server,
                                                    const HeaderMap& headers, const std::function<void()>& midway) {
    std::string request = "GET /v1/filerecv/getblock/ HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n";
    for (const auto& [name, value] : headers) request += name + ": " + value + "\r\n";
    request += "\r\n";
    std::string head;
    std::size_t body = 0;
    std::size_t announced = 0;
    bool headRead = false;
    testsupport::exchangeRawOverTls(server, request, [&](std::string_view piece) {
        if (headRead) {
            body += piece.size();
            return true;
        }
        head.append(piece);
        const auto end = head.find("\r\n\r\n");
        if (end == std::string::npos) return true;
        const auto length = head.find("Content-Length: ");
        if (length != std::string::npos && length < end) announced = std::stoul(head.substr(length + 16));
        body = head.size() - end - 4;
        headRead = true;
        midway();
        return true;
    });
    return {body, announced};
}

TEST_F(TransferEndpointsTest, ABlockCutShortWhileItIsSentEndsTheAnswerEarly) {
    const Account alice = account("alice");
    // Far larger than the connection's buffers: most of it is still in the
    // file when the head arrives.
    const std::size_t size = std::size_t{48} << 20;
    devserver::Item item;
    item.owner = alice.uuid;
    item.size = size - 16;
    item.chunks = {devserver::Chunk{0, size - 17, devserver::sha256Hex(std::string(size, 'z'))}};
    const auto stored = devserver::storeFile(devserver.server(), item, {std::string(size, 'z')});
    ASSERT_TRUE(stored);

    HeaderMap headers = {{"Accept", "application/json"},
                         {"x-sb-timestamp", "20240102030405"},
                         {"x-sb-username", alice.session.userName},
                         {"x-sb-sessionid", alice.session.id},
                         {"x-sb-item-uuid", stored->uuid},
                         {"x-sb-blocknum", "0"}};
    const auto signature = devserver::signHeaders(headers, alice.session.key);
    headers["x-sb-auth-headers"] = signature.names;
    headers["x-sb-auth"] = signature.hmac;
    const auto [received, announced] = readBlockAround(devserver, headers, [&] {
        std::filesystem::resize_file(devserver->dataFolder().blockPath(stored->uuid, 0), 1 << 20);
    });
    EXPECT_EQ(announced, size);
    EXPECT_LT(received, size);
}

TEST(TransferDataFolder, ABlocksDigestServesOnlyTheBodyItWasRecordedFor) {
    devserver::DataFolder data;
    data.open(std::nullopt);
    const auto path = data.blockPath("item", 0);
    const auto place = [&](const std::string& body, const std::string& digest) {
        data.placeBlock(data.stageBlock("item", 0, body), "item", 0, digest);
    };
    const auto recorded = [&]() -> std::string {
        const auto block = data.openBlock("item", 0);
        return block ? block->sha256() : "<no block>";
    };
    struct Step {
        const char* what;
        std::function<void()> change;
        std::string expected;
    };
    const std::vector<Step> steps = {
        {"placed with its digest", [&] { place("first", devserver::sha256Hex("first")); },
         devserver::sha256Hex("first")},
        {"placed again with another", [&] { place("second", devserver::sha256Hex("second")); },
         devserver::sha256Hex("second")},
        {"placed again without one", [&] { place("third", ""); }, ""},
        {"replaced by another file",
         [&] {
             place("fourth", devserver::sha256Hex("fourth"));
             const auto other = path.string() + ".other";
             std::ofstream(other) << "fifth";
             std::filesystem::rename(other, path);
         },
         ""},
        {"cut short in place",
         [&] {
             place("sixth", devserver::sha256Hex("sixth"));
             std::filesystem::resize_file(path, 2);
         },
         ""},
        {"dropped with its item", [&] { data.removeItem("item"); }, "<no block>"},
        {"placed anew without one", [&] { place("seventh", ""); }, ""},
    };
    for (const auto& step : steps) {
        step.change();
        EXPECT_EQ(recorded(), step.expected) << step.what;
    }

    // Cut short while held open: the reads come up short, never padded.
    place(std::string(65536, 'x'), devserver::sha256Hex(std::string(65536, 'x')));
    const auto block = data.openBlock("item", 0);
    ASSERT_TRUE(block);
    EXPECT_EQ(block->sha256(), devserver::sha256Hex(std::string(65536, 'x')));
    std::filesystem::resize_file(path, 1000);
    std::string out(65536, '\0');
    EXPECT_EQ(block->readAt(0, out.data(), out.size()), 1000u);
    EXPECT_EQ(block->readAt(1000, out.data(), out.size()), 0u);
    EXPECT_FALSE(block->readAll());
}

TEST(TransferDataFolder, ASpoolBecomesTheBlockOnlyWhenItHoldsTheWholeBody) {
    devserver::DataFolder data;
    data.open(std::nullopt);
    const std::string body(70000, 'k');
    struct Case {
        const char* what;
        std::function<void(devserver::DataFolder::Spool&)> fill;
        bool taken;
    };
    const std::vector<Case> cases = {
        {"the whole body", [&](auto& spool) { spool.write(body.data(), body.size()); spool.close(); }, true},
        {"cut short", [&](auto& spool) { spool.write(body.data(), body.size() - 1); spool.close(); }, false},
        {"longer", [&](auto& spool) { spool.write(body.data(), body.size()); spool.write("k", 1); spool.close(); },
         false},
        {"still open", [&](auto& spool) { spool.write(body.data(), body.size()); }, false},
        // Moved rather than removed, so that its inode cannot come back as
        // the block's.
        {"gone from its place",
         [&](auto& spool) {
             spool.write(body.data(), body.size());
             spool.close();
             std::filesystem::rename(spool.path(), data.path() / "moved");
         },
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::path spooled;
        ino_t spooledInode = 0;
        {
            auto spool = data.openSpool();
            ASSERT_TRUE(spool);
            spooled = spool->path();
            spooledInode = std::filesystem::exists(spooled) ? inodeOf(spooled) : 0;
            c.fill(*spool);
            data.placeBlock(data.stageBlock("item", 0, body, spool.get()), "item", 0, devserver::sha256Hex(body));
        }
        // Either way the block is the body, under its digest, and the spool
        // file is gone: renamed into place or dropped with the spool.
        EXPECT_EQ(data.readBlock("item", 0), body);
        EXPECT_EQ(data.openBlock("item", 0)->sha256(), devserver::sha256Hex(body));
        EXPECT_EQ(inodeOf(data.blockPath("item", 0)) == spooledInode, c.taken);
        EXPECT_FALSE(std::filesystem::exists(spooled));
    }
    std::filesystem::remove(data.path() / "moved");
    EXPECT_EQ(filesUnder(data.path()), std::set<std::string>{"item/0"});
}

// A request over a connection of its own, its bytes written as given: the
// head, then the body up to `pause`, then `midway` runs, then the rest of the
// body, or with `hangUp` the connection is closed there instead. The answer's
// status (0 when none came) and body.
std::pair<int, std::string> rawRequest(const testsupport::RunningDevserver& server, const std::string& head,
                                       const std::string& body, std::size_t pause,
                                       const std::function<void()>& midway, bool hangUp) {
    std::string answer;
    testsupport::withRawTls(server, [&](SSL* ssl) {
        const auto write = [ssl](const char* data, std::size_t size) {
            return size == 0 || SSL_write(ssl, data, static_cast<int>(size)) > 0;
        };
        if (!write(head.data(), head.size()) || !write(body.data(), pause)) return;
        midway();
        if (hangUp || !write(body.data() + pause, body.size() - pause)) return;
        std::vector<char> buffer(65536);
        int n = 0;
        while ((n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()))) > 0)
            answer.append(buffer.data(), static_cast<std::size_t>(n));
    });
    const auto end = answer.find("\r\n\r\n");
    if (answer.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return {0, {}};
    return {std::stoi(answer.substr(9, 3)), answer.substr(end + 4)};
}

TEST(TransferSpool, ARefusedOrCutOffBlockLeavesNoFileBehindAndChangesNothingStored) {
    const auto folder = std::filesystem::temp_directory_path() / ("transfer-spool-" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    devserver::DevServerOptions options;
    options.dataDir = folder.string();
    std::optional<testsupport::RunningDevserver> server(std::in_place, options);
    struct Account {
        devserver::Session session;
        std::string uuid;
    };
    const auto account = [&](const std::string& name) {
        const auto user = devserver::addDemoUser((*server)->users(), name, "password");
        devserver::Session session{"session-" + name, testsupport::oracleRandom(32), name, false};
        (*server)->sessions().add(session);
        return Account{session, user.uuid};
    };
    const Account alice = account("alice");
    const Account bob = account("bob");
    // Blocks of 2 MiB clear bytes: bodies large enough to be written while
    // they arrive, and one more AES block of ciphertext.
    constexpr std::size_t kClear = std::size_t{2} << 20;
    const std::size_t cipher = kClear + 16;
    const std::string firstRange = "0-" + std::to_string(kClear - 1);
    const std::string secondRange = std::to_string(kClear) + "-" + std::to_string(2 * kClear - 1);
    const auto upload = [&] {
        devserver::Item item;
        item.owner = alice.uuid;
        item.kind = devserver::ItemKind::file;
        item.size = 2 * kClear;
        item.upload = devserver::PendingUpload{};
        return (*server)->items().add(std::move(item))->uuid;
    };
    const std::string uuid = upload();

    struct Attempt {
        const Account* as;
        std::string uuid;
        int blocknum;
        std::string range;
        std::string body;
        std::string digest;
        std::function<void()> midway = [] {};
        bool hangUp = false;
    };
    const auto store = [&](const Attempt& a) {
        HeaderMap headers = {{"Content-Type", "application/octet-stream"},
                             {"x-sb-timestamp", "20240102030405"},
                             {"x-sb-username", a.as->session.userName},
                             {"x-sb-sessionid", a.as->session.id},
                             {"x-sb-encoder-version", "1.0"},
                             {"x-sb-item-uuid", a.uuid},
                             {"x-sb-blocknum", std::to_string(a.blocknum)},
                             {"x-sb-blockrange", a.range},
                             {"x-sb-payload-sha256", a.digest}};
        const auto signature = devserver::signHeaders(headers, a.as->session.key);
        headers["x-sb-auth-headers"] = signature.names;
        headers["x-sb-auth"] = signature.hmac;
        std::string head = "PUT /v1/filesend/store/ HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n"
                           "Content-Length: " + std::to_string(a.body.size()) + "\r\n";
        for (const auto& [name, value] : headers) head += name + ": " + value + "\r\n";
        head += "\r\n";
        return rawRequest(*server, head, a.body, a.body.size() / 2, a.midway, a.hangUp);
    };

    const std::string kept(cipher, 'a');
    ASSERT_EQ(store({&alice, uuid, 0, firstRange, kept, devserver::sha256Hex(kept)}).first, 200);
    const std::set<std::string> stored = {uuid + "/0"};
    const auto unchanged = [&] {
        EXPECT_EQ(filesUnder(folder), stored);
        EXPECT_EQ((*server)->dataFolder().readBlock(uuid, 0), kept);
        EXPECT_EQ((*server)->dataFolder().openBlock(uuid, 0)->sha256(), devserver::sha256Hex(kept));
        const auto item = (*server)->items().find(alice.uuid, uuid);
        ASSERT_TRUE(item);
        ASSERT_EQ(item->chunks.size(), 1u);
        EXPECT_EQ(item->chunks[0].chksum, devserver::sha256Hex(kept));
    };
    unchanged();

    const std::string other(cipher, 'z');
    const std::string otherUpload = upload();
    struct Case {
        const char* what;
        Attempt attempt;
        // 0: no answer comes.
        int status;
        std::string code;
        std::function<void()> before = [] {};
    };
    const std::vector<Case> cases = {
        {"a body longer than its range's ciphertext",
         {&alice, uuid, 1, secondRange, other + std::string(16, 'z'), devserver::sha256Hex(other + std::string(16, 'z'))},
         400, "BadRequestException"},
        {"a body shorter than its range's ciphertext",
         {&alice, uuid, 1, secondRange, other.substr(16), devserver::sha256Hex(other.substr(16))},
         400, "BadRequestException"},
        {"a digest of other bytes", {&alice, uuid, 0, firstRange, other, devserver::sha256Hex(kept)}, 400,
         "BadChecksumException"},
        {"another user's upload", {&bob, uuid, 0, firstRange, other, devserver::sha256Hex(other)}, 404,
         "ItemNotFoundException"},
        {"an upload gone while the body arrives",
         {&alice, otherUpload, 0, firstRange, other, devserver::sha256Hex(other),
          [&] { (*server)->items().remove(alice.uuid, otherUpload, false); }},
         404, "ItemNotFoundException"},
        {"a fault answering in the endpoint's place", {&alice, uuid, 0, firstRange, other, devserver::sha256Hex(other)},
         503, "Injected",
         [&] {
             (*server)->setFault("PUT", "/filesend/store/",
                                 devserver::Fault::exception(503, "Injected", "Injected fault"));
         }},
        // Those without an answer are looked at once the server has stopped.
        {"a fault dropping the connection", {&alice, uuid, 0, firstRange, other, devserver::sha256Hex(other)}, 0, "",
         [&] { (*server)->setFault("PUT", "/filesend/store/", devserver::Fault::droppedConnection()); }},
        {"a client gone mid-body",
         {&alice, uuid, 0, firstRange, other, devserver::sha256Hex(other), [] {}, true}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.before();
        const auto [status, body] = store(c.attempt);
        (*server)->clearFaults();
        EXPECT_EQ(status, c.status);
        if (status == 0) continue;
        const auto answer = nlohmann::json::parse(body, nullptr, false);
        EXPECT_EQ(answer.is_object() ? answer.value("code", "?") : "<no report>", c.code);
        unchanged();
    }
    // Stopped, it has finished with every connection.
    (*server)->stop();
    EXPECT_EQ(filesUnder(folder), stored);
    std::ifstream in(folder / stored.begin()->c_str(), std::ios::binary);
    EXPECT_TRUE(std::string(std::istreambuf_iterator<char>(in), {}) == kept);
    EXPECT_EQ((*server)->items().find(alice.uuid, uuid)->chunks.size(), 1u);
    server.reset();
    std::filesystem::remove_all(folder);
}

TEST(TransferTreeHash, AgreesWithTheClientsOnEveryShapeOfTree) {
    for (std::size_t count : {0u, 1u, 2u, 3u, 5u, 8u}) {
        std::vector<devserver::Chunk> chunks;
        std::vector<Bytes> leaves;
        for (std::size_t i = 0; i < count; ++i) {
            leaves.push_back(testsupport::oracleRandom(32));
            chunks.push_back({0, 0, toHex(leaves.back())});
        }
        EXPECT_EQ(devserver::treeHashHex(chunks), toHex(TreeHash::compute(leaves))) << count;
    }
    EXPECT_THROW(devserver::treeHashHex({{0, 0, "not hex"}}), std::invalid_argument);
}

}  // namespace
