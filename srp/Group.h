#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/Bytes.h"
#include "srp/BigInt.h"

namespace ostrelcomm::SRP {

// The prime N and generator g of an SRP computation: one of the groups of
// RFC 5054 (Appendix A), named by their size in bits, or a custom pair.
// A cheap value: the numbers are shared, never copied.
class Group {
public:
    enum class Case { custom, N1024, N2048, N1536, N3072, N4096, N6144, N8192 };

    struct CustomGroup {
        BigInt N;
        BigInt g;
    };

    static Group N1024();
    static Group N2048();
    static Group N1536();
    static Group N3072();
    static Group N4096();
    static Group N6144();
    static Group N8192();
    // A named group; std::invalid_argument for Case::custom.
    static Group named(Case groupCase);
    static Group custom(CustomGroup group);
    // A custom group from two hexadecimal texts; absent when either is not
    // hexadecimal.
    static std::optional<Group> make(std::string_view prime, std::string_view generator);

    Case groupCase() const { return case_; }
    const BigInt& N() const;
    const BigInt& g() const;
    // N and g in their minimal big-endian forms, and N's length in bytes (the
    // length every padded value takes).
    const Bytes& NBytes() const;
    const Bytes& gBytes() const;
    std::size_t size() const { return NBytes().size(); }

    // Named groups compare by case, custom groups by their numbers.
    friend bool operator==(const Group& a, const Group& b);

    struct Numbers;

private:
    Group(Case groupCase, std::shared_ptr<const Numbers> numbers);

    Case case_;
    std::shared_ptr<const Numbers> numbers_;
};

}  // namespace ostrelcomm::SRP
