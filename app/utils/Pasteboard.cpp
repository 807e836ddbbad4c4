#include "app/utils/Pasteboard.h"

namespace quorvel {

void Pasteboard::holdOwnElements(std::vector<ostrelcomm::RemoteItemInfo> items, OperationType operation) {
    shares_.clear();
    ownElements_ = std::move(items);
    ownElementsIterator_ = Iterator<ostrelcomm::RemoteItemInfo>(ownElements_);
    operationType_ = operation;
    announce();
}

void Pasteboard::holdShares(std::vector<ostrelcomm::SharedItem> items, OperationType operation) {
    ownElements_.clear();
    shares_ = std::move(items);
    sharesIterator_ = Iterator<ostrelcomm::SharedItem>(shares_);
    operationType_ = operation;
    announce();
}

void Pasteboard::clear() {
    ownElements_.clear();
    shares_.clear();
    operationType_ = OperationType::none;
    announce();
}

bool Pasteboard::uuidInPasteboard(std::string_view uuid) const {
    for (const auto& item : ownElements_)
        if (item.uuid == uuid) return true;
    for (const auto& item : shares_)
        if (item.itemuuid == uuid) return true;
    return false;
}

void Pasteboard::announce() const {
    if (notificationCenter_ && !notificationName_.empty()) notificationCenter_->post(notificationName_);
}

}  // namespace quorvel
