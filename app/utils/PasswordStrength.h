#pragma once

#include <QString>

#include <array>

#include "app/Extensions/SystemColor.h"

namespace quorvel {

// How hard a password is to guess, as a level from 0 (empty) to 3 (strong).
// The rule is advice shown beside a password field; it enables nothing.
class PasswordStrength {
public:
    PasswordStrength() = delete;

    // The four classes of character a password scores a point for, each
    // found anywhere in it: a capital letter, a small letter, a digit, and a
    // special character. The last one's bracket holds the range '&' to '_',
    // which takes in the digits and the capitals too: they also score it.
    static const std::array<const char*, 4> kClassPatterns;

    // 0 for an empty password; else 1 to 3 from its length in characters (1
    // point up to 4, 2 up to 8, 3 beyond) and one point per class found:
    // below 4 points 1, up to 6 points 2, 7 points 3.
    static int checkStrength(const QString& password);

    // What the password fields show beside them for each level, from 0 to 3:
    // the key of the verdict's text and its colour.
    struct Verdict {
        const char* key;
        SystemColor color;
    };
    static const std::array<Verdict, 4> kVerdicts;
};

}  // namespace quorvel
