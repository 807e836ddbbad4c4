// The desktop's appearance from the setting a provider reports.

#include <QTest>

#include <optional>
#include <string>

#include "app/utils/InterfaceStyle.h"

using quorvel::InterfaceStyle;

Q_DECLARE_METATYPE(InterfaceStyle)
Q_DECLARE_METATYPE(std::optional<std::string>)

namespace {

class FakeAppearanceProvider : public quorvel::AppearanceProvider {
public:
    explicit FakeAppearanceProvider(std::optional<std::string> setting) : setting_(std::move(setting)) {}
    std::optional<std::string> appleInterfaceStyle() const override { return setting_; }

private:
    std::optional<std::string> setting_;
};

}  // namespace

class InterfaceStyleTest : public QObject {
    Q_OBJECT

private slots:
    void theSettingPicksTheStyle_data() {
        QTest::addColumn<std::optional<std::string>>("setting");
        QTest::addColumn<InterfaceStyle>("style");
        QTest::newRow("absent") << std::optional<std::string>() << InterfaceStyle::light;
        QTest::newRow("Dark") << std::optional<std::string>("Dark") << InterfaceStyle::dark;
        QTest::newRow("dark") << std::optional<std::string>("dark") << InterfaceStyle::dark;
        QTest::newRow("LIGHT") << std::optional<std::string>("LIGHT") << InterfaceStyle::light;
        QTest::newRow("purple") << std::optional<std::string>("purple") << InterfaceStyle::light;
        QTest::newRow("empty") << std::optional<std::string>("") << InterfaceStyle::light;
        QTest::newRow("Dark with a space") << std::optional<std::string>("Dark ") << InterfaceStyle::light;
    }
    void theSettingPicksTheStyle() {
        QFETCH(std::optional<std::string>, setting);
        QFETCH(InterfaceStyle, style);
        QCOMPARE(quorvel::currentInterfaceStyle(FakeAppearanceProvider(setting)), style);
    }

    void rawValues() {
        for (InterfaceStyle style : {InterfaceStyle::dark, InterfaceStyle::light})
            QVERIFY(quorvel::interfaceStyleFromRaw(quorvel::rawValue(style)) == style);
        QVERIFY(!quorvel::interfaceStyleFromRaw("Dark"));
    }
};

QTEST_GUILESS_MAIN(InterfaceStyleTest)
#include "InterfaceStyle_test.moc"
