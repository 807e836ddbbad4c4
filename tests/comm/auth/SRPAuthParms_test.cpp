#include <gtest/gtest.h>

#include <string>

#include "auth/SRPAuthParms.h"
#include "json/StrictJson.h"

using namespace ostrelcomm;

namespace {

using Parms = SRPAuthParms;
using Case = SRPAuthParms::SRPAuthParmsExceptions::Case;

std::string text(const Bytes& bytes) { return toText(bytes); }

TEST(SRPAuthParms, DefaultParametersEncodeAsTheServerExpects) {
    const Parms defaults(SRP::Group::N2048(), DigestAlgorithm::sha256);
    EXPECT_EQ(text(defaults.encode()), R"({"group":"N2048","digestAlgo":"sha256"})");
    const Parms back = Parms::decode(text(defaults.encode()));
    EXPECT_TRUE(back.group == SRP::Group::N2048());
    EXPECT_EQ(back.digestAlgo, DigestAlgorithm::sha256);
}

TEST(SRPAuthParms, EveryNamedGroupAndDigestRoundTrips) {
    const struct {
        SRP::Group group;
        const char* name;
    } groups[] = {
        {SRP::Group::N1024(), "N1024"}, {SRP::Group::N1536(), "N1536"}, {SRP::Group::N2048(), "N2048"},
        {SRP::Group::N3072(), "N3072"}, {SRP::Group::N4096(), "N4096"}, {SRP::Group::N6144(), "N6144"},
        {SRP::Group::N8192(), "N8192"},
    };
    const struct {
        DigestAlgorithm algorithm;
        const char* name;
    } digests[] = {
        {DigestAlgorithm::md2, "md2"},       {DigestAlgorithm::md4, "md4"},       {DigestAlgorithm::md5, "md5"},
        {DigestAlgorithm::sha1, "sha1"},     {DigestAlgorithm::sha224, "sha224"}, {DigestAlgorithm::sha256, "sha256"},
        {DigestAlgorithm::sha384, "sha384"}, {DigestAlgorithm::sha512, "sha512"},
    };
    for (const auto& g : groups) {
        for (const auto& d : digests) {
            SCOPED_TRACE(std::string(g.name) + " " + d.name);
            const std::string encoded = text(Parms(g.group, d.algorithm).encode());
            EXPECT_EQ(encoded, std::string(R"({"group":")") + g.name + R"(","digestAlgo":")" + d.name + R"("})");
            const Parms back = Parms::decode(encoded);
            EXPECT_TRUE(back.group == g.group);
            EXPECT_EQ(back.digestAlgo, d.algorithm);
        }
    }
}

TEST(SRPAuthParms, MembersInAnyOrderAndExtraMembersAreRead) {
    const Parms parms = Parms::decode(R"({"digestAlgo":"sha1","extra":[1],"group":"N1024"})");
    EXPECT_EQ(parms.group.groupCase(), SRP::Group::Case::N1024);
    EXPECT_EQ(parms.digestAlgo, DigestAlgorithm::sha1);
}

TEST(SRPAuthParms, UnhandledNames) {
    const struct {
        const char* text;
        Case expected;
    } cases[] = {
        {R"({"group":"Custom","digestAlgo":"sha256"})", Case::unhandledGroup},
        {R"({"group":"n2048","digestAlgo":"sha256"})", Case::unhandledGroup},
        {R"({"group":"N2048 ","digestAlgo":"sha256"})", Case::unhandledGroup},
        {R"({"group":"","digestAlgo":"sha256"})", Case::unhandledGroup},
        // The group is checked first.
        {R"({"group":"N999","digestAlgo":"sha999"})", Case::unhandledGroup},
        {R"({"group":"N2048","digestAlgo":"SHA256"})", Case::unhandledDigestAlgorythm},
        {R"({"group":"N2048","digestAlgo":"sha3-256"})", Case::unhandledDigestAlgorythm},
        {R"({"group":"N2048","digestAlgo":""})", Case::unhandledDigestAlgorythm},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            Parms::decode(c.text);
            ADD_FAILURE() << "decoded";
        } catch (const SRPAuthParms::SRPAuthParmsExceptions& e) {
            EXPECT_EQ(e.errorCase(), c.expected);
            EXPECT_FALSE(e.message().empty());
        }
    }
}

TEST(SRPAuthParms, CustomGroupIsWrittenButNotReadBack) {
    const Parms custom(*SRP::Group::make("17", "5"), DigestAlgorithm::sha256);
    const std::string encoded = text(custom.encode());
    EXPECT_EQ(encoded, R"({"group":"Custom","digestAlgo":"sha256"})");
    EXPECT_THROW(Parms::decode(encoded), SRPAuthParms::SRPAuthParmsExceptions);
}

TEST(SRPAuthParms, TextThatIsNotTheRecordIsAJsonError) {
    for (const char* bad : {"", "not json", R"({"group":"N2048","digestAlgo":"sha256")", "[]", "null",
                            R"({"group":"N2048"})", R"({"group":null,"digestAlgo":"sha256"})",
                            R"({"group":2048,"digestAlgo":"sha256"})"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(Parms::decode(bad), json::DecodeError);
    }
}

}  // namespace
