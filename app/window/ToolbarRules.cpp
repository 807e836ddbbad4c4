#include "app/window/ToolbarRules.h"

#include "app/utils/AppNotifications.h"

namespace quorvel {

std::string_view name(ToolbarItem item) {
    switch (item) {
#define QUORVEL_ENUM_CASE(name) \
    case ToolbarItem::name:     \
        return #name;
        QUORVEL_TOOLBAR_ITEMS(QUORVEL_ENUM_CASE)
#undef QUORVEL_ENUM_CASE
    }
    return "";
}

ToolbarRules::State ToolbarRules::decide(const Facts& facts) {
    using enum ToolbarItem;
    State state;
    auto& enabled = state.enabled;
    enabled[tbLoginLogout] = true;

    if (facts.isAuthenticated) {
        const bool in = *facts.isAuthenticated;
        enabled[tbRefresh] = in;
        enabled[tbAccountInformations] = in;
        enabled[tbNewRemoteDirectory] = in && !facts.insideShares;
        if (!in) {
            // Only Login is usable; the images are the logged-out look's.
            state.login = LoginLook{"btn-logout", "Login"};
            for (const ToolbarItem item : {tbUpload, tbShare, tbDownload, tbRemoteItemInfo, tbRenameItem,
                                           tbDeleteItem, tbCutItem, tbCopyItem, tbPasteItem})
                enabled[item] = false;
            state.editMenu = {{kCutEnableKey, false},
                              {kCopyEnableKey, false},
                              {kPasteEnableKey, false},
                              {kDeleteEnableKey, false},
                              {kSelectAllEnableKey, false}};
            return state;
        }
        state.login = LoginLook{"btn-login", "Logout"};
    }

    const std::size_t remote = facts.own + facts.shares;
    enabled[tbShare] = facts.own > 0 && facts.fileSelected;
    enabled[tbDownload] = remote >= 1 && facts.enableFileXfer;
    enabled[tbRemoteItemInfo] = remote > 0;
    enabled[tbUpload] = facts.local > 0 && !facts.insideShares && facts.enableFileXfer;
    enabled[tbRenameItem] = facts.own > 0;
    enabled[tbDeleteItem] = remote > 0;
    enabled[tbCutItem] = facts.own > 0;
    enabled[tbCopyItem] = remote > 0;
    // A paste while copies of an earlier one still run would mix the two.
    enabled[tbPasteItem] =
        facts.clip >= 1 && !facts.insideShares && facts.enableFileXfer && !facts.copyChainRunning;

    // Select All follows the table the user works in, not these rules.
    state.editMenu = {{kCutEnableKey, enabled[tbCutItem]},
                      {kCopyEnableKey, enabled[tbCopyItem]},
                      {kPasteEnableKey, enabled[tbPasteItem]},
                      {kDeleteEnableKey, enabled[tbDeleteItem]}};
    return state;
}

}  // namespace quorvel
