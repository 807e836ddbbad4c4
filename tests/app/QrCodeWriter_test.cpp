// The QR image of the user's own trust code: what fits in its 150-point
// square at a pixel ratio, drawn with whole device pixels per module, black
// on white, and read back by another library (ZXing) to the bytes given.

#include <QImage>
#include <QTest>

#include <optional>
#include <string>

#include "app/account/QrCodeReader.h"
#include "app/account/QrCodeWriter.h"

namespace {

std::optional<QImage> drawn(const std::string& text, qreal ratio) {
    return quorvel::QrCodeWriter::image(
        ostrelcomm::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), ratio);
}

// The width of the first run of black pixels on the first line that has one:
// the top of the upper-left finder pattern, seven modules wide.
int finderWidth(const QImage& grey) {
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        int x = 0;
        while (x < grey.width() && line[x] != 0) ++x;
        if (x == grey.width()) continue;
        int end = x;
        while (end < grey.width() && line[end] == 0) ++end;
        return end - x;
    }
    return 0;
}

}  // namespace

class QrCodeWriterTest : public QObject {
    Q_OBJECT

private slots:
    void whatIsDrawn_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<bool>("fits");
        QTest::newRow("a trust code") << 130 << qreal(1) << true;
        QTest::newRow("at ratio 2") << 130 << qreal(2) << true;
        QTest::newRow("at ratio 1.5") << 130 << qreal(1.5) << true;
        // Version 22: 105 modules and the quiet zone, one pixel each.
        QTest::newRow("one pixel per module") << 1000 << qreal(1) << true;
        // Version 35: more modules than pixels at ratio 1, not at 2.
        QTest::newRow("too many modules") << 2200 << qreal(1) << false;
        QTest::newRow("too many modules, ratio 2") << 2200 << qreal(2) << true;
        // Beyond what the largest code holds.
        QTest::newRow("too long") << 3000 << qreal(2) << false;
        QTest::newRow("nothing") << 0 << qreal(1) << false;
    }
    void whatIsDrawn() {
        QFETCH(int, length);
        QFETCH(qreal, ratio);
        QFETCH(bool, fits);
        std::string text;
        for (int i = 0; i < length; ++i) text += static_cast<char>('!' + (i * 7) % 90);

        const auto image = drawn(text, ratio);
        QCOMPARE(image.has_value(), fits);
        if (!fits) return;
        QCOMPARE(image->devicePixelRatio(), ratio);
        QCOMPARE(image->width(), static_cast<int>(150 * ratio));
        QCOMPARE(image->height(), image->width());
        const QImage grey = image->convertToFormat(QImage::Format_Grayscale8);
        for (int y = 0; y < grey.height(); ++y) {
            const uchar* line = grey.constScanLine(y);
            for (int x = 0; x < grey.width(); ++x)
                if (line[x] != 0 && line[x] != 255) QFAIL(qPrintable(QStringLiteral("Grey at %1,%2").arg(x).arg(y)));
        }
        const int finder = finderWidth(grey);
        QVERIFY(finder >= 7);
        QCOMPARE(finder % 7, 0);
        const auto read = quorvel::QrCodeReader::read(*image);
        QCOMPARE(read, std::vector<std::string>{text});
    }
};

QTEST_GUILESS_MAIN(QrCodeWriterTest)
#include "QrCodeWriter_test.moc"
