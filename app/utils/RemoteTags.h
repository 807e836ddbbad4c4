#pragma once

// Words the screens share about the remote pane: the requester tag of the
// main window's and main view's own requests, and the identifier of the
// node under which the items other users share with the user are listed.

namespace quorvel {

// The "source" of the browser's listings, so that its observer takes only
// its own answers.
inline constexpr char kMainWindowSource[] = "mainWindow";
// The first component of Appwise::remotePath() while the remote pane shows
// the users who share with the user, or one of them's items.
inline constexpr char kSharesNodeUUID[] = "SHARES";

}  // namespace quorvel
