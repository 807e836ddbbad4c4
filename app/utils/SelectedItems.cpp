#include "app/utils/SelectedItems.h"

#include <cstdint>
#include <string>
#include <utility>

#include "app/utils/AppNotifications.h"

namespace quorvel {

void SelectedItems::setLocalFiles(std::vector<Metadata> localFiles) {
    localFiles_ = std::move(localFiles);
    announce(kLocationLocal, kSelectedLocalFilesKey, localFiles_.size());
}

void SelectedItems::setOwnElements(std::vector<ostrelcomm::RemoteItemInfo> ownElements) {
    ownElements_ = std::move(ownElements);
    announce(kLocationOwn, kSelectedRemoteFilesKey, ownElements_.size());
}

void SelectedItems::setShares(std::vector<ostrelcomm::SharedItem> shares) {
    shares_ = std::move(shares);
    announce(kLocationShares, kSelectedRemoteFilesKey, shares_.size());
}

void SelectedItems::announce(const char* location, const char* countKey, std::size_t count) const {
    if (!notifications_) return;
    notifications_->post(kChangedFileSelectionNotification,
                         {{kLocationKey, std::string(location)}, {countKey, static_cast<std::int64_t>(count)}});
}

}  // namespace quorvel
