// Tinting and badging of images, the application's named images, and the
// decoding of thumbnails that come from the server.

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>
#include <QTest>

#include "ImageTestSupport.h"
#include "app/Extensions/Image.h"
#include "support/MediaFixtures.h"

using apptest::encodedImage;
using apptest::twoColours;
using quorvel::addBadge;
using quorvel::isTemplateImage;
using quorvel::namedImage;
using quorvel::remoteThumbnailImage;
using quorvel::setTemplateImage;
using quorvel::tintedImage;

namespace {

// An image of `logical` device-independent size at `ratio`, in one colour.
QImage filled(QSize logical, qreal ratio, QColor color, bool isTemplate) {
    QImage image(logical * ratio, QImage::Format_ARGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(color);
    setTemplateImage(image, isTemplate);
    return image;
}

// The first pixel (in physical pixels) whose colour is not what `expected`
// says, as "x,y: colour", or empty when all are.
template <class Expected>
QString firstMismatch(const QImage& image, Expected expected) {
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor want = expected(x, y);
            const QColor got = image.pixelColor(x, y);
            const bool same = want.alpha() == 0 ? got.alpha() == 0 : got.rgba() == want.rgba();
            if (!same)
                return QString("%1,%2: %3 instead of %4")
                    .arg(x)
                    .arg(y)
                    .arg(got.name(QColor::HexArgb), want.name(QColor::HexArgb));
        }
    return {};
}

}  // namespace

Q_DECLARE_METATYPE(ostrelcomm::Bytes)

class ImageTest : public QObject {
    Q_OBJECT

private slots:
    void aBadgeOverTheLowerRightQuarter_data() {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<qreal>("ratio");
        QTest::addColumn<QSize>("badgedSize");
        QTest::addColumn<QRect>("badge");
        QTest::newRow("32 x 32") << QSize(32, 32) << 1.0 << QSize(32, 32) << QRect(16, 16, 16, 16);
        QTest::newRow("40 x 20") << QSize(40, 20) << 1.0 << QSize(40, 30) << QRect(20, 10, 20, 20);
        QTest::newRow("32 x 32 at ratio 2") << QSize(32, 32) << 2.0 << QSize(32, 32) << QRect(16, 16, 16, 16);
        QTest::newRow("40 x 20 at ratio 2") << QSize(40, 20) << 2.0 << QSize(40, 30) << QRect(20, 10, 20, 20);
        QTest::newRow("20 x 40") << QSize(20, 40) << 1.0 << QSize(30, 40) << QRect(10, 20, 20, 20);
    }
    void aBadgeOverTheLowerRightQuarter() {
        QFETCH(QSize, size);
        QFETCH(qreal, ratio);
        QFETCH(QSize, badgedSize);
        QFETCH(QRect, badge);
        const QColor source(200, 30, 40);
        const QColor badgeColor(0, 0, 255);
        // The badge's own size and ratio play no part: it is drawn to fit.
        const QImage badgeImage = filled(QSize(7, 7), 1.0, Qt::black, true);

        const QImage badged = addBadge(filled(size, ratio, source, false), badgeImage, badgeColor);

        QCOMPARE(badged.deviceIndependentSize(), QSizeF(badgedSize));
        QCOMPARE(badged.devicePixelRatio(), ratio);
        QVERIFY(!isTemplateImage(badged));
        const QRect sourceArea(QPoint(0, 0), size * ratio);
        const QRect badgeArea(badge.topLeft() * ratio, badge.size() * ratio);
        const QString mismatch = firstMismatch(badged, [&](int x, int y) -> QColor {
            if (badgeArea.contains(x, y)) return badgeColor;
            if (sourceArea.contains(x, y)) return source;
            return Qt::transparent;
        });
        QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    }

    void aBadgeThatIsNoTemplateKeepsItsColours() {
        const QImage badged = addBadge(filled(QSize(8, 8), 1.0, Qt::white, false),
                                       filled(QSize(4, 4), 1.0, Qt::green, false), Qt::blue);
        QCOMPARE(badged.pixelColor(6, 6), QColor(Qt::green));
        QCOMPARE(badged.pixelColor(1, 1), QColor(Qt::white));
    }

    void anImageThatIsNoTemplateIsReturnedItself() {
        const QImage image = filled(QSize(4, 4), 1.0, Qt::red, false);
        const QImage tinted = tintedImage(image, Qt::blue);
        QCOMPARE(tinted.cacheKey(), image.cacheKey());
        QCOMPARE(tinted.pixelColor(0, 0), QColor(Qt::red));
        // An image that never heard of the flag is no template either.
        QImage plain(4, 4, QImage::Format_ARGB32);
        plain.fill(Qt::red);
        QCOMPARE(tintedImage(plain, Qt::blue).cacheKey(), plain.cacheKey());
    }

    void aTemplateTakesTheColourWhereItIsOpaque_data() {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("ratio 1") << 1.0;
        QTest::newRow("ratio 2") << 2.0;
    }
    void aTemplateTakesTheColourWhereItIsOpaque() {
        QFETCH(qreal, ratio);
        // Three columns: opaque red, transparent, half-transparent green.
        QImage image(QSize(3, 2) * ratio, QImage::Format_ARGB32);
        image.setDevicePixelRatio(ratio);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const int column = static_cast<int>(x / ratio);
                image.setPixelColor(x, y, column == 0   ? QColor(255, 0, 0)
                                          : column == 1 ? QColor(0, 0, 0, 0)
                                                        : QColor(0, 255, 0, 128));
            }
        setTemplateImage(image, true);
        const QImage before = image.copy();
        const QColor tint(20, 40, 230);

        const QImage tinted = tintedImage(image, tint);

        QVERIFY(!isTemplateImage(tinted));
        QCOMPARE(tinted.deviceIndependentSize(), image.deviceIndependentSize());
        for (int y = 0; y < tinted.height(); ++y)
            for (int x = 0; x < tinted.width(); ++x) {
                const QColor got = tinted.pixelColor(x, y).convertTo(QColor::Rgb);
                const int column = static_cast<int>(x / ratio);
                const int wantAlpha = column == 0 ? 255 : column == 1 ? 0 : 128;
                QVERIFY2(qAbs(got.alpha() - wantAlpha) <= 1, qPrintable(QString("%1,%2").arg(x).arg(y)));
                if (wantAlpha == 0) continue;
                // Half-transparent pixels are stored premultiplied: a step of rounding.
                QVERIFY2(qAbs(got.red() - tint.red()) <= 2 && qAbs(got.green() - tint.green()) <= 2 &&
                             qAbs(got.blue() - tint.blue()) <= 2,
                         qPrintable(QString("%1,%2: %3").arg(x).arg(y).arg(got.name(QColor::HexArgb))));
            }
        // The source is untouched, flag and pixels.
        QVERIFY(isTemplateImage(image));
        QCOMPARE(image, before);
    }

    void theNamedImagesAreTemplates_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("btn-login") << "btn-login";
        QTest::newRow("btn-logout") << "btn-logout";
        QTest::newRow("sharedBadge-icon") << "sharedBadge-icon";
        QTest::newRow("trustedUser-icon") << "trustedUser-icon";
        QTest::newRow("untrustedUser-icon") << "untrustedUser-icon";
    }
    void theNamedImagesAreTemplates() {
        QFETCH(QString, name);
        const QImage image = namedImage(name);
        QVERIFY(!image.isNull());
        QVERIFY(isTemplateImage(image));
        QVERIFY(image.hasAlphaChannel());
    }

    // Shown as they are: tinting them would paint them over.
    void theItemImagesAreInColour_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("GenericDocumentIcon") << "GenericDocumentIcon";
        QTest::newRow("GenericFolderIcon") << "GenericFolderIcon";
        QTest::newRow("MultipleDocuments") << "MultipleDocuments";
    }
    void theItemImagesAreInColour() {
        QFETCH(QString, name);
        const QImage image = namedImage(name);
        QVERIFY(!image.isNull());
        QVERIFY(!isTemplateImage(image));
        QCOMPARE(tintedImage(image, Qt::green), image);
    }

    void anUnknownNameGivesNoImage() { QVERIFY(namedImage("no-such-image").isNull()); }

    // A few bytes claiming a huge picture are refused before anything is
    // allocated for it; so is one side past the limit, and what no reader
    // knows.
    void aRemoteThumbnailIsRefused_data() {
        QTest::addColumn<ostrelcomm::Bytes>("bytes");
        QTest::newRow("100000 x 100000 claimed") << testsupport::pngClaimingSize(100000, 100000);
        QTest::newRow("4097 wide claimed") << testsupport::pngClaimingSize(4097, 1);
        QTest::newRow("4097 high, a real PNG") << encodedImage(twoColours(1, 4097), "PNG");
        QTest::newRow("a GIF screen of 65535 x 65535") << testsupport::gifWithScreen(65535, 65535);
        QTest::newRow("no picture") << ostrelcomm::Bytes{'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
        QTest::newRow("nothing") << ostrelcomm::Bytes{};
    }
    void aRemoteThumbnailIsRefused() {
        QFETCH(ostrelcomm::Bytes, bytes);
        QVERIFY(remoteThumbnailImage(bytes).isNull());
    }

    void aRemoteThumbnailWithinTheLimitIsDecoded_data() {
        QTest::addColumn<ostrelcomm::Bytes>("bytes");
        QTest::addColumn<QSize>("size");
        QTest::newRow("64 x 64 PNG") << encodedImage(twoColours(64, 64), "PNG") << QSize(64, 64);
        QTest::newRow("320 x 180 JPEG") << encodedImage(twoColours(320, 180), "JPEG") << QSize(320, 180);
        QTest::newRow("4096 wide PNG") << encodedImage(twoColours(4096, 2), "PNG") << QSize(4096, 2);
    }
    void aRemoteThumbnailWithinTheLimitIsDecoded() {
        QFETCH(ostrelcomm::Bytes, bytes);
        QFETCH(QSize, size);
        const QImage image = remoteThumbnailImage(bytes);
        QCOMPARE(image.size(), size);
        const auto near = [](QColor got, QColor want) {
            return qAbs(got.red() - want.red()) < 40 && qAbs(got.green() - want.green()) < 40 &&
                   qAbs(got.blue() - want.blue()) < 40;
        };
        QVERIFY(near(image.pixelColor(size.width() / 4, size.height() / 2), Qt::red));
        QVERIFY(near(image.pixelColor(size.width() * 3 / 4, size.height() / 2), Qt::blue));
    }
};

QTEST_MAIN(ImageTest)
#include "Image_test.moc"
