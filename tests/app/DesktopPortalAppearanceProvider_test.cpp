// The desktop portal's colour scheme as the appearance setting, against a
// fake portal on the tests' private session bus (scripts/with-keyring starts
// one). The fake is this program started again in a process of its own, as
// a portal is, told by its arguments how to answer; it reports each question
// on its output.

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/utils/DesktopPortalAppearanceProvider.h"
#include "app/utils/InterfaceStyle.h"

using quorvel::DesktopPortalAppearanceProvider;
using quorvel::InterfaceStyle;

Q_DECLARE_METATYPE(InterfaceStyle)
Q_DECLARE_METATYPE(std::optional<std::string>)

namespace {

constexpr char kFakePortalOption[] = "--fake-portal";
constexpr int kGuardMs = 30'000;
constexpr char kQuestion[] = "org.freedesktop.appearance color-scheme";

}  // namespace

// How the fake answers "Read": "doubly" wraps the value in a variant twice
// (as the portal's "Read" does), "singly" once (as its "ReadOne" does),
// "notFound" is the portal's error for a setting it does not know, "never"
// gives no answer. The value is "u:N" (unsigned), "i:N" (signed) or "s:TEXT".
class FakePortalSettings : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    FakePortalSettings(QString answer, const QString& value) : answer_(std::move(answer)) {
        const QString text = value.mid(2);
        if (value.startsWith("u:")) value_ = text.toUInt();
        if (value.startsWith("i:")) value_ = text.toInt();
        if (value.startsWith("s:")) value_ = text;
    }

public slots:
    QDBusVariant Read(const QString& settingsNamespace, const QString& key) {
        std::printf("%s %s\n", qPrintable(settingsNamespace), qPrintable(key));
        std::fflush(stdout);
        if (answer_ == "doubly") return QDBusVariant(QVariant::fromValue(QDBusVariant(value_)));
        if (answer_ == "singly") return QDBusVariant(value_);
        if (answer_ == "notFound")
            sendErrorReply(QStringLiteral("org.freedesktop.portal.Error.NotFound"),
                           QStringLiteral("Requested setting not found"));
        else
            setDelayedReply(true);
        return {};
    }

private:
    QString answer_;
    QVariant value_;
};

namespace {

// The fake's process: fake-portal SERVICE ANSWER VALUE; serves until killed.
int runFakePortal(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    FakePortalSettings settings(QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]));
    if (!bus.registerObject(DesktopPortalAppearanceProvider::kPortalPath, &settings,
                            QDBusConnection::ExportAllSlots) ||
        !bus.registerService(QString::fromLocal8Bit(argv[2])))
        return 1;
    std::puts("ready");
    std::fflush(stdout);
    return application.exec();
}

// A bus name of this run alone: other test programs share the bus.
std::string uniqueService() {
    static int counter = 0;
    return "com.quorvel.test.FakePortal.p" + std::to_string(QCoreApplication::applicationPid()) + ".n" +
           std::to_string(++counter);
}

// One fake portal for as long as it lives.
class FakePortal {
public:
    FakePortal(const QString& answer, const QString& value) : service_(uniqueService()) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QCoreApplication::applicationFilePath(),
                       {kFakePortalOption, QString::fromStdString(service_), answer, value});
        ready_ = process_.waitForStarted(kGuardMs) && readLine() == "ready";
    }
    ~FakePortal() {
        // Killed: it has nothing to say at its end.
        process_.kill();
        process_.waitForFinished(kGuardMs);
    }
    FakePortal(const FakePortal&) = delete;
    FakePortal& operator=(const FakePortal&) = delete;

    bool ready() const { return ready_; }
    const std::string& service() const { return service_; }
    // The next question it reported (it reports before it answers).
    QString readLine() {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(kGuardMs)) return {};
        return QString::fromUtf8(process_.readLine()).trimmed();
    }

private:
    std::string service_;
    QProcess process_;
    bool ready_ = false;
};

}  // namespace

class DesktopPortalAppearanceProviderTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
            if (qEnvironmentVariableIsSet("CI")) QFAIL("no session bus: run the tests through scripts/with-keyring");
            QSKIP("no session bus: run the tests through scripts/with-keyring");
        }
    }

    void theColourSchemePicksTheStyle_data() {
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("value");
        QTest::addColumn<std::optional<std::string>>("setting");
        QTest::addColumn<InterfaceStyle>("style");
        using S = std::optional<std::string>;
        QTest::newRow("1: prefer dark") << "doubly" << "u:1" << S("Dark") << InterfaceStyle::dark;
        QTest::newRow("2: prefer light") << "doubly" << "u:2" << S("Light") << InterfaceStyle::light;
        QTest::newRow("0: no preference") << "doubly" << "u:0" << S() << InterfaceStyle::light;
        QTest::newRow("a value with no meaning") << "doubly" << "u:7" << S() << InterfaceStyle::light;
        QTest::newRow("1 wrapped once") << "singly" << "u:1" << S("Dark") << InterfaceStyle::dark;
        QTest::newRow("1 as a signed number") << "doubly" << "i:1" << S("Dark") << InterfaceStyle::dark;
        QTest::newRow("\"1\" as a text") << "doubly" << "s:1" << S() << InterfaceStyle::light;
        QTest::newRow("setting not found") << "notFound" << "u:1" << S() << InterfaceStyle::light;
    }
    void theColourSchemePicksTheStyle() {
        QFETCH(QString, answer);
        QFETCH(QString, value);
        QFETCH(std::optional<std::string>, setting);
        QFETCH(InterfaceStyle, style);
        FakePortal portal(answer, value);
        QVERIFY(portal.ready());
        const DesktopPortalAppearanceProvider provider(portal.service());

        QVERIFY(provider.appleInterfaceStyle() == setting);
        QCOMPARE(portal.readLine(), QString(kQuestion));
        QCOMPARE(quorvel::currentInterfaceStyle(provider), style);
        QCOMPARE(portal.readLine(), QString(kQuestion));
    }

    void aPortalThatNeverAnswersGivesLight() {
        FakePortal portal("never", "u:1");
        QVERIFY(portal.ready());
        const DesktopPortalAppearanceProvider provider(portal.service(), std::chrono::milliseconds(200));
        QCOMPARE(quorvel::currentInterfaceStyle(provider), InterfaceStyle::light);
        QCOMPARE(portal.readLine(), QString(kQuestion));
    }

    void noPortalGivesLight() {
        const DesktopPortalAppearanceProvider provider(uniqueService());
        QVERIFY(!provider.appleInterfaceStyle());
        QCOMPARE(quorvel::currentInterfaceStyle(provider), InterfaceStyle::light);
    }

    void noBusGivesLight() {
        const QByteArray address = qgetenv("DBUS_SESSION_BUS_ADDRESS");
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/quorvel-test-bus");
        const std::optional<std::string> setting = DesktopPortalAppearanceProvider().appleInterfaceStyle();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address);
        QVERIFY(!setting);
    }
};

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], kFakePortalOption) == 0) return runFakePortal(argc, argv);
    QCoreApplication application(argc, argv);
    DesktopPortalAppearanceProviderTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "DesktopPortalAppearanceProvider_test.moc"
