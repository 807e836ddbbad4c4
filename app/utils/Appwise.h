#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/utils/AppSetup.h"
#include "app/utils/CommTasks.h"
#include "app/utils/InterfaceStyle.h"
#include "crypto/SecretBytes.h"
#include "jobs/SrvComm.h"
#include "jobs/VirtualPath.h"
#include "platform/NotificationCenter.h"
#include "tree/TreeNotifications.h"

class QSettings;

namespace quorvel {

class AlertPresenter;
class EngineBridge;
class Pasteboard;
class SelectedItems;

// The application-wide state: the two engines, the application's own
// notification center (the only way screens talk to each other), the
// settings, and the login flags. One instance, Appwise::shared(), lives for
// the whole run.
//
// Threads. Engine notifications arrive on engine threads, with the posting
// engine's lock held. There the application only reads the notification,
// calls sessionForHandOver() and auth_setup() (which take the engines'
// session mutexes only), writes authenticated() and posts on
// notifications(); all else hops to the main thread with runOnMain(), never
// a blocking hop and never a wait for the main thread. Jobs are queued from
// the main thread only, so no thread ever holds two engine locks. Every other
// member is main-thread-only. shared() is made once on the main thread and
// never destroyed.
//
// Settings live in one INI file named after the suite, under the user's
// configuration folder ($XDG_CONFIG_HOME). A file that cannot be read or
// written, or does not parse, is logged ("Unable to access setup database")
// and the program runs on what it holds in memory; a file that does not parse
// is left as it is.
class Appwise {
public:
    // The settings suite: a reverse-DNS name of the program, also the end of
    // the keychain identifier.
    static constexpr char kSuiteName[] = "com.quorvel.connect";
    // The keychain identifier's first part when the application has no
    // identifier prefix.
    static constexpr char kInvalidPrefix[] = "INVALID AppIdentifierPrefix";
    static constexpr char kSetupDatabaseError[] = "Unable to access setup database";
    // A password change's renewal login was refused: no logout is announced.
    static constexpr char kRenewalRefusedLog[] =
        "Password change: the current password was refused at the renewal login; the session stays";

    // A new state with its own settings suite and alert presenter (the
    // application's are kSuiteName and a message box). Loads the settings,
    // which it writes only on a first run. On the main thread.
    Appwise(std::string suiteName, std::shared_ptr<AlertPresenter> alertPresenter);
    ~Appwise();
    Appwise(const Appwise&) = delete;
    Appwise& operator=(const Appwise&) = delete;

    // The instance of the run: the one installed, or else the application's,
    // made on first use.
    static Appwise& shared();
    // Makes `appwise` the shared instance (tests bring their own suite and
    // presenter). Like the application's, it is never destroyed.
    static Appwise& installShared(std::unique_ptr<Appwise> appwise);

    // --- fields --------------------------------------------------------------------
    const std::string& mySuiteName() const { return mySuiteName_; }
    // Both engines, made at construction and never replaced.
    const std::map<CommTasks, std::shared_ptr<ostrelcomm::SrvComm>>& commTasks() const { return commTasks_; }
    const std::shared_ptr<ostrelcomm::SrvComm>& engine(CommTasks task) const { return commTasks_.at(task); }
    const std::shared_ptr<ostrelcomm::NotificationCenter>& notifications() const { return notifications_; }

    // The credentials are known to be in the keychain (not persisted).
    bool credentialsInKeyring() const { return credentialsInKeyring_; }
    void setCredentialsInKeyring(bool value) { credentialsInKeyring_ = value; }
    // The user logged out during this run; no automatic login afterwards.
    bool loggedOut() const { return loggedOut_; }
    void setLoggedOut(bool value) { loggedOut_ = value; }
    // The credentials of the current or last login, as the login paths copy
    // them before they queue the login.
    const std::optional<std::string>& username() const { return username_; }
    void setUsername(std::optional<std::string> username) { username_ = std::move(username); }
    const std::optional<ostrelcomm::SecretBytes>& password() const { return password_; }
    void setPassword(std::optional<ostrelcomm::SecretBytes> password) { password_ = std::move(password); }

    // The local folder on show. Every set posts "refreshLocalFilesList", also
    // of the folder it already holds.
    const std::filesystem::path& localPath() const { return localPath_; }
    void setLocalPath(std::filesystem::path path);
    // The remote folder on show.
    ostrelcomm::VirtualPath& remotePath() { return remotePath_; }
    const ostrelcomm::VirtualPath& remotePath() const { return remotePath_; }
    // The listing of the remote folder on show, as the browser last took it;
    // null before the first and after a logout. Whoever else observed the
    // same answer may hold the same object: read it, never sort it in place.
    // Main thread.
    const ostrelcomm::tree::DirInfoPayload& remoteDirectoryInfo() const { return remoteDirectoryInfo_; }
    void setRemoteDirectoryInfo(ostrelcomm::tree::DirInfoPayload info) { remoteDirectoryInfo_ = std::move(info); }
    // A screen changed remote items: the browser lists its folder again.
    bool refreshRemoteContent() const { return refreshRemoteContent_; }
    void setRefreshRemoteContent(bool value) { refreshRemoteContent_ = value; }

    // The settings in memory; whoever changes them calls saveSetup().
    const AppSetup& setup() const { return setup_; }
    void setSetup(AppSetup setup) { setup_ = setup; }
    // The desktop's appearance when this was made.
    InterfaceStyle currentUIStyle() const { return currentUIStyle_; }
    // True while the constructor runs: loading the settings writes nothing back.
    bool initializing() const { return initializing_; }
    // A login session is established. Written on the engines' threads.
    bool authenticated() const { return authenticated_.load(); }
    // A password change runs on the fast engine: from just before it is
    // queued until the engine has reported its end ("userModification"),
    // which this object observes itself, the window that started it being
    // perhaps gone by then. The change first logs in again with the current
    // password; when the server refuses it, the engine gets its session back
    // and the slow engine never lost its own, so while a change runs a failed
    // login of the fast engine announces nothing: the change's own result
    // tells the user. Counted, so that a change queued behind another keeps
    // it until its own end. Begun on the main thread; read from any.
    void beginPasswordChange();
    bool passwordChangeRunning() const { return passwordChanges_->load() > 0; }
    // What the user has selected, announced on notifications(). Main thread.
    SelectedItems& selectedItems() { return *selectedItems_; }
    // The internal clipboard of remote items; the main window gives it its
    // center and name. Main thread.
    Pasteboard& pasteboard() { return *pasteboard_; }
    // A multi-file upload is running.
    bool fileXferInProgress() const { return fileXferInProgress_; }
    void setFileXferInProgress(bool value) { fileXferInProgress_ = value; }
    const std::string& appIdentifierPrefix() const { return appIdentifierPrefix_; }
    // The service name of the stored credentials: the prefix, then the suite.
    const std::string& keychainID() const { return keychainID_; }

    // --- settings ------------------------------------------------------------------
    // The terms of use were accepted; read and written in the suite each time.
    // False when the suite cannot be read.
    bool gcAccepted() const;
    void setGcAccepted(bool accepted);
    // Writes every setting, and "setupInitDone".
    void saveSetup();
    // Reads every setting into setup(); on a first run writes the defaults
    // first. Called by the constructor.
    void loadSetup();

    // --- alerts and bridges --------------------------------------------------------
    // The simple alert of every screen, from any thread; returns at once. On
    // the main thread, both texts are looked up in "Localizable" (a missing
    // key shows itself) and shown by the shared instance's presenter with the
    // information icon, whatever `iconName` says.
    static void runAlert(const std::string& messageText, const std::string& informativeText,
                         const std::string& iconName);
    AlertPresenter& alertPresenter() const { return *alertPresenter_; }
    // The engine's bridge to the widgets, made on first use.
    EngineBridge& bridge(CommTasks task);

private:
    std::unique_ptr<QSettings> openSuite() const;
    void saveSetupAfterRead();
    void observeEngines();
    void observe(ostrelcomm::SrvComm& engine, const char* name, ostrelcomm::NotificationCenter::Observer observer);
    // On "SRPAuthenticated" from `source`, under its lock.
    void handOverSession(const ostrelcomm::SrvComm& source, ostrelcomm::SrvComm& target,
                         const ostrelcomm::Notification& notification);
    void announceAuthentication(bool authenticated);
    // On "userModification" from the fast engine, under its lock: the
    // change stops counting once the engine's call that reported it is over.
    void endPasswordChange();

    std::string mySuiteName_;
    std::map<CommTasks, std::shared_ptr<ostrelcomm::SrvComm>> commTasks_;
    std::shared_ptr<ostrelcomm::NotificationCenter> notifications_;
    bool credentialsInKeyring_ = false;
    bool loggedOut_ = false;
    std::optional<std::string> username_;
    std::optional<ostrelcomm::SecretBytes> password_;
    std::filesystem::path localPath_;
    ostrelcomm::VirtualPath remotePath_;
    ostrelcomm::tree::DirInfoPayload remoteDirectoryInfo_;
    bool refreshRemoteContent_ = false;
    std::unique_ptr<SelectedItems> selectedItems_;
    std::unique_ptr<Pasteboard> pasteboard_;
    AppSetup setup_;
    InterfaceStyle currentUIStyle_ = InterfaceStyle::light;
    bool initializing_ = false;
    std::atomic<bool> authenticated_{false};
    // Shared with the work that lowers it, which may outlive this object.
    std::shared_ptr<std::atomic<int>> passwordChanges_ = std::make_shared<std::atomic<int>>(0);
    bool fileXferInProgress_ = false;
    std::string appIdentifierPrefix_;
    std::string keychainID_;

    // The settings file did not parse: it is neither read nor written again
    // during this run.
    mutable bool suiteMalformed_ = false;

    std::shared_ptr<AlertPresenter> alertPresenter_;
    std::map<CommTasks, std::unique_ptr<EngineBridge>> bridges_;
    // The observers on the engines' centers, removed when this goes.
    struct Observation {
        ostrelcomm::SrvComm* engine;
        std::shared_ptr<ostrelcomm::NotificationCenter> center;
        ostrelcomm::NotificationCenter::Token token;
    };
    std::vector<Observation> observations_;
};

}  // namespace quorvel
