#include "app/utils/PasswordStrength.h"

#include <QRegularExpression>

#include "app/Extensions/CharacterCount.h"

namespace quorvel {

const std::array<const char*, 4> PasswordStrength::kClassPatterns = {
    R"(^(?=.*[A-Z]).*$)",
    R"(^(?=.*[a-z]).*$)",
    R"(^(?=.*[0-9]).*$)",
    R"(^(?=.*[!@#%&-_=:;"'<>,`~\*\?\+\[\]\(\)\{\}\^\$\|\\\.\/]).*$)",
};

const std::array<PasswordStrength::Verdict, 4> PasswordStrength::kVerdicts = {{
    {"Very easy to guess", SystemColor::label},
    {"Easy to guess", SystemColor::red},
    {"Moderate", SystemColor::orange},
    {"Strong", SystemColor::green},
}};

namespace {

const std::array<QRegularExpression, 4>& classes() {
    static const std::array<QRegularExpression, 4> compiled = [] {
        std::array<QRegularExpression, 4> made;
        for (std::size_t i = 0; i < made.size(); ++i)
            made[i] = QRegularExpression(QString::fromLatin1(PasswordStrength::kClassPatterns[i]));
        return made;
    }();
    return compiled;
}

int lengthPoints(int characters) {
    if (characters <= 4) return 1;
    if (characters <= 8) return 2;
    return 3;
}

}  // namespace

int PasswordStrength::checkStrength(const QString& password) {
    const int characters = characterCount(password);
    if (characters == 0) return 0;
    int score = lengthPoints(characters);
    for (const auto& pattern : classes())
        if (pattern.match(password).hasMatch()) ++score;
    if (score < 4) return 1;
    if (score < 7) return 2;
    return 3;
}

}  // namespace quorvel
