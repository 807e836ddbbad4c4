#include "app/Extensions/Image.h"

#include <QPainter>
#include <QRectF>
#include <QSizeF>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr char kTemplateTrue[] = "true";

}  // namespace

bool isTemplateImage(const QImage& image) {
    return image.text(QString::fromLatin1(kTemplateImageKey)) == QLatin1String(kTemplateTrue);
}

void setTemplateImage(QImage& image, bool isTemplate) {
    // An image's texts can be set but not removed.
    image.setText(QString::fromLatin1(kTemplateImageKey),
                  isTemplate ? QString::fromLatin1(kTemplateTrue) : QStringLiteral("false"));
}

QImage namedImage(const QString& name) {
    return QImage(QStringLiteral(":/images/") + name + QStringLiteral(".png"));
}

QImage tintedImage(const QImage& image, const QColor& tintColor) {
    if (!isTemplateImage(image)) return image;
    // A format the painter can draw into; the source stays as it is.
    QImage copy = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (copy.isNull()) return image;
    {
        QPainter painter(&copy);
        painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        painter.fillRect(QRectF(QPointF(0, 0), copy.deviceIndependentSize()), tintColor);
    }
    setTemplateImage(copy, false);
    return copy;
}

QImage addBadge(const QImage& image, const QImage& badge, const QColor& badgeColor) {
    const QSizeF size = image.deviceIndependentSize();
    const qreal w = size.width();
    const qreal h = size.height();
    const qreal side = std::max(w, h) / 2;
    const QSizeF badged(std::max(w, side + w / 2), std::max(h, side + h / 2));

    const qreal ratio = image.devicePixelRatio();
    QImage result(static_cast<int>(std::ceil(badged.width() * ratio)),
                  static_cast<int>(std::ceil(badged.height() * ratio)), QImage::Format_ARGB32_Premultiplied);
    if (result.isNull()) return result;
    result.setDevicePixelRatio(ratio);
    result.fill(Qt::transparent);
    // The painter works in device-independent pixels, top-down.
    QPainter painter(&result);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRectF(0, 0, w, h), image);
    painter.drawImage(QRectF(w / 2, h / 2, side, side), tintedImage(badge, badgeColor));
    return result;
}

}  // namespace quorvel
