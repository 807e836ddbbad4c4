#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/NotificationCenter.h"
#include "shares/SharedItem.h"
#include "tree/RemoteItemInfo.h"

namespace quorvel {

// The internal clipboard of remote items: the user's own items or items
// shared with the user, and what the next paste does with them. The
// platform's clipboard is not used.
//
// Every change of content is announced: notificationName() is posted on
// notificationCenter() (no userInfo) when both are set. The operation is set
// before the announcement, so that an observer reading it on the spot sees
// the new one.
//
// On the main thread only.
class Pasteboard {
public:
    enum class OperationType { none, remoteCut, remoteOwnCopy, remoteShareCopy };

    // A list and the position of its next element. It holds its own copy of
    // the list, so emptying the clipboard does not stop a walk under way.
    template <class T>
    class Iterator {
    public:
        Iterator() = default;
        explicit Iterator(std::vector<T> list) : list_(std::move(list)) {}
        // The next element, and the position moves past it; none at the end.
        std::optional<T> next() {
            if (position_ >= list_.size()) return std::nullopt;
            return list_[position_++];
        }
        const std::vector<T>& list() const { return list_; }
        std::size_t position() const { return position_; }

    private:
        std::vector<T> list_;
        std::size_t position_ = 0;
    };

    const std::shared_ptr<ostrelcomm::NotificationCenter>& notificationCenter() const { return notificationCenter_; }
    void setNotificationCenter(std::shared_ptr<ostrelcomm::NotificationCenter> center) {
        notificationCenter_ = std::move(center);
    }
    const std::string& notificationName() const { return notificationName_; }
    void setNotificationName(std::string name) { notificationName_ = std::move(name); }

    const std::vector<ostrelcomm::RemoteItemInfo>& ownElements() const { return ownElements_; }
    const std::vector<ostrelcomm::SharedItem>& shares() const { return shares_; }
    Iterator<ostrelcomm::RemoteItemInfo>& ownElementsIterator() { return ownElementsIterator_; }
    Iterator<ostrelcomm::SharedItem>& sharesIterator() { return sharesIterator_; }
    OperationType operationType() const { return operationType_; }
    // Changes only what a paste does: nothing is announced.
    void setOperationType(OperationType operation) { operationType_ = operation; }

    // Holds the user's own items (and no shared item), with a fresh iterator
    // over them, for `operation`; announces.
    void holdOwnElements(std::vector<ostrelcomm::RemoteItemInfo> items, OperationType operation);
    // Holds shared items (and no own item), with a fresh iterator over them,
    // for `operation`; announces.
    void holdShares(std::vector<ostrelcomm::SharedItem> items, OperationType operation);
    // Empties both lists and sets the operation to none; announces. The
    // iterators are left as they are.
    void clear();

    // The number of items held, own and shared.
    std::size_t count() const { return ownElements_.size() + shares_.size(); }
    // True when an own item held has this identifier, or a shared item held
    // has it as its item identifier.
    bool uuidInPasteboard(std::string_view uuid) const;

private:
    void announce() const;

    std::shared_ptr<ostrelcomm::NotificationCenter> notificationCenter_;
    std::string notificationName_;
    std::vector<ostrelcomm::RemoteItemInfo> ownElements_;
    std::vector<ostrelcomm::SharedItem> shares_;
    Iterator<ostrelcomm::RemoteItemInfo> ownElementsIterator_;
    Iterator<ostrelcomm::SharedItem> sharesIterator_;
    OperationType operationType_ = OperationType::none;
};

}  // namespace quorvel
