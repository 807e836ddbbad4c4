#pragma once

// The application's own notifications, posted on Appwise's center. Screens
// talk to each other only through these. None carries a userInfo, except
// where said.

namespace quorvel {

// A login ended or the fast engine logged out; Appwise::authenticated() says
// which. Posted on the engine's thread.
inline constexpr char kAuthenticationStatusChangedNotification[] = "authenticationStatusChanged";
// The local folder on show was set (also to the folder it already was).
inline constexpr char kRefreshLocalFilesListNotification[] = "refreshLocalFilesList";
// The remote folder on show is to be listed again (after a login, too).
inline constexpr char kActionRefreshNotification[] = "actionRefresh";

// At launch, when the settings ask for automatic access: the main window
// opens the login sheet.
inline constexpr char kShowLoginSheetNotification[] = "showLoginSheet";

// The menu's commands, posted on the main thread.
inline constexpr char kActionShowAboutNotification[] = "actionShowAbout";
inline constexpr char kActionShowPreferencesNotification[] = "actionShowPreferences";
inline constexpr char kActionCreateNewUserNotification[] = "actionCreateNewUser";
inline constexpr char kCutRemoteItemsNotification[] = "cutRemoteItems";
inline constexpr char kCopyRemoteItemsNotification[] = "copyRemoteItems";
inline constexpr char kPasteRemoteItemsNotification[] = "pasteRemoteItems";
inline constexpr char kDeleteRemoteItemsNotification[] = "deleteRemoteItems";
inline constexpr char kSelectAllNotification[] = "selectAll";

// The selection changed: "location" ("local", "own", "shares") and the
// number selected under "selectedLocalFiles" (local) or
// "selectedRemoteFiles" (own, shares), as std::int64_t.
inline constexpr char kChangedFileSelectionNotification[] = "changedFileSelection";
inline constexpr char kLocationKey[] = "location";
inline constexpr char kSelectedLocalFilesKey[] = "selectedLocalFiles";
inline constexpr char kSelectedRemoteFilesKey[] = "selectedRemoteFiles";
inline constexpr char kLocationLocal[] = "local";
inline constexpr char kLocationOwn[] = "own";
inline constexpr char kLocationShares[] = "shares";
// The internal clipboard of remote items changed.
inline constexpr char kPasteboardChangedNotification[] = "pasteboardChanged";
// The remote folder on show changed (Appwise::remotePath, once the main
// window connected it).
inline constexpr char kRemotePathChangedNotification[] = "remotePathChanged";
// An upload started or ended, or a transfer was resumed: Appwise's
// fileXferInProgress says which.
inline constexpr char kFileXferInProgressNotification[] = "fileXferInProgress";
// The terms of use are to be shown (they were never accepted).
inline constexpr char kShowTOSSheetNotification[] = "showTOSSheet";
// The toolbar's Upload and Download.
inline constexpr char kActionSendFileToRemoteNotification[] = "actionSendFileToRemote";
inline constexpr char kActionReceiveFileFromRemoteNotification[] = "actionReceiveFileFromRemote";
// The preferences changed whether the whole jobs log is shown.
inline constexpr char kShowFullLogChangedNotification[] = "showFullLogChanged";

// Which of the Edit menu's items may be used, posted on the main thread. Its
// userInfo holds Bools only, under the keys below; a key left out leaves its
// item as it is.
inline constexpr char kAdjustEditMenuNotification[] = "adjustEditMenu";
inline constexpr char kCutEnableKey[] = "CutEnable";
inline constexpr char kCopyEnableKey[] = "CopyEnable";
inline constexpr char kPasteEnableKey[] = "PasteEnable";
inline constexpr char kDeleteEnableKey[] = "DeleteEnable";
inline constexpr char kSelectAllEnableKey[] = "SelectAllEnable";

}  // namespace quorvel
