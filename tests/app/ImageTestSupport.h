#pragma once

// Pictures for the application tests: images made here and encoded by Qt's
// own writers, and what a table row shows of its image.

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTableWidgetItem>

#include "platform/Bytes.h"

namespace apptest {

// The image as a file of `format` ("PNG", "JPEG") holds it.
inline ostrelcomm::Bytes encodedImage(const QImage& image, const char* format) {
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return ostrelcomm::Bytes(data.begin(), data.end());
}

// Red on the left half, blue on the right.
inline QImage twoColours(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QPainter(&image).fillRect(0, 0, width / 2, height, Qt::red);
    return image;
}

// The row shows an image, and every opaque pixel of it has the tint's colour.
inline bool tintedIn(const QTableWidgetItem* item, QColor tint) {
    const QImage image =
        item->data(Qt::DecorationRole).value<QPixmap>().toImage().convertToFormat(QImage::Format_ARGB32);
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (pixel.alpha() != 255) continue;
            if (pixel.rgb() != tint.rgb()) return false;
            ++opaque;
        }
    return opaque > 0;
}

}  // namespace apptest
