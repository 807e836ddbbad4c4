#include "app/account/LevelIndicator.h"

#include <QPalette>

#include <algorithm>
#include <cmath>

#include "app/Extensions/SystemColor.h"

namespace quorvel {

namespace {

SystemColor colourOf(LevelIndicator::Level level) {
    switch (level) {
        case LevelIndicator::Level::normal:
            return SystemColor::green;
        case LevelIndicator::Level::warning:
            return SystemColor::yellow;
        case LevelIndicator::Level::critical:
            return SystemColor::red;
    }
    return SystemColor::green;
}

}  // namespace

LevelIndicator::LevelIndicator(QWidget* parent) : QProgressBar(parent) {
    setRange(0, kSteps);
    setValue(0);
    setTextVisible(false);
    setLevels(0, 0, 0, 0);
}

void LevelIndicator::setLevels(double maxValue, double warningValue, double criticalValue, double value) {
    // Written so that a maximum that is not a number lands here too.
    if (!(maxValue > 0)) {
        level_ = Level::normal;
        setValue(0);
    } else {
        double share = value / maxValue;
        if (!(share > 0)) share = 0;
        share = std::min(share, 1.0);
        setValue(static_cast<int>(std::lround(share * kSteps)));
        level_ = value >= criticalValue ? Level::critical : value >= warningValue ? Level::warning : Level::normal;
    }
    QPalette colours = palette();
    colours.setColor(QPalette::Highlight, systemColor(colourOf(level_)));
    setPalette(colours);
}

}  // namespace quorvel
