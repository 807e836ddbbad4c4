// The machine's biometry as the program sees it: what the reader offers,
// within what the system's version allows.

#include <QTest>

#include <memory>
#include <optional>
#include <stdexcept>

#include "FakeBiometryProvider.h"
#include "app/utils/BiometricAuthentication.h"
#include "app/utils/PlatformInfo.h"

using apptest::FakeBiometryProvider;
using quorvel::BiometricAuthentication;
using quorvel::BiometrySupport;
using quorvel::OperatingSystemVersion;
using quorvel::PlatformInfo;

Q_DECLARE_METATYPE(BiometrySupport)
Q_DECLARE_METATYPE(std::optional<OperatingSystemVersion>)

namespace {

PlatformInfo platformOf(const std::optional<OperatingSystemVersion>& version) {
    return version ? PlatformInfo(*version) : PlatformInfo();
}

}  // namespace

class BiometricAuthenticationTest : public QObject {
    Q_OBJECT

private slots:
    void decidedFromTheReaderAndTheSystem_data() {
        QTest::addColumn<BiometrySupport>("offered");
        QTest::addColumn<std::optional<OperatingSystemVersion>>("system");
        QTest::addColumn<BiometrySupport>("expected");
        QTest::addColumn<bool>("readerAsked");
        const std::optional<OperatingSystemVersion> running;
        const std::optional<OperatingSystemVersion> v10_13_1 = OperatingSystemVersion{10, 13, 1};
        const std::optional<OperatingSystemVersion> v10_13_2 = OperatingSystemVersion{10, 13, 2};
        const std::optional<OperatingSystemVersion> v10_14 = OperatingSystemVersion{10, 14, 6};
        const std::optional<OperatingSystemVersion> v10_15 = OperatingSystemVersion{10, 15, 0};
        QTest::newRow("fingerprint, Linux") << BiometrySupport::touchID << running << BiometrySupport::touchID << true;
        QTest::newRow("nothing, Linux") << BiometrySupport::none << running << BiometrySupport::none << true;
        QTest::newRow("face, Linux") << BiometrySupport::faceID << running << BiometrySupport::faceID << true;
        QTest::newRow("fingerprint, 10.15") << BiometrySupport::touchID << v10_15 << BiometrySupport::touchID << true;
        QTest::newRow("face, 10.15") << BiometrySupport::faceID << v10_15 << BiometrySupport::faceID << true;
        // Face recognition does not count yet, and it is no fingerprint.
        QTest::newRow("face, 10.14") << BiometrySupport::faceID << v10_14 << BiometrySupport::none << true;
        QTest::newRow("fingerprint, 10.13.2")
            << BiometrySupport::touchID << v10_13_2 << BiometrySupport::touchID << true;
        // Too early a system is not even asked about its reader.
        QTest::newRow("fingerprint, 10.13.1")
            << BiometrySupport::touchID << v10_13_1 << BiometrySupport::none << false;
    }
    void decidedFromTheReaderAndTheSystem() {
        QFETCH(BiometrySupport, offered);
        QFETCH(std::optional<OperatingSystemVersion>, system);
        QFETCH(BiometrySupport, expected);
        QFETCH(bool, readerAsked);
        auto provider = std::make_shared<FakeBiometryProvider>();
        provider->support = offered;
        BiometricAuthentication biometry(provider, platformOf(system));
        QCOMPARE(biometry.supportedBiometry(), expected);
        QCOMPARE(provider->supportAsked, readerAsked ? 1 : 0);
        // Decided once: a reader attached later is not seen.
        provider->support = BiometrySupport::touchID;
        QCOMPARE(biometry.supportedBiometry(), expected);
        QCOMPARE(provider->supportAsked, readerAsked ? 1 : 0);
    }

    void theSharedInstanceIsTheOneInstalled() {
        auto provider = std::make_shared<FakeBiometryProvider>();
        auto& installed = BiometricAuthentication::installShared(
            std::make_unique<BiometricAuthentication>(provider, PlatformInfo()));
        QCOMPARE(&BiometricAuthentication::shared(), &installed);
        QCOMPARE(&BiometricAuthentication::shared().provider(), provider.get());
    }

    void aProviderIsRequired() {
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, BiometricAuthentication(nullptr, PlatformInfo()));
    }

    void theCurrentPlatformIsTheRunningSystemUnlessSet() {
        QVERIFY(PlatformInfo::current().isOperatingSystemAtLeast({99, 0, 0}));
        PlatformInfo::setCurrent(PlatformInfo({10, 14, 0}));
        QVERIFY(PlatformInfo::current().isOperatingSystemAtLeast(quorvel::kBiometricLoginSystem));
        QVERIFY(!PlatformInfo::current().isOperatingSystemAtLeast(quorvel::kFaceIDSystem));
        PlatformInfo::setCurrent(PlatformInfo());
        QVERIFY(PlatformInfo::current().isOperatingSystemAtLeast(quorvel::kFaceIDSystem));
    }
};

QTEST_GUILESS_MAIN(BiometricAuthenticationTest)
#include "BiometricAuthentication_test.moc"
