// The fingerprint reader through the fingerprint daemon, against a fake
// daemon of our own on a private bus that this test starts: what the machine
// offers, and how each check ends, with the device always stopped and
// released.

#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDialog>
#include <QLabel>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <memory>
#include <optional>

#include "app/Extensions/Localize.h"
#include "app/utils/FprintdBiometryProvider.h"

using quorvel::BiometryError;
using quorvel::BiometrySupport;
using quorvel::FprintdBiometryProvider;
namespace LAErrorCode = quorvel::LAErrorCode;

using Status = QPair<QString, bool>;
using Attempt = QList<Status>;
using Outcome = std::optional<BiometryError>;

Q_DECLARE_METATYPE(BiometrySupport)
Q_DECLARE_METATYPE(Outcome)

namespace {

constexpr int kGuardMs = 30'000;
constexpr char kDevicePath[] = "/net/reactivated/Fprint/Device/0";
constexpr char kErrorPrefix[] = "net.reactivated.Fprint.Error.";

// A bus daemon of this test's own, on which nothing can be started on
// demand; stopped with the test.
class PrivateBus {
public:
    PrivateBus() {
        if (!folder_.isValid()) return;
        const QString config = folder_.filePath("bus.conf");
        QFile file(config);
        if (!file.open(QIODevice::WriteOnly)) return;
        // Nothing can be started on demand: no service folders.
        const QByteArray folder = folder_.path().toUtf8();
        file.write("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                   " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                   "<busconfig>\n"
                   "  <type>session</type>\n"
                   "  <listen>unix:dir=" + folder + "</listen>\n"
                   "  <auth>EXTERNAL</auth>\n"
                   "  <policy context=\"default\">\n"
                   "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                   "    <allow eavesdrop=\"true\"/>\n"
                   "    <allow own=\"*\"/>\n"
                   "  </policy>\n"
                   "</busconfig>\n");
        file.close();
        daemon_.start("dbus-daemon", {"--nofork", "--config-file=" + config, "--print-address=1"});
        if (!daemon_.waitForStarted(kGuardMs)) return;
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(kGuardMs)) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        if (daemon_.state() == QProcess::NotRunning) return;
        daemon_.terminate();
        if (!daemon_.waitForFinished(kGuardMs)) daemon_.kill();
        daemon_.waitForFinished(kGuardMs);
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return address_; }

private:
    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
};

// What the fake daemon does and what it was asked, shared between the test
// and the fake's thread.
struct Script {
    bool hasDevice = true;
    QStringList enrolled{"right-index-finger"};
    // Error names (after "net.reactivated.Fprint.Error."), empty for none.
    QString claimError;
    QString verifyStartError;
    // The statuses sent after each VerifyStart, one list per start.
    QList<Attempt> attempts;
    // A "verify-match" sent first by someone else on the bus.
    bool spoofMatch = false;
    // Claim is answered only when the test says so.
    bool holdClaim = false;
};

class FakeState {
public:
    void setScript(Script script) {
        QMutexLocker lock(&mutex_);
        script_ = std::move(script);
        calls_.clear();
        starts_ = 0;
    }
    Script script() const {
        QMutexLocker lock(&mutex_);
        return script_;
    }
    // Records a call; for VerifyStart, gives its statuses.
    Attempt record(const QString& method) {
        QMutexLocker lock(&mutex_);
        calls_ << method;
        if (method != "VerifyStart") return {};
        const int start = starts_++;
        return start < script_.attempts.size() ? script_.attempts[start] : Attempt{};
    }
    QStringList calls() const {
        QMutexLocker lock(&mutex_);
        return calls_;
    }

private:
    mutable QMutex mutex_;
    Script script_;
    QStringList calls_;
    int starts_ = 0;
};

class FakeManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.reactivated.Fprint.Manager")

public:
    explicit FakeManager(FakeState& state) : state_(state) {}

public slots:
    QDBusObjectPath GetDefaultDevice() {
        state_.record("GetDefaultDevice");
        if (!state_.script().hasDevice) sendErrorReply(QString(kErrorPrefix) + "NoSuchDevice", "No devices available");
        return QDBusObjectPath(kDevicePath);
    }

private:
    FakeState& state_;
};

class FakeDevice : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "net.reactivated.Fprint.Device")

public:
    FakeDevice(FakeState& state, QDBusConnection bus, QDBusConnection spoofer)
        : state_(state), bus_(std::move(bus)), spoofer_(std::move(spoofer)) {}

public slots:
    QStringList ListEnrolledFingers(const QString&) {
        state_.record("ListEnrolledFingers");
        const QStringList enrolled = state_.script().enrolled;
        if (enrolled.isEmpty()) sendErrorReply(QString(kErrorPrefix) + "NoEnrolledPrints", "No prints");
        return enrolled;
    }
    void Claim(const QString&) {
        state_.record("Claim");
        if (state_.script().holdClaim) {
            setDelayedReply(true);
            heldClaim_ = message();
            return;
        }
        refuseWith(state_.script().claimError);
    }
    void Release() { state_.record("Release"); }
    void VerifyStart(const QString&) {
        const Attempt statuses = state_.record("VerifyStart");
        const Script script = state_.script();
        if (refuseWith(script.verifyStartError)) return;
        // After the reply has gone.
        QMetaObject::invokeMethod(
            this,
            [this, statuses, spoof = script.spoofMatch] {
                if (spoof) spoofer_.send(status("verify-match", true));
                for (const auto& [result, done] : statuses) bus_.send(status(result, done));
            },
            Qt::QueuedConnection);
    }
    void VerifyStop() { state_.record("VerifyStop"); }

public:
    // Answers the held claim (on the fake's thread).
    void answerHeldClaim() { bus_.send(heldClaim_.createReply()); }

private:
    bool refuseWith(const QString& error) {
        if (error.isEmpty()) return false;
        sendErrorReply(kErrorPrefix + error, "refused");
        return true;
    }
    static QDBusMessage status(const QString& result, bool done) {
        QDBusMessage signal = QDBusMessage::createSignal(kDevicePath, FprintdBiometryProvider::kDeviceInterface,
                                                         "VerifyStatus");
        signal << result << done;
        return signal;
    }

    FakeState& state_;
    QDBusConnection bus_;
    QDBusConnection spoofer_;
    QDBusMessage heldClaim_;
};

Attempt noMatch() { return {{"verify-no-match", true}}; }

}  // namespace

Q_DECLARE_METATYPE(Script)

class FprintdBiometryProviderTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        bus = std::make_unique<PrivateBus>();
        QVERIFY2(!bus->address().isEmpty(), "dbus-daemon did not start");
        daemonBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus->address(), "fake-fprintd"));
        otherBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus->address(), "someone-else"));
        clientBus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(bus->address(), "client"));
        QVERIFY(daemonBus->isConnected() && otherBus->isConnected() && clientBus->isConnected());

        // The daemon answers on a thread of its own, as a separate process
        // would: detection blocks the main thread.
        manager = new FakeManager(state);
        device = new FakeDevice(state, *daemonBus, *otherBus);
        const auto exported = QDBusConnection::ExportAllSlots;
        QVERIFY(daemonBus->registerObject(FprintdBiometryProvider::kManagerPath, manager, exported));
        QVERIFY(daemonBus->registerObject(kDevicePath, device, exported));
        manager->moveToThread(&daemonThread);
        device->moveToThread(&daemonThread);
        connect(&daemonThread, &QThread::finished, manager, &QObject::deleteLater);
        connect(&daemonThread, &QThread::finished, device, &QObject::deleteLater);
        daemonThread.start();
    }
    void init() {
        state.setScript({});
        QVERIFY(daemonBus->registerService(FprintdBiometryProvider::kService));
    }
    void cleanup() { daemonBus->unregisterService(FprintdBiometryProvider::kService); }
    void cleanupTestCase() {
        daemonThread.quit();
        daemonThread.wait();
        QDBusConnection::disconnectFromBus("fake-fprintd");
        QDBusConnection::disconnectFromBus("someone-else");
        QDBusConnection::disconnectFromBus("client");
    }

    void whatTheMachineOffers_data() {
        QTest::addColumn<bool>("daemon");
        QTest::addColumn<bool>("hasDevice");
        QTest::addColumn<QStringList>("enrolled");
        QTest::addColumn<BiometrySupport>("expected");
        QTest::newRow("no daemon") << false << true << QStringList{"right-index-finger"} << BiometrySupport::none;
        QTest::newRow("no device") << true << false << QStringList{"right-index-finger"} << BiometrySupport::none;
        QTest::newRow("no enrolled finger") << true << true << QStringList{} << BiometrySupport::none;
        QTest::newRow("enrolled fingers") << true << true << QStringList{"left-thumb", "right-index-finger"}
                                          << BiometrySupport::touchID;
    }
    void whatTheMachineOffers() {
        QFETCH(bool, daemon);
        QFETCH(bool, hasDevice);
        QFETCH(QStringList, enrolled);
        QFETCH(BiometrySupport, expected);
        if (!daemon) daemonBus->unregisterService(FprintdBiometryProvider::kService);
        Script script;
        script.hasDevice = hasDevice;
        script.enrolled = enrolled;
        state.setScript(script);
        QCOMPARE(FprintdBiometryProvider(*clientBus).supported(), expected);
    }

    void howACheckEnds_data() {
        QTest::addColumn<Script>("script");
        QTest::addColumn<bool>("daemon");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<QStringList>("calls");
        const auto la = &BiometryError::localAuthentication;
        const QStringList once{"GetDefaultDevice", "Claim", "VerifyStart", "VerifyStop", "Release"};
        Script script;

        script.attempts = {{{"verify-match", true}}};
        QTest::newRow("match") << script << true << Outcome() << once;
        script.attempts = {
            {{"verify-retry-scan", false}, {"verify-finger-not-centered", false}, {"verify-match", true}}};
        QTest::newRow("scans to retry, then a match") << script << true << Outcome() << once;
        script.attempts = {noMatch(), noMatch(), {{"verify-match", true}}};
        const QStringList threeStarts{"GetDefaultDevice", "Claim",      "VerifyStart", "VerifyStop", "VerifyStart",
                                      "VerifyStop",       "VerifyStart", "VerifyStop",  "Release"};
        QTest::newRow("two no-matches, then a match") << script << true << Outcome() << threeStarts;
        script.attempts = {noMatch(), noMatch(), noMatch()};
        QTest::newRow("three no-matches") << script << true << Outcome(la(LAErrorCode::authenticationFailed))
                                          << threeStarts;
        script.spoofMatch = true;
        QTest::newRow("a match sent by someone else") << script << true
                                                      << Outcome(la(LAErrorCode::authenticationFailed)) << threeStarts;
        script = {};
        script.attempts = {{{"verify-disconnected", true}}};
        QTest::newRow("disconnected") << script << true << Outcome(la(LAErrorCode::notInteractive)) << once;
        script.attempts = {{{"verify-unknown-error", true}}};
        QTest::newRow("device failure") << script << true << Outcome(la(LAErrorCode::notInteractive)) << once;

        const QStringList claimOnly{"GetDefaultDevice", "Claim", "VerifyStop", "Release"};
        script = {};
        script.claimError = "NoEnrolledPrints";
        QTest::newRow("claim refused for lack of prints")
            << script << true << Outcome(la(LAErrorCode::biometryNotEnrolled)) << claimOnly;
        script.claimError = "AlreadyInUse";
        QTest::newRow("device busy") << script << true << Outcome(la(LAErrorCode::notInteractive)) << claimOnly;
        script.claimError = "PermissionDenied";
        QTest::newRow("claim not permitted") << script << true << Outcome(la(LAErrorCode::notInteractive))
                                             << claimOnly;
        script = {};
        script.verifyStartError = "NoEnrolledPrints";
        QTest::newRow("verification refused for lack of prints")
            << script << true << Outcome(la(LAErrorCode::biometryNotEnrolled)) << once;

        script = {};
        script.hasDevice = false;
        QTest::newRow("no device") << script << true << Outcome(la(LAErrorCode::notInteractive))
                                   << QStringList{"GetDefaultDevice"};
        QTest::newRow("no daemon") << Script{} << false << Outcome(la(LAErrorCode::notInteractive)) << QStringList{};
    }
    void howACheckEnds() {
        QFETCH(Script, script);
        QFETCH(bool, daemon);
        QFETCH(Outcome, outcome);
        QFETCH(QStringList, calls);
        if (!daemon) daemonBus->unregisterService(FprintdBiometryProvider::kService);
        state.setScript(script);
        FprintdBiometryProvider provider(*clientBus);
        std::optional<Outcome> replied;
        int replies = 0;

        provider.evaluate("Log in", [&](Outcome result) {
            ++replies;
            replied = result;
        });
        QTRY_VERIFY_WITH_TIMEOUT(replied.has_value(), kGuardMs);

        QCOMPARE(*replied, outcome);
        QCOMPARE(state.calls(), calls);
        QTRY_VERIFY(!prompt());
        QCOMPARE(replies, 1);
    }

    // The user ends the check from the prompt.
    void theUserEndsTheCheck_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("code");
        QTest::newRow("cancel") << QString(FprintdBiometryProvider::kCancelButtonName) << LAErrorCode::userCancel;
        QTest::newRow("use password") << QString(FprintdBiometryProvider::kUsePasswordButtonName)
                                      << LAErrorCode::userFallback;
        QTest::newRow("prompt closed") << QString() << LAErrorCode::userCancel;
    }
    void theUserEndsTheCheck() {
        QFETCH(QString, button);
        QFETCH(int, code);
        Script script;
        script.attempts = {{{"verify-retry-scan", false}}};
        state.setScript(script);
        FprintdBiometryProvider provider(*clientBus);
        std::optional<Outcome> replied;

        provider.evaluate("Log in to Quorvel", [&](Outcome result) { replied = result; });
        // A scan to retry keeps the check waiting, and says so.
        QTRY_COMPARE_WITH_TIMEOUT(hint(), QString::fromStdString(quorvel::localize("BiometricHintRetryScan")),
                                  kGuardMs);
        QVERIFY(!replied);
        bool reasonShown = false;
        for (auto* label : prompt()->findChildren<QLabel*>())
            reasonShown = reasonShown || label->text() == "Log in to Quorvel";
        QVERIFY(reasonShown);
        if (button.isEmpty()) {
            prompt()->reject();
        } else {
            auto* pressed = prompt()->findChild<QPushButton*>(button);
            QVERIFY(pressed);
            QTest::mouseClick(pressed, Qt::LeftButton);
        }
        QTRY_VERIFY_WITH_TIMEOUT(replied.has_value(), kGuardMs);

        QCOMPARE(*replied, Outcome(BiometryError::localAuthentication(code)));
        QCOMPARE(state.calls(),
                 (QStringList{"GetDefaultDevice", "Claim", "VerifyStart", "VerifyStop", "Release"}));
        QTRY_VERIFY(!prompt());
    }

    // The window under the prompt went: the program ends the check, and the
    // device is not left claimed.
    void aPromptGoneWithItsWindowEndsTheCheck() {
        Script script;
        script.attempts = {{{"verify-retry-scan", false}}};
        state.setScript(script);
        FprintdBiometryProvider provider(*clientBus);
        std::optional<Outcome> replied;

        provider.evaluate("Log in", [&](Outcome result) { replied = result; });
        QTRY_COMPARE_WITH_TIMEOUT(hint(), QString::fromStdString(quorvel::localize("BiometricHintRetryScan")),
                                  kGuardMs);
        delete prompt();
        QTRY_VERIFY_WITH_TIMEOUT(replied.has_value(), kGuardMs);

        QCOMPARE(*replied, Outcome(BiometryError::localAuthentication(LAErrorCode::appCancel)));
        QCOMPARE(state.calls(),
                 (QStringList{"GetDefaultDevice", "Claim", "VerifyStart", "VerifyStop", "Release"}));
    }

    // Cancelled before the daemon named its device: nothing was claimed, so
    // nothing is stopped or released.
    void aCancelBeforeTheDeviceIsKnown() {
        state.setScript({});
        FprintdBiometryProvider provider(*clientBus);
        std::optional<Outcome> replied;

        provider.evaluate("Log in", [&](Outcome result) { replied = result; });
        QVERIFY(prompt());
        prompt()->reject();
        QTRY_VERIFY_WITH_TIMEOUT(replied.has_value(), kGuardMs);

        QCOMPARE(*replied, Outcome(BiometryError::localAuthentication(LAErrorCode::userCancel)));
        QCOMPARE(state.calls(), QStringList{"GetDefaultDevice"});
    }

    // Cancelled while the claim is on its way: the reply waits for the
    // claim's answer, and the device is then stopped and released, never
    // left claimed.
    void aCancelDuringTheClaimWaitsForIt() {
        Script script;
        script.holdClaim = true;
        state.setScript(script);
        FprintdBiometryProvider provider(*clientBus);
        std::optional<Outcome> replied;

        provider.evaluate("Log in", [&](Outcome result) { replied = result; });
        QTRY_VERIFY_WITH_TIMEOUT(state.calls().contains("Claim"), kGuardMs);
        prompt()->reject();
        QVERIFY(!prompt());
        QCoreApplication::sendPostedEvents();
        QVERIFY(!replied);
        QCOMPARE(state.calls(), (QStringList{"GetDefaultDevice", "Claim"}));

        QMetaObject::invokeMethod(device, &FakeDevice::answerHeldClaim, Qt::QueuedConnection);
        QTRY_VERIFY_WITH_TIMEOUT(replied.has_value(), kGuardMs);
        QCOMPARE(*replied, Outcome(BiometryError::localAuthentication(LAErrorCode::userCancel)));
        QCOMPARE(state.calls(), (QStringList{"GetDefaultDevice", "Claim", "VerifyStop", "Release"}));
    }

private:
    static QDialog* prompt() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (widget->objectName() == FprintdBiometryProvider::kPromptName && widget->isVisible())
                return qobject_cast<QDialog*>(widget);
        }
        return nullptr;
    }
    static QString hint() {
        QDialog* shown = prompt();
        auto* label = shown ? shown->findChild<QLabel*>(FprintdBiometryProvider::kHintName) : nullptr;
        return label ? label->text() : QString();
    }

    std::unique_ptr<PrivateBus> bus;
    std::unique_ptr<QDBusConnection> daemonBus;
    std::unique_ptr<QDBusConnection> otherBus;
    std::unique_ptr<QDBusConnection> clientBus;
    FakeState state;
    QThread daemonThread;
    FakeManager* manager = nullptr;
    FakeDevice* device = nullptr;
};

QTEST_MAIN(FprintdBiometryProviderTest)
#include "FprintdBiometryProvider_test.moc"
