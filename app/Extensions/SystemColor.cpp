#include "app/Extensions/SystemColor.h"

#include <QGuiApplication>

namespace quorvel {

QColor systemColor(SystemColor color) { return systemColor(color, QGuiApplication::palette()); }

QColor systemColor(SystemColor color, const QPalette& palette) {
    switch (color) {
        case SystemColor::label:
            return palette.color(QPalette::Active, QPalette::WindowText);
        case SystemColor::tertiaryLabel: {
            QColor faded = palette.color(QPalette::Active, QPalette::WindowText);
            faded.setAlphaF(0.3f);
            return faded;
        }
        case SystemColor::red:
            return QColor(224, 62, 54);
        case SystemColor::orange:
            return QColor(240, 140, 20);
        case SystemColor::green:
            return QColor(46, 170, 80);
        case SystemColor::blue:
            return QColor(24, 118, 230);
        case SystemColor::gray:
            return QColor(140, 140, 148);
        case SystemColor::yellow:
            return QColor(240, 196, 20);
        case SystemColor::purple:
            return QColor(160, 82, 210);
        case SystemColor::white:
            return QColor(255, 255, 255);
    }
    return palette.color(QPalette::Active, QPalette::WindowText);
}

}  // namespace quorvel
