// The copy preparation answer and the copy's body: what the decoder accepts,
// the key path decryptFileKey takes by the sharing keys alone, under keys
// made by OpenSSL and libsodium (support/FileOracle), and the progress record
// of a folder copy read back from a userInfo.

#include "tree/Server_CopyPrepare.h"

#include <gtest/gtest.h>

#include <any>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "crypto/CryptoError.h"
#include "devserver/Base64.h"
#include "json/StrictJson.h"
#include "support/FileOracle.h"
#include "tree/CopyProgressData.h"
#include "tree/TreeNotifications.h"

using namespace ostrelcomm;

namespace {

using Prepare = Server_CopyPrepare;
using Case = Server_CopyPrepare::exceptions;
using testsupport::FileOracle;

Prepare decoded(const nlohmann::json& body) { return Prepare::fromBody(asBytes(body.dump())); }

// The prepare answer as the server sends it: the item key under the user
// master key for an own file, under the shared key (with both sharing keys
// and the user's master key) for a shared one.
nlohmann::json ownAnswer(const FileOracle& o) {
    return {{"itemUUID", "F-1"}, {"fileSize", 4321}, {"itemkey", o.ownItemKey()}, {"umk", o.wrappedUmk()}};
}
nlohmann::json sharedAnswer(const FileOracle& o) {
    return {{"itemUUID", "F-1"},
            {"fileSize", 4321},
            {"itemkey", o.sharedItemKey()},
            {"umk", o.wrappedUmk()},
            {"pubshkey", devserver::base64Encode(o.ownerPublic())},
            {"privshkey", o.wrappedReaderPrivate()}};
}

}  // namespace

TEST(Server_CopyPrepare, DecodesTheBodyItselfStrictly) {
    const FileOracle oracle;
    nlohmann::json body = sharedAnswer(oracle);
    body["fileSize"] = 18446744073709551615u;
    const Prepare answer = decoded(body);
    EXPECT_EQ(answer.infos.itemUUID, "F-1");
    EXPECT_EQ(answer.infos.fileSize, 18446744073709551615u);
    EXPECT_EQ(answer.infos.itemkey, body["itemkey"].get<std::string>());
    EXPECT_EQ(answer.infos.umk, body["umk"].get<std::string>());
    EXPECT_EQ(answer.infos.pubshkey, oracle.ownerPublic());
    EXPECT_EQ(answer.infos.privshkey, body["privshkey"].get<std::string>());

    nlohmann::json nulls = ownAnswer(oracle);
    nulls["umk"] = nullptr;
    nulls["pubshkey"] = nullptr;
    const Prepare bare = decoded(nulls);
    EXPECT_FALSE(bare.infos.umk || bare.infos.pubshkey || bare.infos.privshkey);

    const std::vector<std::pair<const char*, std::function<void(nlohmann::json&)>>> spoils = {
        {"no itemUUID", [](nlohmann::json& b) { b.erase("itemUUID"); }},
        {"no fileSize", [](nlohmann::json& b) { b.erase("fileSize"); }},
        {"a negative size", [](nlohmann::json& b) { b["fileSize"] = -1; }},
        {"a fractional size", [](nlohmann::json& b) { b["fileSize"] = 1.5; }},
        {"no itemkey", [](nlohmann::json& b) { b.erase("itemkey"); }},
        {"an itemkey object", [](nlohmann::json& b) { b["itemkey"] = nlohmann::json::object(); }},
        {"a pubshkey that is not base64", [](nlohmann::json& b) { b["pubshkey"] = "not base64!"; }},
        {"a list", [](nlohmann::json& b) { b = nlohmann::json::array({b}); }},
    };
    for (const auto& [what, spoil] : spoils) {
        nlohmann::json spoilt = body;
        spoil(spoilt);
        EXPECT_THROW(decoded(spoilt), json::DecodeError) << what;
    }
}

TEST(Server_CopyPrepare, TheErrorCasesKeepTheirOrder) {
    EXPECT_EQ(Prepare::CopyPrepareError(Case::unableToDecryptUK).code(), 0);
    EXPECT_EQ(Prepare::CopyPrepareError(Case::ownerPublicKeyNotPresent).code(), 1);
    EXPECT_EQ(Prepare::CopyPrepareError(Case::userPrivateKeyNotPresent).code(), 2);
    EXPECT_EQ(Prepare::CopyPrepareError(Case::unableToDecryptUserPrivateKey).code(), 3);
}

// The path is chosen by "pubshkey" and "privshkey", never by "umk".
TEST(Server_CopyPrepare, DecryptFileKeyTakesThePathTheSharingKeysName) {
    const FileOracle oracle;
    enum class End { fileKey, answerError, keyError };
    struct Row {
        const char* what;
        nlohmann::json body;
        End end;
        Case error = Case::unableToDecryptUK;
        std::optional<Bytes> password;
    };
    nlohmann::json ownNoUmk = ownAnswer(oracle);
    ownNoUmk.erase("umk");
    nlohmann::json onlyPrivate = sharedAnswer(oracle);
    onlyPrivate.erase("pubshkey");
    nlohmann::json onlyPublic = sharedAnswer(oracle);
    onlyPublic.erase("privshkey");
    nlohmann::json sharedNoUmk = sharedAnswer(oracle);
    sharedNoUmk.erase("umk");
    // An own item key beside both sharing keys: the shared path is taken
    // and the key does not unwrap under the shared key.
    nlohmann::json ownKeyBesideSharing = sharedAnswer(oracle);
    ownKeyBesideSharing["itemkey"] = oracle.ownItemKey();
    nlohmann::json shortFileKey = ownAnswer(oracle);
    shortFileKey["itemkey"] = testsupport::oracleWrap(testsupport::oracleRandom(40),
                                                      Bytes(oracle.umk.begin() + 16, oracle.umk.end()));
    nlohmann::json shortPublic = sharedAnswer(oracle);
    const Bytes ownerPublic = oracle.ownerPublic();
    shortPublic["pubshkey"] = devserver::base64Encode(Bytes(ownerPublic.begin(), ownerPublic.end() - 1));
    const Bytes otherPassword = testsupport::oraclePasswordKey("another password");

    const std::vector<Row> rows = {
        {"own", ownAnswer(oracle), End::fileKey},
        {"shared, with the user's umk", sharedAnswer(oracle), End::fileKey},
        {"shared, without umk", sharedNoUmk, End::fileKey},
        {"own, without umk", ownNoUmk, End::answerError, Case::unableToDecryptUserPrivateKey},
        {"only privshkey", onlyPrivate, End::answerError, Case::ownerPublicKeyNotPresent},
        {"only pubshkey", onlyPublic, End::answerError, Case::userPrivateKeyNotPresent},
        {"shared, another password", sharedAnswer(oracle), End::answerError, Case::unableToDecryptUserPrivateKey,
         otherPassword},
        {"own, another password", ownAnswer(oracle), End::keyError, Case::unableToDecryptUK, otherPassword},
        {"an own item key beside both sharing keys", ownKeyBesideSharing, End::keyError},
        {"a file key of 40 bytes", shortFileKey, End::keyError},
        {"a 31-byte public key", shortPublic, End::keyError},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const Prepare answer = decoded(row.body);
        const Bytes password = row.password.value_or(oracle.passwordKey);
        switch (row.end) {
            case End::fileKey: {
                const EncryptionKey key = answer.decryptFileKey(password);
                EXPECT_EQ(key.key.iv.copyOut(), Bytes(oracle.fileKey.begin(), oracle.fileKey.begin() + 16));
                EXPECT_EQ(key.key.key.copyOut(), oracle.fileKeyBytes());
                break;
            }
            case End::answerError:
                try {
                    answer.decryptFileKey(password);
                    ADD_FAILURE() << "no error";
                } catch (const Prepare::CopyPrepareError& error) {
                    EXPECT_EQ(error.errorCase(), row.error);
                }
                break;
            case End::keyError:
                try {
                    answer.decryptFileKey(password);
                    ADD_FAILURE() << "no error";
                } catch (const Prepare::CopyPrepareError& error) {
                    ADD_FAILURE() << error.what();
                } catch (const std::exception&) {
                }
                break;
        }
    }

    // The user master key itself, which the copy's key goes under.
    const EncryptionKey umk = decoded(sharedAnswer(oracle)).decryptUserKey(oracle.passwordKey);
    EXPECT_EQ(umk.key.key.copyOut(), Bytes(oracle.umk.begin() + 16, oracle.umk.end()));
    try {
        decoded(sharedNoUmk).decryptUserKey(oracle.passwordKey);
        ADD_FAILURE() << "no error";
    } catch (const Prepare::CopyPrepareError& error) {
        EXPECT_EQ(error.errorCase(), Case::unableToDecryptUserPrivateKey);
    }
}

TEST(CopyExecuteData, EncodesExactlyItsTwoKeysInOrder) {
    const CopyExecuteData data{"D-1", R"({"iv":"AA==","key":"BB=="})"};
    const Bytes encoded = data.encode();
    EXPECT_EQ(std::string(encoded.begin(), encoded.end()),
              R"({"parentUUID":"D-1","itemkey":"{\"iv\":\"AA==\",\"key\":\"BB==\"}"})");
    const CopyExecuteData back = CopyExecuteData::decode(encoded);
    EXPECT_EQ(back.parentUUID, "D-1");
    EXPECT_EQ(back.itemkey, data.itemkey);
    const std::string noKey = R"({"parentUUID":"D-1"})";
    EXPECT_THROW(CopyExecuteData::decode(asBytes(noKey)), json::DecodeError);
}

TEST(CopyProgressData, ReadsEachCountFromAUserInfoOrZero) {
    struct Row {
        const char* what;
        UserInfo userInfo;
        std::int64_t copied;
        std::int64_t total;
    };
    const std::vector<Row> rows = {
        {"its own notification data", CopyProgressData(3, 5).getNotificationData(), 3, 5},
        {"plain ints", {{tree::kCopiedKey, 2}, {tree::kTotalKey, 9}}, 2, 9},
        {"no total", {{tree::kCopiedKey, std::int64_t{4}}}, 4, 0},
        {"a total that is text", {{tree::kCopiedKey, std::int64_t{1}}, {tree::kTotalKey, std::string("5")}}, 1, 0},
        {"a null copied", {{tree::kCopiedKey, NullObject{}}, {tree::kTotalKey, std::int64_t{7}}}, 0, 7},
        {"nothing", {}, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const CopyProgressData progress(row.userInfo);
        EXPECT_EQ(progress.getCopied(), row.copied);
        EXPECT_EQ(progress.getTotal(), row.total);
    }
    const UserInfo posted = CopyProgressData(1, 2).getNotificationData();
    EXPECT_EQ(posted.size(), 2u);
    ASSERT_TRUE(userInfoValue<std::int64_t>(posted, tree::kTotalKey));
    EXPECT_EQ(*userInfoValue<std::int64_t>(posted, tree::kTotalKey), 2);
}
