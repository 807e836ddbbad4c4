#include "app/Extensions/Image.h"

#include <QBuffer>
#include <QByteArray>
#include <QHash>
#include <QImageReader>
#include <QPainter>
#include <QRectF>
#include <QSizeF>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <mutex>

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
    // Table rows ask for their images at every repaint: each PNG is decoded
    // once, and every caller gets a shared copy that detaches if changed.
    static std::mutex mutex;
    static QHash<QString, QImage> decoded;
    const std::lock_guard lock(mutex);
    auto image = decoded.constFind(name);
    if (image == decoded.constEnd())
        image = decoded.insert(name, QImage(QStringLiteral(":/images/") + name + QStringLiteral(".png")));
    return *image;
}

QImage remoteThumbnailImage(ostrelcomm::ByteView bytes) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return {};
    // Read in place: the bytes outlive the reader.
    QByteArray data = QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<qsizetype>(bytes.size()));
    QBuffer buffer(&data);
    if (!buffer.open(QIODevice::ReadOnly)) return {};
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QSize claimed = reader.size();
    if (!claimed.isValid() || claimed.isEmpty() || claimed.width() > kRemoteThumbnailMaxSide ||
        claimed.height() > kRemoteThumbnailMaxSide)
        return {};
    QImage image = reader.read();
    // A picture that turns out larger than its header said is not shown either.
    if (image.width() > kRemoteThumbnailMaxSide || image.height() > kRemoteThumbnailMaxSide) return {};
    return image;
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
