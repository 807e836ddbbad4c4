#include "support/FileOracle.h"

#include <sodium.h>

#include "devserver/Base64.h"

namespace testsupport {

namespace {

nlohmann::json baseBody(const FileOracle& oracle, const std::string& metadata,
                        const std::optional<std::string>& thumbnail) {
    nlohmann::json body = {{"itemUUID", "F-1"},
                           {"parentUUID", "root"},
                           {"type", "FILE"},
                           {"fileSize", 1234},
                           {"attrib", nlohmann::json::array()},
                           {"metadata", devserver::base64Encode(oracle.seal(metadata))}};
    if (thumbnail) body["thumbnail"] = devserver::base64Encode(oracle.seal(*thumbnail));
    return body;
}

}  // namespace

Bytes oracleSharedKey(const Bytes& peerPublic, const Bytes& ownPrivate) {
    Bytes out(crypto_box_BEFORENMBYTES);
    if (sodium_init() < 0 || peerPublic.size() != crypto_box_PUBLICKEYBYTES ||
        ownPrivate.size() != crypto_box_SECRETKEYBYTES ||
        crypto_box_beforenm(out.data(), peerPublic.data(), ownPrivate.data()) != 0)
        return {};
    return out;
}

std::string thumbnailText(const std::string& mime, const Bytes& image) {
    return nlohmann::json{{"thumbnailmime", mime}, {"thumbnail", devserver::base64Encode(image)}}.dump();
}

std::string FileOracle::wrappedReaderPrivate() const {
    Bytes carrier = oracleRandom(16);
    carrier.insert(carrier.end(), readerPrivate.begin(), readerPrivate.end());
    return oracleWrap(carrier, passwordKey);
}

std::optional<std::string> FileOracle::open(const Bytes& sealed) const {
    auto clear = oracleOpen(fileKeyBytes(), sealed);
    if (!clear) return std::nullopt;
    return ostrelcomm::toText(*clear);
}

nlohmann::json FileOracle::ownBody(const std::string& metadata, const std::optional<std::string>& thumbnail) const {
    nlohmann::json body = baseBody(*this, metadata, thumbnail);
    body["itemkey"] = ownItemKey();
    body["umk"] = wrappedUmk();
    return body;
}

nlohmann::json FileOracle::sharedBody(const std::string& metadata,
                                      const std::optional<std::string>& thumbnail) const {
    nlohmann::json body = baseBody(*this, metadata, thumbnail);
    body["itemkey"] = sharedItemKey();
    body["pubshkey"] = devserver::base64Encode(ownerPublic());
    body["privshkey"] = wrappedReaderPrivate();
    return body;
}

}  // namespace testsupport
