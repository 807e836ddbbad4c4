#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// The main window's toolbar items; each name is also the item's object name.
// clang-format off
#define QUORVEL_TOOLBAR_ITEMS(X) \
    X(tbShare) X(tbRefresh) X(tbNewRemoteDirectory) X(tbDownload) X(tbUpload) X(tbRemoteItemInfo) \
    X(tbRenameItem) X(tbCopyItem) X(tbCutItem) X(tbPasteItem) X(tbDeleteItem) X(tbAccountInformations) \
    X(tbLoginLogout) X(tbNewLocalDir)
// clang-format on

enum class ToolbarItem {
#define QUORVEL_ENUM_CASE(name) name,
    QUORVEL_TOOLBAR_ITEMS(QUORVEL_ENUM_CASE)
#undef QUORVEL_ENUM_CASE
};

inline constexpr ToolbarItem kToolbarItems[] = {
#define QUORVEL_ENUM_CASE(name) ToolbarItem::name,
    QUORVEL_TOOLBAR_ITEMS(QUORVEL_ENUM_CASE)
#undef QUORVEL_ENUM_CASE
};

std::string_view name(ToolbarItem item);

// Which toolbar items may be used, decided from what the window knows; no
// state of its own, nothing read from anywhere else.
struct ToolbarRules {
    struct Facts {
        // Logged in, logged out, or absent: only the clipboard changed, and
        // the items that follow the login are left as they are.
        std::optional<bool> isAuthenticated;
        // No upload is running.
        bool enableFileXfer = true;
        // The remote pane shows the shares node or a peer's items.
        bool insideShares = false;
        // A FILE is among the selected own items.
        bool fileSelected = false;
        // Selected own items, shared items and local files.
        std::size_t own = 0;
        std::size_t shares = 0;
        std::size_t local = 0;
        // Items on the internal clipboard, own and shared.
        std::size_t clip = 0;
        // A paste of copied items is still copying them one after another.
        bool copyChainRunning = false;
    };

    // The Login item's look.
    struct LoginLook {
        // A named image of the application.
        std::string image;
        // A key of "Localizable".
        std::string label;
    };

    struct State {
        // The items to enable or disable; an item left out keeps its state.
        std::map<ToolbarItem, bool> enabled;
        // The Login item's image and label; absent: left as they are.
        std::optional<LoginLook> login;
        // The userInfo of "adjustEditMenu": Bools under its keys.
        std::map<std::string, bool> editMenu;
    };

    static State decide(const Facts& facts);
};

}  // namespace quorvel
