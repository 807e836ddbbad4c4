#include "auth/SRPAuthParms.h"

#include <array>
#include <optional>
#include <utility>

#include "json/StrictJson.h"

namespace ostrelcomm {

namespace {

using Exceptions = SRPAuthParms::SRPAuthParmsExceptions;

struct GroupName {
    SRP::Group::Case groupCase;
    const char* name;
};

// In the order decode tries them.
constexpr std::array<GroupName, 7> kGroupNames = {{
    {SRP::Group::Case::N1024, "N1024"},
    {SRP::Group::Case::N1536, "N1536"},
    {SRP::Group::Case::N2048, "N2048"},
    {SRP::Group::Case::N3072, "N3072"},
    {SRP::Group::Case::N4096, "N4096"},
    {SRP::Group::Case::N6144, "N6144"},
    {SRP::Group::Case::N8192, "N8192"},
}};
constexpr const char* kCustomGroupName = "Custom";

struct DigestName {
    DigestAlgorithm algorithm;
    const char* name;
};

constexpr std::array<DigestName, 8> kDigestNames = {{
    {DigestAlgorithm::md2, "md2"},
    {DigestAlgorithm::md4, "md4"},
    {DigestAlgorithm::md5, "md5"},
    {DigestAlgorithm::sha1, "sha1"},
    {DigestAlgorithm::sha224, "sha224"},
    {DigestAlgorithm::sha256, "sha256"},
    {DigestAlgorithm::sha384, "sha384"},
    {DigestAlgorithm::sha512, "sha512"},
}};

const char* groupName(const SRP::Group& group) {
    for (const auto& entry : kGroupNames)
        if (entry.groupCase == group.groupCase()) return entry.name;
    return kCustomGroupName;
}

const char* digestName(DigestAlgorithm algorithm) {
    for (const auto& entry : kDigestNames)
        if (entry.algorithm == algorithm) return entry.name;
    return "";
}

const char* describe(Exceptions::Case errorCase) {
    switch (errorCase) {
        case Exceptions::Case::unhandledGroup: return "unhandled SRP group";
        case Exceptions::Case::unhandledDigestAlgorythm: return "unhandled SRP digest algorithm";
    }
    return "";
}

}  // namespace

SRPAuthParms::SRPAuthParmsExceptions::SRPAuthParmsExceptions(Case errorCase)
    : case_(errorCase), message_(describe(errorCase)) {}

SRPAuthParms::SRPAuthParms(SRP::Group group, DigestAlgorithm digestAlgo)
    : group(std::move(group)), digestAlgo(digestAlgo) {}

Bytes SRPAuthParms::encode() const {
    json::OrderedJson object = json::OrderedJson::object();
    object["group"] = groupName(group);
    object["digestAlgo"] = digestName(digestAlgo);
    return json::dumpBytes(object);
}

SRPAuthParms SRPAuthParms::decode(std::string_view text) {
    const json::Json value = json::parse(text);
    const json::Json& object = json::asObject(value, "SRP parameters");
    const std::string group = json::requireString(object, "group");
    const std::string digest = json::requireString(object, "digestAlgo");

    std::optional<SRP::Group::Case> groupCase;
    for (const auto& entry : kGroupNames)
        if (group == entry.name) groupCase = entry.groupCase;
    if (!groupCase) throw Exceptions(Exceptions::Case::unhandledGroup);

    for (const auto& entry : kDigestNames)
        if (digest == entry.name) return SRPAuthParms(SRP::Group::named(*groupCase), entry.algorithm);
    throw Exceptions(Exceptions::Case::unhandledDigestAlgorythm);
}

}  // namespace ostrelcomm
