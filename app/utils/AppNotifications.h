#pragma once

// The application's own notifications, posted on Appwise's center without
// userInfo. Screens talk to each other only through these.

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

}  // namespace quorvel
