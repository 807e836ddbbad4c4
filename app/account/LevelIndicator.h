#pragma once

#include <QProgressBar>

namespace quorvel {

// A bar that fills with a value up to a maximum, in the normal colour
// (green) below its warning value, the warning colour (yellow) from there and
// the critical colour (red) from its critical value on.
//
// Qt's bar counts in int, far short of a disk quota in bytes: it is driven in
// thousandths of the maximum, so any range fits. Its range stays 0..1000
// whatever the maximum, also 0: Qt draws a 0..0 range as a busy animation.
class LevelIndicator : public QProgressBar {
    Q_OBJECT

public:
    enum class Level { normal, warning, critical };
    // The bar's range: thousandths of the maximum.
    static constexpr int kSteps = 1000;

    explicit LevelIndicator(QWidget* parent = nullptr);

    // A maximum of 0 or less (or not a number) shows an empty bar in the
    // normal colour: there is nothing to measure against. A value beyond the
    // maximum fills the bar.
    void setLevels(double maxValue, double warningValue, double criticalValue, double value);
    Level level() const { return level_; }

private:
    Level level_ = Level::normal;
};

}  // namespace quorvel
