#include "app/utils/Appwise.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <mutex>

#include "app/Extensions/Localize.h"
#include "app/utils/AlertPresenter.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/Pasteboard.h"
#include "app/utils/SelectedItems.h"
#include "app/utils/RunOnMain.h"
#include "auth/AuthNotifications.h"
#include "platform/AppInfo.h"
#include "platform/SystemLog.h"
#include "user/UserNotifications.h"

namespace quorvel {

namespace {

using ostrelcomm::Notification;
using ostrelcomm::SrvComm;
using ostrelcomm::systemLog;

constexpr char kSetupInitDone[] = "setupInitDone";
constexpr char kLogoffTimeout[] = "logoffTimeout";
constexpr char kBiometricLogin[] = "biometricLogin";
constexpr char kAutomaticAccessAtStartup[] = "automaticAccessAtStartup";
constexpr char kSendingConflictBehaviour[] = "sendingConflictBehaviour";
constexpr char kShowFullLog[] = "showFullLog";
constexpr char kGCAccepted[] = "GCAccepted";

// The server key "https" is no key of the transport's server table, which
// then uses its only server.
constexpr char kUrlToUse[] = "https";

// Only "true" (as the file stores a Bool) or a number other than 0 reads as
// true: anything else, even a damaged value, reads as the safe false.
bool readBool(const QSettings& suite, const char* key) {
    const QVariant value = suite.value(QString::fromLatin1(key));
    const QString text = value.toString().trimmed();
    if (text.compare(QStringLiteral("true"), Qt::CaseInsensitive) == 0) return true;
    bool isNumber = false;
    const qlonglong number = text.toLongLong(&isNumber);
    return isNumber && number != 0;
}

// 0 for a missing or non-numeric value.
std::int64_t readInt(const QSettings& suite, const char* key) {
    bool isNumber = false;
    const qlonglong number = suite.value(QString::fromLatin1(key)).toString().trimmed().toLongLong(&isNumber);
    return isNumber ? number : 0;
}

// Writes the suite's changes to its file; false (and logged) when that fails.
bool store(QSettings& suite) {
    suite.sync();
    if (suite.status() == QSettings::NoError) return true;
    systemLog(Appwise::kSetupDatabaseError);
    return false;
}

std::atomic<Appwise*>& sharedInstance() {
    static std::atomic<Appwise*> instance{nullptr};
    return instance;
}

}  // namespace

Appwise::Appwise(std::string suiteName, std::shared_ptr<AlertPresenter> alertPresenter)
    : alertPresenter_(std::move(alertPresenter)) {
    // The order of the steps is the program's: the engines exist before the
    // settings are loaded, and the observers come last.
    mySuiteName_ = std::move(suiteName);
    notifications_ = std::make_shared<ostrelcomm::NotificationCenter>();
    // Set without the announcement of setLocalPath.
    localPath_ = std::filesystem::path(QFile::encodeName(QDir::homePath()).toStdString());
    selectedItems_ = std::make_unique<SelectedItems>(notifications_);
    pasteboard_ = std::make_unique<Pasteboard>();
    currentUIStyle_ = currentInterfaceStyle();
    initializing_ = true;
    appIdentifierPrefix_ = ostrelcomm::AppInfo::current().identifierPrefix;
    if (appIdentifierPrefix_.empty()) appIdentifierPrefix_ = kInvalidPrefix;
    keychainID_ = appIdentifierPrefix_ + mySuiteName_;
    commTasks_[CommTasks::fastTask] = std::make_shared<SrvComm>();
    commTasks_[CommTasks::slowTask] = std::make_shared<SrvComm>();
    commTasks_[CommTasks::fastTask]->setUrlToUse(kUrlToUse);
    commTasks_[CommTasks::slowTask]->setUrlToUse(kUrlToUse);
    loadSetup();
    initializing_ = false;
    observeEngines();
}

Appwise::~Appwise() {
    bridges_.clear();
    for (const auto& observation : observations_) {
        // Engine notifications go out under the engine's lock: once it is
        // held here, none of these observers is running, and none runs later.
        std::lock_guard lock(observation.engine->mutex());
        observation.center->removeObserver(observation.token);
    }
}

Appwise& Appwise::shared() {
    if (Appwise* installed = sharedInstance().load()) return *installed;
    static std::once_flag once;
    std::call_once(once, [] {
        if (sharedInstance().load()) return;
        // Never destroyed: it owns the engines, whose threads may still
        // answer while the program ends.
        sharedInstance().store(new Appwise(kSuiteName, std::make_shared<MessageBoxAlertPresenter>()));
    });
    return *sharedInstance().load();
}

Appwise& Appwise::installShared(std::unique_ptr<Appwise> appwise) {
    // Every instance that was shared stays reachable, so none is destroyed
    // while work queued for it may still run.
    static auto* kept = new std::vector<Appwise*>;
    kept->push_back(appwise.release());
    sharedInstance().store(kept->back());
    return *kept->back();
}

void Appwise::setLocalPath(std::filesystem::path path) {
    localPath_ = std::move(path);
    notifications_->post(kRefreshLocalFilesListNotification);
}

// --- settings --------------------------------------------------------------------------

std::unique_ptr<QSettings> Appwise::openSuite() const {
    if (suiteMalformed_) return nullptr;
    auto suite = std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                             QString::fromStdString(mySuiteName_));
    // The user's file alone: no system-wide file may supply a setting.
    suite->setFallbacksEnabled(false);
    if (suite->status() == QSettings::NoError) return suite;
    // Qt keeps a file it has parsed for the whole process and reports its
    // format error to the first reader only: later readers would see what
    // little was parsed, and a save would write it over the damaged file.
    if (suite->status() == QSettings::FormatError) suiteMalformed_ = true;
    return nullptr;
}

bool Appwise::gcAccepted() const {
    auto suite = openSuite();
    if (!suite) {
        systemLog(kSetupDatabaseError);
        return false;
    }
    return readBool(*suite, kGCAccepted);
}

void Appwise::setGcAccepted(bool accepted) {
    auto suite = openSuite();
    if (!suite) {
        systemLog(kSetupDatabaseError);
        return;
    }
    suite->setValue(kGCAccepted, accepted);
    store(*suite);
}

void Appwise::saveSetup() {
    auto suite = openSuite();
    if (!suite) {
        systemLog(kSetupDatabaseError);
        return;
    }
    systemLog("Saving setup");
    suite->setValue(kLogoffTimeout, static_cast<qlonglong>(setup_.logoffTimeout));
    suite->setValue(kBiometricLogin, setup_.biometricLogin);
    suite->setValue(kAutomaticAccessAtStartup, setup_.automaticAccessAtStartup);
    suite->setValue(kSendingConflictBehaviour, ostrelcomm::rawValue(setup_.sendingConflictBehaviour));
    suite->setValue(kShowFullLog, setup_.showFullLog);
    suite->setValue(kSetupInitDone, true);
    store(*suite);
}

void Appwise::loadSetup() {
    bool firstRun = false;
    {
        auto suite = openSuite();
        if (!suite) {
            systemLog(kSetupDatabaseError);
            return;
        }
        firstRun = !readBool(*suite, kSetupInitDone);
    }
    if (firstRun) {
        saveSetup();
        systemLog("App default setup loaded");
    }
    auto suite = openSuite();
    if (!suite) {
        systemLog(kSetupDatabaseError);
        return;
    }
    setup_.logoffTimeout = readInt(*suite, kLogoffTimeout);
    saveSetupAfterRead();
    setup_.biometricLogin = readBool(*suite, kBiometricLogin);
    saveSetupAfterRead();
    setup_.automaticAccessAtStartup = readBool(*suite, kAutomaticAccessAtStartup);
    saveSetupAfterRead();
    setup_.sendingConflictBehaviour =
        ostrelcomm::conflictingBehavioursFromRaw(readInt(*suite, kSendingConflictBehaviour))
            .value_or(ostrelcomm::ConflictingBehaviours::skipIfEqual);
    saveSetupAfterRead();
    setup_.showFullLog = readBool(*suite, kShowFullLog);
    saveSetupAfterRead();
}

void Appwise::saveSetupAfterRead() {
    if (!initializing_) saveSetup();
}

// --- engines ---------------------------------------------------------------------------

void Appwise::observe(SrvComm& engine, const char* name, ostrelcomm::NotificationCenter::Observer observer) {
    auto center = engine.notifications();
    const auto token = center->addObserver(name, std::move(observer));
    observations_.push_back({&engine, std::move(center), token});
}

void Appwise::observeEngines() {
    // Plain pointers: the engines' centers hold these observers, and the
    // engines live as long as this object, which removes them first.
    SrvComm* fast = commTasks_.at(CommTasks::fastTask).get();
    SrvComm* slow = commTasks_.at(CommTasks::slowTask).get();
    namespace auth = ostrelcomm::auth;
    observe(*fast, auth::kSRPAuthenticatedNotification,
            [this, fast, slow](const Notification& n) { handOverSession(*fast, *slow, n); });
    observe(*slow, auth::kSRPAuthenticatedNotification,
            [this, fast, slow](const Notification& n) { handOverSession(*slow, *fast, n); });
    // The slow engine's logout follows the fast engine's and says nothing new.
    observe(*fast, auth::kUserLogoutNotification, [this](const Notification&) { announceAuthentication(false); });
    observe(*fast, ostrelcomm::user::kUserModificationNotification,
            [this](const Notification&) { endPasswordChange(); });
}

void Appwise::handOverSession(const SrvComm& source, SrvComm& target, const Notification& notification) {
    namespace auth = ostrelcomm::auth;
    const auto* word = ostrelcomm::userInfoValue<std::string>(notification.userInfo, "Result");
    if (word && *word == auth::kInProgress) return;
    if (word && *word == auth::kAuthenticated) {
        // The session the engine holds now, in one piece: it took the user
        // and password from the login that queued it, and the other engine
        // may be handing it a session at this very moment.
        if (auto session = source.sessionForHandOver()) {
            target.auth_setup(session->username, session->password, session->sessionID, session->sessionKey);
            announceAuthentication(true);
            return;
        }
        systemLog("Login reported without a complete session: nothing to hand over");
    } else if (&source == commTasks_.at(CommTasks::fastTask).get() && passwordChangeRunning()) {
        // The renewal of a password change: the engine keeps its session.
        systemLog(kRenewalRefusedLog);
        return;
    }
    announceAuthentication(false);
}

void Appwise::beginPasswordChange() { passwordChanges_->fetch_add(1); }

void Appwise::endPasswordChange() {
    // A refused renewal fails the change waiting on it before its own final
    // word is posted, in the same call of the engine: the change counts
    // until that call is over. So the count drops on the main thread once
    // the engine's lock, held through the call, has been taken.
    runOnMain([engine = commTasks_.at(CommTasks::fastTask), changes = passwordChanges_] {
        std::lock_guard lock(engine->mutex());
        // Never below none: a change queued elsewhere than through
        // beginPasswordChange() ends without one.
        int running = changes->load();
        while (running > 0 && !changes->compare_exchange_weak(running, running - 1)) {
        }
    });
}

void Appwise::announceAuthentication(bool authenticated) {
    authenticated_.store(authenticated);
    notifications_->post(kAuthenticationStatusChangedNotification);
}

// --- alerts and bridges ----------------------------------------------------------------

void Appwise::runAlert(const std::string& messageText, const std::string& informativeText,
                       [[maybe_unused]] const std::string& iconName) {
    runOnMain([messageText, informativeText] {
        Appwise::shared().alertPresenter().present(QString::fromStdString(localize(messageText)),
                                                   QString::fromStdString(localize(informativeText)));
    });
}

EngineBridge& Appwise::bridge(CommTasks task) {
    auto& slot = bridges_[task];
    if (!slot) slot = std::make_unique<EngineBridge>(commTasks_.at(task));
    return *slot;
}

}  // namespace quorvel
