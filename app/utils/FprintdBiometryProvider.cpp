#include "app/utils/FprintdBiometryProvider.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QVBoxLayout>

#include <functional>
#include <optional>
#include <utility>

#include "app/Extensions/Localize.h"

namespace quorvel {

namespace {

constexpr char kVerifyStatusSignal[] = "VerifyStatus";
// A finger that does not match this often fails the check.
constexpr int kMaximumNoMatches = 3;

QString text(const char* key) { return QString::fromStdString(localize(key)); }

// The device path in a reply of GetDefaultDevice, or empty.
QString devicePathIn(const QDBusMessage& reply) {
    const QVariantList arguments = reply.arguments();
    if (reply.type() != QDBusMessage::ReplyMessage || arguments.size() != 1) return {};
    const QVariant& argument = arguments.front();
    if (argument.metaType() != QMetaType::fromType<QDBusObjectPath>()) return {};
    return argument.value<QDBusObjectPath>().path();
}

QDBusMessage managerCall(const char* method) {
    return QDBusMessage::createMethodCall(FprintdBiometryProvider::kService, FprintdBiometryProvider::kManagerPath,
                                          FprintdBiometryProvider::kManagerInterface, QString::fromLatin1(method));
}

QDBusMessage deviceCall(const QString& device, const char* method, const QVariantList& arguments = {}) {
    QDBusMessage call = QDBusMessage::createMethodCall(FprintdBiometryProvider::kService, device,
                                                       FprintdBiometryProvider::kDeviceInterface,
                                                       QString::fromLatin1(method));
    call.setArguments(arguments);
    return call;
}

BiometryError failureOf(const QDBusMessage& reply) {
    // Without enrolled prints the user has to enrol first; anything else
    // (busy, refused, gone, failing, silent) only means the reader cannot be
    // used now.
    if (reply.errorName() == QLatin1String(FprintdBiometryProvider::kNoEnrolledPrintsError))
        return BiometryError::localAuthentication(LAErrorCode::biometryNotEnrolled);
    return BiometryError::localAuthentication(LAErrorCode::notInteractive);
}

// The hint for a scan to do again, or none for another status.
const char* retryHint(const QString& status) {
    if (status == QLatin1String("verify-retry-scan")) return "BiometricHintRetryScan";
    if (status == QLatin1String("verify-swipe-too-short")) return "BiometricHintSwipeTooShort";
    if (status == QLatin1String("verify-finger-not-centered")) return "BiometricHintFingerNotCentered";
    if (status == QLatin1String("verify-remove-and-retry")) return "BiometricHintRemoveAndRetry";
    return nullptr;
}

}  // namespace

// One check, from the prompt to the reply; deletes itself after the reply.
//
// An outcome decided while calls to the daemon run (the user cancels during
// the claim) waits for them, so that the device is stopped and released only
// after the daemon has handled them. A status may come before the answer to
// the VerifyStart it follows: it counts from the moment VerifyStart is sent.
class FprintVerification : public QObject {
    Q_OBJECT

public:
    FprintVerification(QDBusConnection bus, BiometryReply reply) : bus_(std::move(bus)), reply_(std::move(reply)) {}

    void start(const std::string& reason) {
        showPrompt(reason);
        call(managerCall("GetDefaultDevice"), [this](const QDBusMessage& reply) {
            device_ = devicePathIn(reply);
            if (device_.isEmpty()) return conclude(BiometryError::localAuthentication(LAErrorCode::notInteractive));
            daemon_ = reply.service();
            bus_.connect(FprintdBiometryProvider::kService, device_, FprintdBiometryProvider::kDeviceInterface,
                         kVerifyStatusSignal, this, SLOT(verifyStatus(QString,bool,QDBusMessage)));
            // The empty name is the user who calls.
            call(deviceCall(device_, "Claim", {QString()}), [this](const QDBusMessage& claimed) {
                if (claimed.type() != QDBusMessage::ReplyMessage) return conclude(failureOf(claimed));
                startVerifying();
            });
        });
    }

private slots:
    void verifyStatus(const QString& status, bool done, const QDBusMessage& message) {
        // Anyone on the bus may send a signal that looks like the daemon's.
        if (message.service() != daemon_ || outcome_ || !verifying_) return;
        if (status == QLatin1String("verify-match")) return conclude(std::nullopt);
        if (status == QLatin1String("verify-no-match")) {
            if (++noMatches_ >= kMaximumNoMatches)
                return conclude(BiometryError::localAuthentication(LAErrorCode::authenticationFailed));
            showHint("BiometricHintNoMatch");
        } else if (const char* hint = retryHint(status)) {
            showHint(hint);
        } else {
            // Disconnected, an unknown error, or a status this program does
            // not know: the reader cannot be used now.
            return conclude(BiometryError::localAuthentication(LAErrorCode::notInteractive));
        }
        // A verification that ended must be stopped before the next one.
        if (done) {
            verifying_ = false;
            call(deviceCall(device_, "VerifyStop"), [this](const QDBusMessage&) { startVerifying(); });
        }
    }

private:
    void startVerifying() {
        verifying_ = true;
        call(deviceCall(device_, "VerifyStart", {QStringLiteral("any")}), [this](const QDBusMessage& started) {
            if (started.type() != QDBusMessage::ReplyMessage) conclude(failureOf(started));
        });
    }

    void showPrompt(const std::string& reason) {
        QWidget* window = QApplication::activeWindow();
        auto* prompt = new QDialog(window);
        prompt->setObjectName(FprintdBiometryProvider::kPromptName);
        prompt->setWindowTitle(QApplication::applicationName());
        prompt->setWindowModality(Qt::WindowModal);
        auto* layout = new QVBoxLayout(prompt);
        auto* reasonLabel = new QLabel(QString::fromStdString(reason), prompt);
        reasonLabel->setTextFormat(Qt::PlainText);
        reasonLabel->setWordWrap(true);
        layout->addWidget(reasonLabel);
        auto* hint = new QLabel(text("BiometricHintTouchSensor"), prompt);
        hint->setObjectName(FprintdBiometryProvider::kHintName);
        hint->setTextFormat(Qt::PlainText);
        layout->addWidget(hint);
        auto* buttons = new QDialogButtonBox(prompt);
        QPushButton* cancel = buttons->addButton(text("Cancel"), QDialogButtonBox::RejectRole);
        cancel->setObjectName(FprintdBiometryProvider::kCancelButtonName);
        QPushButton* usePassword = buttons->addButton(text("Use Password"), QDialogButtonBox::ActionRole);
        usePassword->setObjectName(FprintdBiometryProvider::kUsePasswordButtonName);
        layout->addWidget(buttons);
        // Closing the prompt by any other way is a cancel as well.
        connect(prompt, &QDialog::rejected, this,
                [this] { conclude(BiometryError::localAuthentication(LAErrorCode::userCancel)); });
        connect(buttons, &QDialogButtonBox::rejected, prompt, &QDialog::reject);
        connect(usePassword, &QPushButton::clicked, this,
                [this] { conclude(BiometryError::localAuthentication(LAErrorCode::userFallback)); });
        // Gone with its window: nobody is left to touch the reader.
        // (It is no QDialog any more by then: it must not be touched.)
        connect(prompt, &QObject::destroyed, this, [this] {
            prompt_.clear();
            conclude(BiometryError::localAuthentication(LAErrorCode::appCancel));
        });
        prompt_ = prompt;
        prompt->open();
    }

    void showHint(const char* key) {
        if (auto* hint = prompt_ ? prompt_->findChild<QLabel*>(FprintdBiometryProvider::kHintName) : nullptr)
            hint->setText(text(key));
    }

    // Sends `message`, bounded in time, and runs `then` with its reply (an
    // error reply on a timeout) unless an outcome was decided meanwhile.
    void call(const QDBusMessage& message, std::function<void(const QDBusMessage&)> then) {
        ++inFlight_;
        auto* watcher =
            new QDBusPendingCallWatcher(bus_.asyncCall(message, FprintdBiometryProvider::kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, then = std::move(then)](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    --inFlight_;
                    if (outcome_ && !cleaningUp_) {
                        if (inFlight_ == 0) cleanUp();
                        return;
                    }
                    then(finished->reply());
                });
    }

    // The first outcome decided is the one replied.
    void conclude(std::optional<BiometryError> outcome) {
        if (outcome_) return;
        outcome_ = outcome;
        if (prompt_) {
            prompt_->disconnect(this);
            prompt_->hide();
            prompt_->deleteLater();
        }
        if (inFlight_ == 0) cleanUp();
    }

    void cleanUp() {
        cleaningUp_ = true;
        if (device_.isEmpty()) return finish();
        bus_.disconnect(FprintdBiometryProvider::kService, device_, FprintdBiometryProvider::kDeviceInterface,
                        kVerifyStatusSignal, this, SLOT(verifyStatus(QString,bool,QDBusMessage)));
        // Both always go, whatever state the device was left in; their
        // errors change nothing.
        call(deviceCall(device_, "VerifyStop"), [this](const QDBusMessage&) {
            call(deviceCall(device_, "Release"), [this](const QDBusMessage&) { finish(); });
        });
    }

    void finish() {
        BiometryReply reply = std::exchange(reply_, nullptr);
        const std::optional<BiometryError> outcome = outcome_.value_or(std::nullopt);
        deleteLater();
        if (reply) reply(outcome);
    }

    QDBusConnection bus_;
    BiometryReply reply_;
    QPointer<QDialog> prompt_;
    // The device's path and the daemon's unique bus name, once found.
    QString device_;
    QString daemon_;
    int inFlight_ = 0;
    bool verifying_ = false;
    bool cleaningUp_ = false;
    int noMatches_ = 0;
    std::optional<std::optional<BiometryError>> outcome_;
};

FprintdBiometryProvider::FprintdBiometryProvider(QDBusConnection bus) : bus_(std::move(bus)) {}

BiometrySupport FprintdBiometryProvider::supported() {
    if (!bus_.isConnected()) return BiometrySupport::none;
    const QString device = devicePathIn(bus_.call(managerCall("GetDefaultDevice"), QDBus::Block, kCallTimeoutMs));
    if (device.isEmpty()) return BiometrySupport::none;
    const QDBusMessage fingers =
        bus_.call(deviceCall(device, "ListEnrolledFingers", {QString()}), QDBus::Block, kCallTimeoutMs);
    const QVariantList arguments = fingers.arguments();
    if (fingers.type() != QDBusMessage::ReplyMessage || arguments.size() != 1) return BiometrySupport::none;
    const QVariant& names = arguments.front();
    if (names.metaType() != QMetaType::fromType<QStringList>() || names.toStringList().isEmpty())
        return BiometrySupport::none;
    return BiometrySupport::touchID;
}

void FprintdBiometryProvider::evaluate(const std::string& reason, BiometryReply reply) {
    // It owns itself until it has replied.
    auto* verification = new FprintVerification(bus_, std::move(reply));
    verification->start(reason);
}

}  // namespace quorvel

#include "FprintdBiometryProvider.moc"
