// The bad inputs of the two sealed records, metadata and thumbnail, in one
// table: each must give the record's own error, never a value, another
// exception or a crash.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "TreeTestSupport.h"
#include "tree/RemoteItemMetadata.h"
#include "tree/RemoteItemThumbnail.h"

using namespace ostrelcomm;
using treetest::cliSeal;
using treetest::itemKey;

namespace {

enum class Outcome { value, unableToEncrypt, unableToDecrypt, invalid, other };

const char* describe(Outcome o) {
    switch (o) {
        case Outcome::value: return "a value";
        case Outcome::unableToEncrypt: return "unableToEncrypt";
        case Outcome::unableToDecrypt: return "unableToDecrypt";
        case Outcome::invalid: return "invalid";
        case Outcome::other: return "another exception";
    }
    return "";
}

template <class Error, class Case>
Outcome outcomeOf(const std::function<void()>& run, Case encrypt, Case decrypt, Case invalid) {
    try {
        run();
        return Outcome::value;
    } catch (const Error& e) {
        if (e.errorCase() == encrypt) return Outcome::unableToEncrypt;
        if (e.errorCase() == decrypt) return Outcome::unableToDecrypt;
        if (e.errorCase() == invalid) return Outcome::invalid;
    } catch (...) {
    }
    return Outcome::other;
}

// One sealed record as the table sees it.
struct Record {
    const char* name;
    std::function<Outcome(const Bytes& sealed, const EncryptionKey& key)> decrypt;
    std::function<Outcome(const EncryptionKey& key, CipherAlgorithm algorithm)> encrypt;
    std::string validClear;
    std::vector<std::string> invalidClear;
};

std::vector<Record> records() {
    using M = RemoteItemMetadata;
    using T = RemoteItemThumbnail;
    const std::string d = R"("creationDate":"2021-03-04T05:06:07Z","modificationDate":"2021-03-04T05:06:07Z")";
    return {
        Record{"metadata",
               [](const Bytes& sealed, const EncryptionKey& key) {
                   return outcomeOf<M::MetadataError>([&] { (void)M::decrypt(sealed, key); },
                                                      M::exceptions::unableToEncryptMetadata,
                                                      M::exceptions::unableToDecryptMetadata,
                                                      M::exceptions::invalidMetadata);
               },
               [](const EncryptionKey& key, CipherAlgorithm algorithm) {
                   const M record("n", treetest::date(2021, 1, 1), treetest::date(2021, 1, 1));
                   return outcomeOf<M::MetadataError>([&] { (void)M::encrypt(record, key, algorithm); },
                                                      M::exceptions::unableToEncryptMetadata,
                                                      M::exceptions::unableToDecryptMetadata,
                                                      M::exceptions::invalidMetadata);
               },
               R"({"name":"n",)" + d + "}",
               {
                   "{" + d + "}",
                   R"({"name":"n","creationDate":"2021-03-04T05:06:07Z"})",
                   R"({"name":"n","modificationDate":"2021-03-04T05:06:07Z"})",
                   R"({"name":null,)" + d + "}",
                   R"({"name":"n","creationDate":"2021-03-04T05:06:07.5Z","modificationDate":"2021-03-04T05:06:07Z"})",
                   R"({"name":"n","creationDate":"2021-03-04","modificationDate":"2021-03-04T05:06:07Z"})",
                   R"({"name":"n",)" + d + R"(,"fileSize":1.5})",
                   R"({"name":"n",)" + d + R"(,"fileSize":"12"})",
                   R"({"name":"n",)" + d + R"(,"fileSize":9223372036854775808})",
                   R"({"name":"n",)" + d + R"(,"isPackage":"yes"})",
                   R"({"name":"n",)" + d + R"(,"thumbnail":"Zg="})",
                   R"({"name":7,)" + d + "}",
                   R"([{"name":"n",)" + d + "}]",
                   "not JSON",
                   "",
               }},
        Record{"thumbnail",
               [](const Bytes& sealed, const EncryptionKey& key) {
                   return outcomeOf<T::ThumbnailError>([&] { (void)T::decrypt(sealed, key); },
                                                       T::exceptions::unableToEncryptThumbnail,
                                                       T::exceptions::unableToDecryptThumbnail,
                                                       T::exceptions::invalidThumbnail);
               },
               [](const EncryptionKey& key, CipherAlgorithm algorithm) {
                   return outcomeOf<T::ThumbnailError>(
                       [&] { (void)T::encrypt(T("image/jpeg", Bytes{1}), key, algorithm); },
                       T::exceptions::unableToEncryptThumbnail, T::exceptions::unableToDecryptThumbnail,
                       T::exceptions::invalidThumbnail);
               },
               R"({"thumbnailmime":"image/jpeg","thumbnail":"Zm9v"})",
               {
                   R"({"thumbnail":"Zm9v"})",
                   R"({"thumbnailmime":"image/jpeg"})",
                   R"({"thumbnailmime":"image/jpeg","thumbnail":null})",
                   R"({"thumbnailmime":"image/jpeg","thumbnail":"Zg="})",
                   R"({"thumbnailmime":"image/jpeg","thumbnail":"Zm9v\n"})",
                   R"({"thumbnailmime":1,"thumbnail":"Zm9v"})",
                   R"(["image/jpeg","Zm9v"])",
                   "not JSON",
               }},
    };
}

const Bytes kKey = testsupport::oracleRandom(32);

}  // namespace

TEST(SealedRecordErrors, ShortAndPartialFormsDoNotDecrypt) {
    for (const auto& record : records()) {
        // An IV cut short, an IV alone, and partial blocks behind it.
        for (std::size_t length : {0u, 1u, 15u, 16u, 17u, 31u}) {
            const Outcome o = record.decrypt(testsupport::oracleRandom(length), itemKey(kKey));
            EXPECT_EQ(o, Outcome::unableToDecrypt) << record.name << " " << length << ": " << describe(o);
        }
    }
}

TEST(SealedRecordErrors, WrongKeysNeverGiveAValue) {
    for (const auto& record : records()) {
        const Bytes sealed = cliSeal(kKey, record.validClear);
        ASSERT_EQ(record.decrypt(sealed, itemKey(kKey)), Outcome::value) << record.name;
        // The key object's IV plays no part: the right key bytes with another IV read.
        EXPECT_EQ(record.decrypt(sealed, itemKey(kKey, testsupport::oracleRandom(16))), Outcome::value);
        for (int i = 0; i < 1000; ++i) {
            const Outcome o = record.decrypt(sealed, itemKey(testsupport::oracleRandom(32)));
            EXPECT_TRUE(o == Outcome::unableToDecrypt || o == Outcome::invalid) << record.name << ": " << describe(o);
        }
    }
}

TEST(SealedRecordErrors, ClearFormsThatAreNotTheRecord) {
    for (const auto& record : records()) {
        for (const auto& clear : record.invalidClear) {
            const Outcome o = record.decrypt(cliSeal(kKey, clear), itemKey(kKey));
            EXPECT_EQ(o, Outcome::invalid) << record.name << " " << clear << ": " << describe(o);
        }
    }
}

TEST(SealedRecordErrors, KeysThatCannotSeal) {
    for (const auto& record : records()) {
        // Key bytes of another length would pick a weaker AES in the cipher.
        for (std::size_t length : {0u, 16u, 24u, 48u}) {
            const Outcome o = record.encrypt(itemKey(Bytes(length, 3)), CipherAlgorithm::aes256);
            EXPECT_EQ(o, Outcome::unableToEncrypt) << record.name << " " << length << ": " << describe(o);
            const Outcome d = record.decrypt(cliSeal(kKey, record.validClear), itemKey(Bytes(length, 3)));
            EXPECT_EQ(d, Outcome::unableToDecrypt) << record.name << " " << length << ": " << describe(d);
        }
        EXPECT_EQ(record.encrypt(itemKey(kKey), CipherAlgorithm::blowfish), Outcome::unableToEncrypt) << record.name;
        EXPECT_EQ(record.encrypt(itemKey(kKey), CipherAlgorithm::aes), Outcome::value) << record.name;
    }
}
