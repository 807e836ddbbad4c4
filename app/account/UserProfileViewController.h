#pragma once

#include <QDialog>
#include <QImage>
#include <QMetaObject>
#include <QPoint>
#include <QPointer>
#include <QString>

#include <array>
#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/account/CameraProvider.h"
#include "app/account/QrCodeReader.h"
#include "app/account/UserProfileTableSource.h"
#include "app/utils/EngineBridge.h"
#include "platform/Bytes.h"
#include "shares/TrustCode.h"
#include "user/UserProfile.h"
#include "user/UserSessionData.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QContextMenuEvent;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTableView;

namespace quorvel {

class LevelIndicator;

// The account window "userProfile": five tabs, "Profile" (the user, the
// plan and the profile deletion), "Usage" (the storage used), "Activities"
// (the login history), "Trusts" (the trusted users and the user's own trust
// code) and "Security" (the password and the stored credentials).
//
// Its widgets are found by their object names: "tabView"; "lblUsername",
// "lblCurrentPlan", "lblPlanExpiry", "lblMemberSince", "lblUsedSpace",
// "cliUsedSpace" (a LevelIndicator), "lblFilesAndFolder", "qrCodeImageView";
// "tblActivity", "scActivityRecordQuantity", "activityLoadingSpinner";
// "tblTrustedUser", "btnAddTrustedUser", "qrCodeFrameView",
// "imgCameraAvailability"; "oldDataAccessPassword", "newDataAccessPassword",
// "newDataAccessPasswordCheck", "newDataAccessPwStrengthIndicator",
// "newDataAccessPwEqualityIndicator", "btnChangeDataAccessPassword",
// "cbCredentialsInKeyring", "rbBiometricLogin", "rbAutoAccessAtStartup",
// "secProgressSpinner"; "deleteProfilePassword", "btnDeleteProfile",
// "delProfProgressSpinner"; and the close button "btnClose". Every text that
// comes from the user or a server is shown as plain text.
//
// All its work goes to the fast engine, and it hears of the results through
// that engine's bridge: every result reaches it on the main thread, which is
// the only thread that reads or replaces the rows of its tables.
//
// Loading asks, in this order, for the login history (the first 20 records),
// the profile (once per opening: nothing refreshes it later) and the trusted
// users. A profile answer that is not a "Completed" one with a profile closes
// the window after a line in the system log.
//
// Its camera (makeCameraProvider(), made with the window) reads the trust
// codes of other users: the frames are read off the main thread, and what
// they hold comes back to it.
//
// Opened window-modal with open() on the main window; closed with done(0) by
// closeSheet(), which first drops every registration with the bridge. The
// close button, Escape and the close box go through doClose().
//
// On the main thread only, but for startSpinner() and stopSpinner().
class UserProfileViewController : public QDialog {
    Q_OBJECT

public:
    enum class SelectedTab { profile, usage, activities, trusts, security };

    // The identifiers of the two tables.
    static constexpr char kActivityTable[] = "activity";
    static constexpr char kTrustedUsersTable[] = "trustedUsers";
    // The "end" of the history query for each choice of
    // scActivityRecordQuantity, in order: the last 20, 50, 100 records, and
    // end 0, which the server reads as it sees fit.
    static constexpr std::array<std::size_t, 4> activitiesScales{20, 50, 100, 0};
    // The diagnostics of a profile answer the window cannot show.
    static constexpr char kWrongResultLog[] = "userProfileDataAvailable observer: Wrong result";
    static constexpr char kUndecodableLog[] = "userProfileDataAvailable observer: Unable to decode notification data";
    static constexpr char kUnreadableProfileLog[] = "UserprofileViewController observer: Unreadable UserProfile";
    // The name the own trust code carries when the application has none.
    static constexpr char kNoUsername[] = "NO-USERNAME";

    // Makes the window and loads it: its first queries are queued when this
    // returns.
    explicit UserProfileViewController(QWidget* parent = nullptr);
    ~UserProfileViewController() override;
    UserProfileViewController(const UserProfileViewController&) = delete;
    UserProfileViewController& operator=(const UserProfileViewController&) = delete;

    // --- frame ---------------------------------------------------------------------
    SelectedTab selectedTab() const { return selectedTab_; }
    // The tab at `index` of tabView was chosen: its identifier ("Profile",
    // "Usage", "Activities", "Trusts", "Security", kept as the tab's data)
    // gives selectedTab; any other identifier, or none, leaves it. Selecting
    // loads nothing.
    void tabViewDidSelect(int index);

    // The tables' data source: rows of the table named by its identifier, and
    // the cell at a column position of a row; 0 rows and no cell for another
    // identifier.
    int numberOfRows(const QString& table) const;
    std::optional<TableCell> tableViewCell(const QString& table, int column, int row) const;

    // The text of one of the password fields changed.
    void controlTextDidChange(const QLineEdit* field);

    // Show and animate, or stop and hide, a spinner of the window: both queue
    // their work on the main thread, in the order called, from any thread.
    void startSpinner(QProgressBar* spinner);
    void stopSpinner(QProgressBar* spinner);

    // Asks the fast engine for the profile; its answer fills the window.
    void getUserProfile();
    // The close button: any camera capture stops first, then closeSheet().
    void doClose();
    // Drops every registration with the bridge, clears every password
    // field, and ends the window with done(0). Once only.
    void closeSheet();
    // Escape and the close box are the close button.
    void reject() override;

    // --- login activities ------------------------------------------------------------
    // Follows (true) or stops following (false) the history query's results.
    void activitiesObserver(bool activate);
    // Queries the history from `start` to `end`; the rows on show stay until
    // the answer replaces them.
    void doGetActivities(std::size_t start, std::size_t end);
    // scActivityRecordQuantity was chosen: the history again, from 0 to the
    // choice's scale.
    void loadActivityRecords();
    const std::vector<ostrelcomm::UserSessionData>& usersActivities() const { return usersActivities_; }

    // --- profile deletion ------------------------------------------------------------
    // Follows (true) or stops following (false) the deletion's result.
    void deleteProfileObserver(bool activate);
    // btnDeleteProfile: doDeleteProfile().
    void deleteAllData();
    // Asks a last time; on "DELETE MY DATA", deletes the profile with the
    // password typed. Whatever the outcome, once its alert is closed both
    // engines log out and the window closes.
    void doDeleteProfile();

    // --- trusted users ---------------------------------------------------------------
    // The diagnostics of the camera looked for at load.
    static constexpr char kNoCameraLog[] =
        "Unable to get default video capture device - No camera available on device?";
    static constexpr char kFrontCameraLog[] = "Reading from front Camera";
    static constexpr char kBackCameraLog[] = "Reading from back camera";
    static constexpr char kUnspecifiedCameraLog[] =
        "Unspecified capture device - Don't worry: Maybe your device has only one camera!";
    // The named images beside the add button.
    static constexpr char kCameraAvailableImage[] = "CameraAvailable";
    static constexpr char kCameraNotAvailableImage[] = "CameraNotAvailable";

    // Follows (true) or stops following (false) the trusted users' list (it
    // replaces the rows, on the main thread), their removals and additions
    // (each asks for the list again; an addition that fails shows the
    // communication error).
    void trustedUsersObservers(bool activate);
    const std::vector<ostrelcomm::TrustCode>& trusts() const { return trusts_; }
    // A right click at `globalPosition`: on the "Trusts" tab with a row of
    // tblTrustedUser selected, a menu ("trustedUserMenu") with "Remove";
    // elsewhere nothing.
    void rightMouseDown(const QPoint& globalPosition);
    // Asks whether to remove the trusted user of the selected row; "Remove"
    // removes it (by its user identifier) and the list is asked for again
    // when the removal ends, whatever its outcome.
    void removeTrustedUser();

    // Draws the user's own trust code as a QR code in qrCodeImageView, at the
    // window's pixel ratio. A code that cannot be made or is not all ASCII (a
    // name outside ASCII) keeps the image shown before, none at first.
    void drawTrustCodeImage(const std::string& userUUID, const std::string& username, ostrelcomm::ByteView pubSHKey);
    const QImage& trustCodeQRLight() const { return trustCodeQRLight_; }

    // Looks for a camera: true when one is usable.
    bool setupCamera();
    // The add button is enabled, and the camera image says so, exactly when
    // the camera is usable.
    void setupCameraUI(bool cameraUsable);
    // btnAddTrustedUser: starts a capture, or stops the one running.
    void addTrustedUser();
    // Starts reading QR codes from the camera; a camera that cannot start
    // shows "Camera unavailable" with its description and stays idle.
    void startCapture();
    // Stops any capture: idle again, and the frames still on their way are
    // dropped. A capture also stops at the first code read and when the
    // window closes.
    void stopCapture();
    bool captureInProgress() const { return captureInProgress_; }
    // Checks a scanned text and, for another user's trust code, asks whether
    // to trust that user. Texts come one after the other: the next is
    // checked once the alert of the one before is answered.
    void validateData(const std::string& scanned);

    // --- security ---------------------------------------------------------------------
    // The password change, and the credentials in the keychain with the way
    // they are used: automatic access at start-up or biometric login, one of
    // them exactly while credentials are stored (automatic access unless the
    // user chose otherwise), neither while none are. The tab's state is
    // rebuilt from Appwise::credentialsInKeyring() at each opening, which may
    // clear both access types. No setting is saved while Appwise initializes.
    //
    // Follows (true) or stops following (false) the password change's result.
    void securityObservers(bool activate);
    // "..." for both verdicts, and the credential controls as the state has
    // them.
    void setupSecurityControls();
    // btnChangeDataAccessPassword: refused while credentials are stored (the
    // stored password would be stale) and without a user name on the fast
    // engine; else the change is queued, the three password fields are
    // cleared, and the button stays disabled until the new passwords are
    // edited again. Its result comes as an alert.
    void changeDataAccessPassword();
    // cbCredentialsInKeyring: stores the session's credentials when checked,
    // removes them when unchecked; each ends with an alert whose closing sets
    // the state and the controls. A removal the keychain refuses still counts
    // as one.
    void changeCredentialsInKeyring();
    // One of the two radio buttons: both settings saved as they show.
    void loginTypeChanged();
    // The strength verdict of the new password.
    void checkFullAccessPasswordStrength();
    // Whether the two new passwords match (two empty ones do), with its
    // verdict.
    bool checkFullAccessPasswordMatch();

protected:
    // A right click anywhere in the window: rightMouseDown().
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void adjustLoginButtons();
    void storeCredInKeyring();
    void removeCredInKeyring();
    void userModification(const UserModificationEvent& event);
    // Empties the three password fields without counting it as an edit.
    void clearDataAccessPasswords();

    void buildView();
    QWidget* buildProfileTab();
    QWidget* buildUsageTab();
    QWidget* buildActivitiesTab();
    QWidget* buildTrustsTab();
    QWidget* buildSecurityTab();
    void viewDidLoad();

    void userProfileDataAvailable(const UserProfileEvent& event);
    void fillProfile(const ostrelcomm::UserProfile& profile);
    void getUserSessionsData(const UserSessionsEvent& event);
    std::optional<TableCell> activityCell(int column, int row) const;
    std::optional<TableCell> trustedUserCell(int column, int row) const;
    void userProfileDeleted(const UserProfileDeletedEvent& event);
    void trustsListed(const TrustsListEvent& event);
    void trustRemoved(const TrustRemoveEvent& event);
    void trustCreated(const TrustCreationEvent& event);
    void setCaptureInProgress(bool capturing);
    void codesRead(unsigned capture, std::vector<std::string> texts);
    void cameraFailed(unsigned capture, const QString& description);
    void validateNextCode();

    SelectedTab selectedTab_ = SelectedTab::profile;
    QTabWidget* tabView_ = nullptr;
    QPushButton* btnClose_ = nullptr;
    bool closed_ = false;

    // Profile and usage.
    QLabel* qrCodeImageView_ = nullptr;
    QLabel* lblUsername_ = nullptr;
    QLabel* lblCurrentPlan_ = nullptr;
    QLabel* lblPlanExpiry_ = nullptr;
    QLabel* lblMemberSince_ = nullptr;
    QMetaObject::Connection userProfileObserver_;
    QImage trustCodeQRLight_;
    QLabel* lblUsedSpace_ = nullptr;
    LevelIndicator* cliUsedSpace_ = nullptr;
    QLabel* lblFilesAndFolder_ = nullptr;

    // Login activities.
    QTableView* tblActivity_ = nullptr;
    QComboBox* scActivityRecordQuantity_ = nullptr;
    QProgressBar* activityLoadingSpinner_ = nullptr;
    UserProfileTableSource* activitySource_ = nullptr;
    std::vector<ostrelcomm::UserSessionData> usersActivities_;
    QMetaObject::Connection getActivitiesObserver_;

    // Trusted users.
    QPushButton* btnAddTrustedUser_ = nullptr;
    QWidget* qrCodeFrameView_ = nullptr;
    QTableView* tblTrustedUser_ = nullptr;
    QLabel* imgCameraAvailability_ = nullptr;
    UserProfileTableSource* trustedUsersSource_ = nullptr;
    QMetaObject::Connection tableRefreshObserver_;
    QMetaObject::Connection trustRemovedObserver_;
    QMetaObject::Connection addTrustedUsersObserver_;
    // The camera, made with the window.
    std::unique_ptr<CameraProvider> captureSession_;
    std::optional<CameraDevice> captureDevice_;
    QPointer<QWidget> videoPreviewLayer_;
    // Reads the frames of the running capture; none while idle.
    std::unique_ptr<QrCodeReader> qrCodeDetector_;
    bool captureInProgress_ = false;
    // Each capture's number: what a stopped capture still reads is dropped.
    unsigned captureNumber_ = 0;
    // Scanned texts waiting for the alert before them to be answered.
    std::deque<std::string> codesToValidate_;
    bool validating_ = false;
    std::vector<ostrelcomm::TrustCode> trusts_;

    // Security.
    QLineEdit* oldDataAccessPassword_ = nullptr;
    QLineEdit* newDataAccessPassword_ = nullptr;
    QLineEdit* newDataAccessPasswordCheck_ = nullptr;
    QLabel* newDataAccessPwStrengthIndicator_ = nullptr;
    QLabel* newDataAccessPwEqualityIndicator_ = nullptr;
    QPushButton* btnChangeDataAccessPassword_ = nullptr;
    QCheckBox* cbCredentialsInKeyring_ = nullptr;
    QRadioButton* rbBiometricLogin_ = nullptr;
    QRadioButton* rbAutoAccessAtStartup_ = nullptr;
    QProgressBar* secProgressSpinner_ = nullptr;
    // The two radio buttons: at most one of them on.
    QButtonGroup* loginTypeGroup_ = nullptr;
    QMetaObject::Connection dataAccessPwModificationObserver_;

    // Profile deletion.
    QLineEdit* deleteProfilePassword_ = nullptr;
    QPushButton* btnDeleteProfile_ = nullptr;
    QProgressBar* delProfProgressSpinner_ = nullptr;
    QMetaObject::Connection deleteProfileObserver_;
};

}  // namespace quorvel
