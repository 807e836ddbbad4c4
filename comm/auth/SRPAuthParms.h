#pragma once

#include <exception>
#include <string>
#include <string_view>

#include "crypto/Digest.h"
#include "platform/Bytes.h"
#include "srp/Group.h"

namespace ostrelcomm {

// The SRP parameters of an account: the group and the digest. The server
// sends them at login as the JSON text {"group", "digestAlgo"}; account
// creation and password change send the text of the parameters they used.
class SRPAuthParms {
public:
    // A parameter text naming a group or a digest that the client does not
    // handle. Carries its case and a message.
    class SRPAuthParmsExceptions : public std::exception {
    public:
        enum class Case { unhandledGroup, unhandledDigestAlgorythm };

        explicit SRPAuthParmsExceptions(Case errorCase);

        Case errorCase() const noexcept { return case_; }
        const std::string& message() const noexcept { return message_; }
        const char* what() const noexcept override { return message_.c_str(); }

    private:
        Case case_;
        std::string message_;
    };

    SRPAuthParms(SRP::Group group, DigestAlgorithm digestAlgo);

    SRP::Group group;
    DigestAlgorithm digestAlgo;

    // The JSON text {"group": name, "digestAlgo": name}. A custom group is
    // written as "Custom", which decode refuses.
    Bytes encode() const;

    // Reads the JSON text (json::DecodeError when it is not a JSON object with
    // both members as strings), then maps the group name and after it the
    // digest name, exactly, letter case included. Throws
    // SRPAuthParmsExceptions: unhandledGroup for "Custom" or an unknown group
    // (checked first), unhandledDigestAlgorythm for an unknown digest.
    static SRPAuthParms decode(std::string_view text);
};

}  // namespace ostrelcomm
