#include "app/account/QrCodeWriter.h"

#include <qrencode.h>

#include <QtMath>

#include <climits>
#include <cstring>
#include <memory>

namespace quorvel::QrCodeWriter {

namespace {

struct QRcodeFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

}  // namespace

std::optional<QImage> image(ostrelcomm::ByteView bytes, qreal devicePixelRatio) {
    if (bytes.empty() || bytes.size() > static_cast<std::size_t>(INT_MAX) || !(devicePixelRatio > 0))
        return std::nullopt;
    // Version 0: the smallest symbol that holds the bytes.
    const std::unique_ptr<QRcode, QRcodeFree> code(
        QRcode_encodeData(static_cast<int>(bytes.size()), bytes.data(), 0, QR_ECLEVEL_L));
    if (!code || code->width <= 0) return std::nullopt;

    const int side = qFloor(kSide * devicePixelRatio);
    const int modules = code->width + 2 * kQuietZone;
    // Whole device pixels per module: a fraction would blur module edges.
    const int modulePixels = side / modules;
    if (modulePixels < 1) return std::nullopt;

    QImage picture(side, side, QImage::Format_Grayscale8);
    if (picture.isNull()) return std::nullopt;
    picture.fill(Qt::white);
    const int origin = (side - modules * modulePixels) / 2 + kQuietZone * modulePixels;
    for (int y = 0; y < code->width; ++y) {
        for (int x = 0; x < code->width; ++x) {
            // The low bit of each module is its colour: 1 is black.
            if ((code->data[y * code->width + x] & 1) == 0) continue;
            for (int row = 0; row < modulePixels; ++row) {
                uchar* line = picture.scanLine(origin + y * modulePixels + row);
                std::memset(line + origin + x * modulePixels, 0, static_cast<std::size_t>(modulePixels));
            }
        }
    }
    picture.setDevicePixelRatio(devicePixelRatio);
    return picture;
}

}  // namespace quorvel::QrCodeWriter
