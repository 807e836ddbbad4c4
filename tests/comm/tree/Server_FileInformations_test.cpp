// The file information answer: what its decoder accepts, and the key chain
// decryptMetadata walks for the user's own file and for a file shared with
// the user, down to the metadata and thumbnail, under keys made by OpenSSL
// and libsodium (support/FileOracle).

#include "tree/Server_FileInformations.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "TreeTestSupport.h"
#include "crypto/CryptoError.h"
#include "crypto/curve25519/Exceptions.h"
#include "json/StrictJson.h"
#include "support/FileOracle.h"

using namespace ostrelcomm;

namespace {

using Info = Server_FileInformations;
using Case = Server_FileInformations::exceptions;
using testsupport::FileOracle;

const std::string kMetadata =
    R"({"name":"Report.pdf","creationDate":"2021-03-04T05:06:07Z","modificationDate":"2022-01-02T03:04:05Z",)"
    R"("fileSize":1234,"mime":"application/pdf","treehash-SHA256":"ab12","filehash-SHA256":"cd34"})";
const Bytes kImage{0x89, 'P', 'N', 'G', 0, 1, 2, 3};

Info decoded(const nlohmann::json& body) { return Info::fromBody(asBytes(body.dump())); }

std::chrono::sys_seconds now() { return std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now()); }

}  // namespace

TEST(Server_FileInformations, DecodesTheBodyItselfStrictly) {
    const FileOracle oracle;
    nlohmann::json body = oracle.ownBody(kMetadata, testsupport::thumbnailText("image/png", kImage));
    body["attrib"] = {"x", "y z"};
    body["fileSize"] = 18446744073709551615u;
    const Info info = decoded(body);
    EXPECT_EQ(info.infos.itemUUID, "F-1");
    EXPECT_EQ(info.infos.parentUUID, "root");
    EXPECT_EQ(info.infos.type, "FILE");
    EXPECT_EQ(info.infos.fileSize, 18446744073709551615u);
    EXPECT_EQ(info.infos.attrib, (std::vector<std::string>{"x", "y z"}));
    EXPECT_EQ(devserver::base64Encode(info.infos.metadata), body["metadata"].get<std::string>());
    ASSERT_TRUE(info.infos.thumbnail);
    EXPECT_EQ(info.infos.itemkey, body["itemkey"].get<std::string>());
    EXPECT_EQ(info.infos.umk, body["umk"].get<std::string>());
    EXPECT_FALSE(info.infos.pubshkey || info.infos.privshkey);
    EXPECT_FALSE(info.fileMetadata);
    EXPECT_FALSE(info.metadataDecrypted());

    // Optional members that are null are absent; the sharing keys decode.
    nlohmann::json shared = oracle.sharedBody(kMetadata, std::nullopt);
    shared["parentUUID"] = nullptr;
    shared["thumbnail"] = nullptr;
    shared["umk"] = nullptr;
    const Info sharedInfo = decoded(shared);
    EXPECT_FALSE(sharedInfo.infos.parentUUID || sharedInfo.infos.thumbnail || sharedInfo.infos.umk);
    EXPECT_EQ(sharedInfo.infos.pubshkey, oracle.ownerPublic());
    EXPECT_EQ(sharedInfo.infos.privshkey, shared["privshkey"].get<std::string>());

    struct Spoil {
        const char* what;
        std::function<void(nlohmann::json&)> change;
    };
    const std::vector<Spoil> spoils = {
        {"no itemUUID", [](nlohmann::json& b) { b.erase("itemUUID"); }},
        {"a null type", [](nlohmann::json& b) { b["type"] = nullptr; }},
        {"no fileSize", [](nlohmann::json& b) { b.erase("fileSize"); }},
        {"a negative size", [](nlohmann::json& b) { b["fileSize"] = -1; }},
        {"a fractional size", [](nlohmann::json& b) { b["fileSize"] = 1.5; }},
        {"a size as text", [](nlohmann::json& b) { b["fileSize"] = "12"; }},
        {"a size past 64 bits", [](nlohmann::json& b) { b["fileSize"] = 18446744073709551616.0; }},
        {"no attrib", [](nlohmann::json& b) { b.erase("attrib"); }},
        {"an attribute that is no text", [](nlohmann::json& b) { b["attrib"] = {1}; }},
        {"no metadata", [](nlohmann::json& b) { b.erase("metadata"); }},
        {"metadata without padding", [](nlohmann::json& b) { b["metadata"] = "AAA"; }},
        {"metadata in the URL alphabet", [](nlohmann::json& b) { b["metadata"] = "-_-_"; }},
        {"a thumbnail with a line break", [](nlohmann::json& b) { b["thumbnail"] = "AAAA\nAAAA"; }},
        {"no itemkey", [](nlohmann::json& b) { b.erase("itemkey"); }},
        {"an itemkey object", [](nlohmann::json& b) { b["itemkey"] = nlohmann::json::parse(b["itemkey"].get<std::string>()); }},
        {"a pubshkey that is not base64", [](nlohmann::json& b) { b["pubshkey"] = "not base64!"; }},
        {"a umk that is no text", [](nlohmann::json& b) { b["umk"] = 7; }},
        {"the record inside another object", [](nlohmann::json& b) { b = {{"infos", b}}; }},
        {"a list", [](nlohmann::json& b) { b = nlohmann::json::array({b}); }},
    };
    for (const auto& spoil : spoils) {
        nlohmann::json spoilt = body;
        spoil.change(spoilt);
        EXPECT_THROW(decoded(spoilt), json::DecodeError) << spoil.what;
    }
    EXPECT_THROW(Info::fromBody(asBytes("{")), json::DecodeError);
}

TEST(Server_FileInformations, TheErrorCasesKeepTheirOrder) {
    EXPECT_EQ(Info::FileInformationsError(Case::unableToDecryptUK).code(), 0);
    EXPECT_EQ(Info::FileInformationsError(Case::ownerPublicKeyNotPresent).code(), 1);
    EXPECT_EQ(Info::FileInformationsError(Case::userPrivateKeyNotPresent).code(), 2);
    EXPECT_EQ(Info::FileInformationsError(Case::unableToDecryptUserPrivateKey).code(), 3);
    EXPECT_STREQ(Info::FileInformationsError(Case::ownerPublicKeyNotPresent).what(), "ownerPublicKeyNotPresent");
}

// Which key path decryptMetadata takes and how each way out of it ends.
TEST(Server_FileInformations, DecryptMetadataWalksTheOwnOrTheSharedKeyChain) {
    const FileOracle oracle;
    const std::string thumbnail = testsupport::thumbnailText("image/png", kImage);
    enum class End { metadata, ownError, sharedError, derivationError };
    struct Row {
        const char* what;
        nlohmann::json body;
        End end;
        Case error = Case::unableToDecryptUK;
        // Absent: the oracle's password key.
        std::optional<Bytes> password;
    };
    nlohmann::json both = oracle.ownBody(kMetadata, thumbnail);
    // Sharing keys that would fail: the own path does not look at them.
    both["pubshkey"] = devserver::base64Encode(Bytes(31, 1));
    both["privshkey"] = "not a wrapped key";
    nlohmann::json none = oracle.sharedBody(kMetadata, thumbnail);
    none.erase("pubshkey");
    none.erase("privshkey");
    nlohmann::json onlyPublic = oracle.sharedBody(kMetadata, thumbnail);
    onlyPublic.erase("privshkey");
    nlohmann::json onlyPrivate = oracle.sharedBody(kMetadata, thumbnail);
    onlyPrivate.erase("pubshkey");
    nlohmann::json shortPublic = oracle.sharedBody(kMetadata, thumbnail);
    const Bytes ownerPublic = oracle.ownerPublic();
    shortPublic["pubshkey"] = devserver::base64Encode(Bytes(ownerPublic.begin(), ownerPublic.end() - 1));
    nlohmann::json foreignItemKey = oracle.ownBody(kMetadata, thumbnail);
    foreignItemKey["itemkey"] = testsupport::oracleWrap(oracle.fileKey, testsupport::oracleRandom(32));
    nlohmann::json foreignShare = oracle.sharedBody(kMetadata, thumbnail);
    foreignShare["itemkey"] = testsupport::oracleWrap(oracle.fileKey, testsupport::oracleRandom(32));
    nlohmann::json shortFileKey = oracle.ownBody(kMetadata, thumbnail);
    shortFileKey["itemkey"] = testsupport::oracleWrap(testsupport::oracleRandom(40), Bytes(oracle.umk.begin() + 16, oracle.umk.end()));

    const std::vector<Row> rows = {
        {"own", oracle.ownBody(kMetadata, thumbnail), End::metadata},
        {"own, beside both sharing keys", both, End::metadata},
        {"shared", oracle.sharedBody(kMetadata, thumbnail), End::metadata},
        {"none of the three keys", none, End::sharedError, Case::ownerPublicKeyNotPresent},
        {"only the public key", onlyPublic, End::sharedError, Case::userPrivateKeyNotPresent},
        {"only the private key", onlyPrivate, End::sharedError, Case::ownerPublicKeyNotPresent},
        {"own, another password", oracle.ownBody(kMetadata, thumbnail), End::ownError, Case::unableToDecryptUK,
         testsupport::oraclePasswordKey("another password")},
        {"shared, another password", oracle.sharedBody(kMetadata, thumbnail), End::sharedError,
         Case::unableToDecryptUserPrivateKey, testsupport::oraclePasswordKey("another password")},
        {"a 31-byte public key", shortPublic, End::derivationError},
        {"own, the file key under another key", foreignItemKey, End::ownError},
        {"shared, the file key under another key", foreignShare, End::ownError},
        {"own, a file key of 40 bytes", shortFileKey, End::ownError},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Info info = decoded(row.body);
        const Bytes password = row.password.value_or(oracle.passwordKey);
        switch (row.end) {
            case End::metadata: {
                const EncryptionKey key = info.decryptMetadata(password);
                EXPECT_EQ(key.key.iv.copyOut(), Bytes(oracle.fileKey.begin(), oracle.fileKey.begin() + 16));
                EXPECT_EQ(key.key.key.copyOut(), oracle.fileKeyBytes());
                EXPECT_TRUE(info.metadataDecrypted());
                ASSERT_TRUE(info.fileMetadata);
                EXPECT_EQ(info.fileMetadata->name, "Report.pdf");
                EXPECT_EQ(info.fileMetadata->thumbnail, kImage);
                continue;
            }
            case End::sharedError:
                try {
                    info.decryptMetadata(password);
                    ADD_FAILURE() << "no error";
                } catch (const Info::FileInformationsError& error) {
                    EXPECT_EQ(error.errorCase(), row.error);
                }
                break;
            case End::ownError:
                // The unwrap's own error, passed on: never one of the answer's cases.
                try {
                    info.decryptMetadata(password);
                    ADD_FAILURE() << "no error";
                } catch (const Info::FileInformationsError& error) {
                    ADD_FAILURE() << error.what();
                } catch (const CryptoError&) {
                } catch (const KeyDecodeError&) {
                }
                break;
            case End::derivationError:
                EXPECT_THROW(info.decryptMetadata(password), Exceptions);
                break;
        }
        EXPECT_FALSE(info.fileMetadata);
        EXPECT_FALSE(info.metadataDecrypted());
    }
}

// Past the file key nothing fails: unreadable metadata or thumbnail gives
// the placeholder, and the key still comes back.
TEST(Server_FileInformations, TheThumbnailJoinsTheMetadataAndWhatDoesNotOpenGivesThePlaceholder) {
    const FileOracle oracle;
    const std::string thumbnail = testsupport::thumbnailText("image/png", kImage);
    nlohmann::json ownThumbnail = nlohmann::json::parse(kMetadata);
    ownThumbnail["thumbnailmime"] = "image/gif";
    ownThumbnail["thumbnail"] = "R0lG";
    nlohmann::json fractional = nlohmann::json::parse(kMetadata);
    fractional["creationDate"] = "2021-03-04T05:06:07.250Z";

    struct Row {
        const char* what;
        nlohmann::json body;
        bool placeholder;
        std::optional<std::string> mime;
        std::optional<Bytes> image;
    };
    nlohmann::json foreignMetadata = oracle.ownBody(kMetadata, thumbnail);
    foreignMetadata["metadata"] = devserver::base64Encode(testsupport::oracleSeal(testsupport::oracleRandom(32), toBytes(kMetadata)));
    nlohmann::json shortMetadata = oracle.ownBody(kMetadata, std::nullopt);
    shortMetadata["metadata"] = devserver::base64Encode(Bytes(15, 1));
    nlohmann::json foreignThumbnail = oracle.ownBody(kMetadata, std::nullopt);
    foreignThumbnail["thumbnail"] = devserver::base64Encode(testsupport::oracleSeal(testsupport::oracleRandom(32), toBytes(thumbnail)));
    nlohmann::json mimeOnlyThumbnail = oracle.ownBody(kMetadata, R"({"thumbnail":"AAAA"})");
    // Not looked at when the metadata names its own thumbnail.
    nlohmann::json ownAndForeign = oracle.ownBody(ownThumbnail.dump(), std::nullopt);
    ownAndForeign["thumbnail"] = devserver::base64Encode(Bytes(16, 0));

    const std::vector<Row> rows = {
        {"a separate thumbnail", oracle.ownBody(kMetadata, thumbnail), false, "image/png", kImage},
        {"no thumbnail", oracle.ownBody(kMetadata, std::nullopt), false, std::nullopt, std::nullopt},
        {"a thumbnail inside the metadata", ownAndForeign, false, "image/gif", Bytes{'G', 'I', 'F'}},
        {"shared, a separate thumbnail", oracle.sharedBody(kMetadata, thumbnail), false, "image/png", kImage},
        {"metadata under another key", foreignMetadata, true, std::nullopt, std::nullopt},
        {"metadata shorter than an IV", shortMetadata, true, std::nullopt, std::nullopt},
        {"metadata with a fractional date", oracle.ownBody(fractional.dump(), thumbnail), true, std::nullopt,
         std::nullopt},
        {"a thumbnail under another key", foreignThumbnail, true, std::nullopt, std::nullopt},
        {"a thumbnail without its type", mimeOnlyThumbnail, true, std::nullopt, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Info info = decoded(row.body);
        const auto before = now();
        const EncryptionKey key = info.decryptMetadata(oracle.passwordKey);
        EXPECT_EQ(key.key.key.copyOut(), oracle.fileKeyBytes());
        ASSERT_TRUE(info.fileMetadata);
        const RemoteItemMetadata& metadata = *info.fileMetadata;
        EXPECT_EQ(info.metadataDecrypted(), !row.placeholder);
        if (row.placeholder) {
            EXPECT_EQ(metadata.name, RemoteItemMetadata::kInvalidMetadataName);
            EXPECT_GE(metadata.creationDate, before);
            EXPECT_LE(metadata.modificationDate, now());
            EXPECT_FALSE(metadata.fileSize || metadata.mime || metadata.thumbnail || metadata.thumbnailmime ||
                         metadata.treehash || metadata.clearFileHash);
            continue;
        }
        EXPECT_EQ(metadata.name, "Report.pdf");
        EXPECT_EQ(metadata.creationDate, treetest::date(2021, 3, 4, 5, 6, 7));
        EXPECT_EQ(metadata.modificationDate, treetest::date(2022, 1, 2, 3, 4, 5));
        EXPECT_EQ(metadata.fileSize, 1234);
        EXPECT_EQ(metadata.mime, "application/pdf");
        EXPECT_EQ(metadata.treehash, "ab12");
        EXPECT_EQ(metadata.clearFileHash, "cd34");
        EXPECT_EQ(metadata.thumbnailmime, row.mime);
        EXPECT_EQ(metadata.thumbnail, row.image);
    }
}
