#include "app/Extensions/Localize.h"

#include <functional>
#include <map>

namespace quorvel {

namespace {

using Table = std::map<std::string, std::string, std::less<>>;

// Each screen adds its keys to "Localizable".
const std::map<std::string, Table, std::less<>>& tables() {
    static const std::map<std::string, Table, std::less<>> all = {
        {kLocalizableTable,
         Table{
             // Stored credentials and biometric unlock.
             {"LAuthWarning", "Confirm your fingerprint to log in with the credentials stored in your keyring."},
             {"Keyring error", "Keyring error"},
             {"BiometricLoginErrorMsg",
              "Your login credentials could not be read from the keyring. Please log in with your user name and "
              "password."},
             {"Login-Error", "Login failed"},
             {"LoginFailureMessage", "The login did not succeed. Please check your user name and password."},
             {"Cancel", "Cancel"},
             {"Use Password", "Use Password"},
             {"BiometricHintTouchSensor", "Touch the fingerprint reader."},
             {"BiometricHintNoMatch", "Fingerprint not recognised. Try again."},
             {"BiometricHintRetryScan", "The scan did not succeed. Touch the reader again."},
             {"BiometricHintSwipeTooShort", "The swipe was too short. Swipe again."},
             {"BiometricHintFingerNotCentered", "Centre your finger on the reader and try again."},
             {"BiometricHintRemoveAndRetry", "Lift your finger and touch the reader again."},
             {"Communication error", "Communication error"},
             {"menu.application", "&Quorvel Connect"},
             {"menu.about", "&About Quorvel Connect"},
             {"menu.preferences", "&Preferences…"},
             {"menu.newAccount", "&New Account…"},
             {"menu.quit", "&Quit Quorvel Connect"},
             {"menu.edit", "&Edit"},
             {"menu.cut", "Cu&t"},
             {"menu.copy", "&Copy"},
             {"menu.paste", "&Paste"},
             {"menu.delete", "&Delete"},
             {"menu.selectAll", "Select &All"},
             // Login sheet and the main window's Login/Logout.
             {"LoginSheetTitle", "Log in to Quorvel"},
             {"UsernameLabel", "User name:"},
             {"PasswordLabel", "Password:"},
             {"ServerLabel", "Server:"},
             {"ShowPasswordTip", "Show or hide the password"},
             {"OK", "OK"},
             {"Close", "Close"},
             {"AutoLoginErrorMsg",
              "Your login credentials could not be read from the keyring, so automatic login is now off. Please "
              "log in with your user name and password."},
             {"Login-NoServer", "No server to log in to"},
             {"LoginNoServerMessage", "There is no server to choose. The login was not started."},
             {"ToolbarTitle", "Toolbar"},
             {"Login", "Login"},
             {"Logout", "Logout"},

             // Main window, toolbar and remote edits.
             {"tb.share", "Share"},
             {"tb.refresh", "Refresh"},
             {"tb.newRemoteDirectory", "New Folder"},
             {"tb.download", "Download"},
             {"tb.upload", "Upload"},
             {"tb.remoteItemInfo", "Info"},
             {"tb.renameItem", "Rename"},
             {"tb.copyItem", "Copy"},
             {"tb.cutItem", "Cut"},
             {"tb.pasteItem", "Paste"},
             {"tb.deleteItem", "Delete"},
             {"tb.accountInformations", "Account"},
             {"tb.newLocalDir", "New Local Folder"},
             {"DeleteItemConfirm", "Delete the selected items?"},
             {"DeleteItemConfirmMsg",
              "The selected files and folders, with everything the folders hold, are deleted from the server. This "
              "cannot be undone."},
             {"DeleteShareConfirm", "Remove the selected shares?"},
             {"DeleteShareConfirmMsg", "The items stay with their owners, but you can no longer open them."},
             {"Delete", "Delete"},
             {"Remove", "Remove"},

             // Browser: tables, path bars and the main view.
             {"SHARES", "Shared with Me"},
             {"FilesTabTitle", "Files"},
             {"JobsTabTitle", "Jobs"},
             {"NameColumn", "Name"},
             {"SizeColumn", "Size"},
             {"DateModifiedColumn", "Date Modified"},
             {"JobColumn", "Job"},
             {"JobQueuedColumn", "Queued"},
             {"JobDetailColumn", "Progress"},
             {"JobsAll", "All"},
             {"JobsCompleted", "Completed"},
             {"JobsFailed", "Failed"},
             {"JobsAborted", "Aborted"},
             {"JobsDetailedView", "Show All Jobs"},

             // Jobs list.
             {"JobsCleanup", "Clean Up"},
             {"Resume job", "Resume Job"},
             {"Abort job", "Abort Job"},
             {"Sending data...", "Sending data..."},
             {"TransferRate", "%1/s"},
             {"TimeLeftSeconds", "%1 s left"},
             {"TimeLeftMinutes", "%1 min %2 s left"},
             {"TimeLeftHours", "%1 h %2 min left"},

             // Transfers: the download report and the upload strip.
             {"SendingMultipleFileProgress", "Sending item %1 of %2 (%3/s)"},
             {"hours", "h"},
             {"minutes", "min"},
             {"seconds", "s"},
             {" left", " left"},
             {"All files sent", "All files sent"},
             {"Aborted by user", "Aborted by user"},
             {"Error sending files", "Error sending files"},

             // Sending and receiving.
             {" (aborting)", " (aborting)"},
             {"UploadRefusedItems", "Some items were not sent"},
             {"UploadRefusedItemsMsg",
              "These items are not regular files or folders, could not be read, or have names that are not "
              "valid UTF-8:"},

             // New account, terms, preferences and about.
             {"NewUserSheetTitle", "Create a Quorvel Account"},
             {"VerifyPasswordLabel", "Verify password:"},
             {"Create", "Create"},
             {"UsernameBlanksReason", "A user name cannot begin or end with a space."},
             {"Very easy to guess", "Very easy to guess"},
             {"Easy to guess", "Easy to guess"},
             {"Moderate", "Moderate"},
             {"Strong", "Strong"},
             {"Match", "Match"},
             {"Doesn't match!", "Doesn't match!"},
             {"You're ready to go!", "You're ready to go!"},
             {"NewUserCreatedMSG", "Your account has been created. Log in with your user name and password to use it."},
             {"userCreationError", "The account could not be created"},
             {"NewUser-NoServer", "No server to create the account on"},
             {"NewUserNoServerMessage", "There is no server to choose. The account was not created."},
             {"TOSSheetTitle", "Terms of Use"},
             {"TOSMessage",
              "Before you use Quorvel Connect, please read the terms of use and the privacy policy on this page, "
              "and accept them:"},
             {"Accept", "Accept"},
             {"Decline", "Decline and Quit"},
             {"PreferencesSheetTitle", "Preferences"},
             {"ShowFullLogLabel", "Show every job in the jobs list"},
             {"SendingConflictLabel", "When an uploaded item exists already:"},
             {"ConflictSkipIfEqual", "Skip it if it is the same"},
             {"ConflictAlwaysReplace", "Always replace it"},
             {"ConflictRename", "Keep both, renaming the new one"},
             {"AboutSheetTitle", "About Quorvel Connect"},
             {"AboutApplicationName", "Quorvel Connect"},
             {"InternalUseNotice", "For internal use only"},

             // New folders and rename.
             {"NewLocalFolderSheetTitle", "New Local Folder"},
             {"NewLocalFolderMessage", "Make a folder in the local folder on show."},
             {"LocalFolderCreationErr", "The folder could not be created"},
             {"NewRemoteFolderSheetTitle", "New Folder"},
             {"NewRemoteFolderMessage", "Make a folder on the server, in the remote folder on show."},
             {"NewRemoteFolderExists", "An item of this folder already has this name."},
             {"NewFolderNameLabel", "Name:"},
             {"RenameSheetTitle", "Rename"},
             {"RenameNameLabel", "New name:"},
             {"Rename", "Rename"},

             // Share and information sheets.
             {"ShareSheetTitle", "Share"},
             {"Share", "Share"},
             {"Multiple items", "Multiple items"},
             {"share.searchPlaceholder", "Find a user by name, then press Return"},
             {"share.column", "Share with"},
             {"No peers found", "No user found"},
             {"NoPeersFoundMsg", "No user has this name. User names are case-sensitive: check how it is spelt."},
             {"ShareUntrustedTitle", "Share with a user you have not trusted?"},
             {"ShareUntrustedMessage",
              "At least one of the chosen users is not among your trusted users, so you cannot be sure who holds "
              "that account. Share only if you know it is the person you mean."},
             {"ItemInfoSheetTitle", "Information"},
             {"info.name", "Name:"},
             {"info.created", "Created:"},
             {"info.modified", "Modified:"},
             {"info.size", "Size:"},
             {"info.kind", "Type:"},
             {"Unknown", "Unknown"},
             {"info.sharedWith", "Shared with:"},
             {"Delete share", "Delete share"},

             // Account window: profile, usage, activities, deletion.
             {"AccountWindowTitle", "Account"},
             {"ProfileTab", "Profile"},
             {"UsageTab", "Usage"},
             {"ActivitiesTab", "Activities"},
             {"TrustsTab", "Trusted Users"},
             {"SecurityTab", "Security"},
             {"UsernameTitle", "User name:"},
             {"CurrentPlanTitle", "Plan:"},
             {"PlanExpiryTitle", "Plan expires:"},
             {"MemberSinceTitle", "Member since:"},
             {"This plan never expire", "This plan never expires"},
             {"ActivitiesScaleLabel", "Show:"},
             {"ActivitiesScale20", "Last 20 logins"},
             {"ActivitiesScale50", "Last 50 logins"},
             {"ActivitiesScale100", "Last 100 logins"},
             {"ActivitiesScaleAll", "All logins"},
             {"ActivityDateColumn", "Date"},
             {"ActivityResultColumn", "Result"},
             {"ActivityDetailsColumn", "Details"},
             {"FAILED", "Failed"},
             {"SUCCESS", "Succeeded"},
             {"ACTUAL", "Current session"},
             {"TrustedUserColumn", "Trusted user"},
             {"OwnTrustCodeTitle", "Your trust code:"},
             {"ChangePasswordTitle", "Password"},
             {"OldPasswordLabel", "Current password:"},
             {"NewPasswordLabel", "New password:"},
             {"RepeatPasswordLabel", "Repeat new password:"},
             {"ChangePasswordButton", "Change Password"},
             {"StoredCredentialsTitle", "Login"},
             {"CredentialsInKeyringOption", "Keep my user name and password in the keyring"},
             {"AutoAccessAtStartupOption", "Log in automatically at start-up"},
             {"BiometricLoginOption", "Log in with my fingerprint"},
             {"DeleteProfileTitle", "Delete Profile"},
             {"DeleteProfileHint",
              "Deleting your profile removes your account and every file and folder you stored from the server. "
              "Type your password to go on."},
             {"DeleteProfilePasswordPlaceholder", "Password"},
             {"DeleteProfileButton", "Delete Profile…"},
             {"LastChanceMsg", "Delete your profile and all your data?"},
             {"LastChanceMsgExt",
              "Your account, your files and folders, your trusted users and your shares will be removed from the "
              "server. This cannot be undone."},
             {"DELETE MY DATA", "DELETE MY DATA"},
             {"DataDeletedConf", "Your profile was deleted"},
             {"DataDeletedConfExt",
              "Your account and all your data were removed from the server. You are now logged out."},
             {"DataDeleteError", "Your profile could not be deleted."},

             // Account window: trusted users and the QR code.
             {"Add trusted user", "Add Trusted User"},
             {"Reading...", "Reading…"},
             {"Remove", "Remove"},
             {"ItemDeleteTitle", "Remove this trusted user?"},
             {"TrustDeleteMsg", "%1 will no longer be one of your trusted users."},
             {"Camera unavailable", "Camera unavailable"},
             {"InvalidTrustCode", "Not a trust code"},
             {"InvalidTrustCodeMsg", "This QR code is not the trust code of a Quorvel Connect user."},
             {"TrustYourselfMsg", "This is your own trust code: you cannot add yourself to your trusted users."},
             {"ValidTrustCode", "Add a trusted user"},
             {"ValidTrustCodeMsg", "Add %1 to your trusted users? You can then share items with %1."},
             {"Ok", "OK"},

             // Account window: security.
             {"Doesn't match", "Doesn't match"},
             {"CredentialsStored", "Your user name and password are now kept in your keyring"},
             {"ChooseAccessTypeMsg",
              "Choose how they are used: to log in automatically when Quorvel Connect starts, or to log in with "
              "your fingerprint when you press Login."},
             {"NoBiometricAccessMsg",
              "Quorvel Connect will use them to log in automatically when it starts. This computer has no "
              "fingerprint reader, so fingerprint login is not offered."},
             {"CredentialsNotStored", "Your user name and password could not be kept in your keyring"},
             {"CredentialsRemoved", "Your user name and password were removed from your keyring"},
             {"CredentialsNotRemoved",
              "Your user name and password could not be removed from your keyring. Quorvel Connect will not "
              "use them any more"},
             {"CredStoredWarnTitle", "Your password is kept in your keyring"},
             {"CredStoredWarnMsg",
              "Before you change your password, remove your user name and password from your keyring: uncheck "
              "the keyring option below, then change the password."},
             {"Modification done", "Your password has been changed"},
             {"ModificationDoneMsg", "You are now logged out. Log in again with your new password."},
             {"ModificationError", "Your password could not be changed"},
             {"ModificationErrorMsg", "Check your current password and your connection, then try again."},
         }},
        {kCommStatesTable,
         Table{
             {"jobType.nop", "No operation"},
             {"jobType.userAdd", "Create account"},
             {"jobType.getProfile", "Read profile"},
             {"jobType.getShareProfile", "Read sharing profile"},
             {"jobType.getSessionsInformations", "Read login activities"},
             {"jobType.deleteProfile", "Delete profile"},
             {"jobType.modifyUser", "Change password"},
             {"jobType.authenticate", "Log in"},
             {"jobType.logout", "Log out"},
             {"jobType.fileSend", "Upload"},
             {"jobType.fileReceive", "Download"},
             {"jobType.getFolderInfo", "List folder"},
             {"jobType.createFolder", "Create folder"},
             {"jobType.getDirectoryTree", "Read folder tree"},
             {"jobType.getFileInfo", "Read file information"},
             {"jobType.fileModify", "Modify file"},
             {"jobType.fileCopy", "Copy file"},
             {"jobType.fileDelete", "Delete file"},
             {"jobType.directoryModify", "Modify folder"},
             {"jobType.directoryDelete", "Delete folder"},
             {"jobType.addTrustedUser", "Trust user"},
             {"jobType.listTrusts", "List trusted users"},
             {"jobType.removeTrust", "Remove trusted user"},
             {"jobType.shareItem", "Share item"},
             {"jobType.removeShare", "Remove share"},
             {"jobType.queryForShares", "List shares"},
             {"jobType.queryForSharingPeers", "List users sharing with you"},
             {"jobType.queryForSharedItems", "List items shared with you"},
         }},
    };
    return all;
}

}  // namespace

std::string localize(std::string_view key, std::string_view table) {
    auto t = tables().find(table);
    if (t == tables().end()) return std::string(key);
    auto entry = t->second.find(key);
    if (entry == t->second.end()) return std::string(key);
    return entry->second;
}

}  // namespace quorvel
