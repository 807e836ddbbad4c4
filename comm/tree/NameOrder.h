#pragma once

#include <string>
#include <string_view>

namespace ostrelcomm {

// The order of item names, remote and local alike: canonically equivalent
// names are equal, others compare by the Unicode scalar values of their NFC
// forms, with no case folding and no locale ("B" before "a"). A bad UTF-8
// sequence reads as U+FFFD.
//
// The key is the UTF-8 of the name's NFC form; keys compare as unsigned bytes
// (std::string's operator<), which for UTF-8 is the order of the scalar
// values. Work one key out per name and compare the keys, not the names.
std::string nameOrderKey(std::string_view name);

}  // namespace ostrelcomm
