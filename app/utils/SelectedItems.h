#pragma once

#include <memory>
#include <vector>

#include "app/local/Metadata.h"
#include "platform/NotificationCenter.h"
#include "shares/SharedItem.h"
#include "tree/RemoteItemInfo.h"

namespace quorvel {

// What the user has selected: rows of the local table, items of their own
// remote tree, and items other users share with them. The browser writes it,
// the toolbar and the remote edits read it.
//
// Every assignment of a list, also of an empty one, posts
// "changedFileSelection" on notifications() (when set) with "location" and
// the list's new count as std::int64_t (app/utils/AppNotifications.h).
//
// On the main thread only.
class SelectedItems {
public:
    explicit SelectedItems(std::shared_ptr<ostrelcomm::NotificationCenter> notifications = nullptr)
        : notifications_(std::move(notifications)) {}

    const std::vector<Metadata>& localFiles() const { return localFiles_; }
    void setLocalFiles(std::vector<Metadata> localFiles);
    const std::vector<ostrelcomm::RemoteItemInfo>& ownElements() const { return ownElements_; }
    void setOwnElements(std::vector<ostrelcomm::RemoteItemInfo> ownElements);
    const std::vector<ostrelcomm::SharedItem>& shares() const { return shares_; }
    void setShares(std::vector<ostrelcomm::SharedItem> shares);

    const std::shared_ptr<ostrelcomm::NotificationCenter>& notifications() const { return notifications_; }
    void setNotifications(std::shared_ptr<ostrelcomm::NotificationCenter> notifications) {
        notifications_ = std::move(notifications);
    }

private:
    void announce(const char* location, const char* countKey, std::size_t count) const;

    std::vector<Metadata> localFiles_;
    std::vector<ostrelcomm::RemoteItemInfo> ownElements_;
    std::vector<ostrelcomm::SharedItem> shares_;
    std::shared_ptr<ostrelcomm::NotificationCenter> notifications_;
};

}  // namespace quorvel
