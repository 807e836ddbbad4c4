#include "app/utils/CopyDirBridge.h"

#include <QMetaObject>

#include "tree/CopyProgressData.h"
#include "tree/TreeNotifications.h"

namespace quorvel {

CopyDirBridge::CopyDirBridge(std::shared_ptr<ostrelcomm::CopyDir> copier, QObject* parent)
    : QObject(parent), copier_(std::move(copier)), link_(std::make_shared<Link>()) {
    link_->bridge = this;
    center_ = copier_->notifications();
    namespace tree = ostrelcomm::tree;
    relay(tree::kItemCopiedNotification, [](const ostrelcomm::UserInfo& userInfo) -> Emitter {
        const ostrelcomm::CopyProgressData progress(userInfo);
        return [copied = progress.getCopied(), total = progress.getTotal()](CopyDirBridge& bridge) {
            emit bridge.itemCopied(copied, total);
        };
    });
    relay(tree::kCopyCompletedNotification,
          [](const ostrelcomm::UserInfo&) -> Emitter { return [](CopyDirBridge& b) { emit b.copyCompleted(); }; });
    relay(tree::kCopyErrorNotification,
          [](const ostrelcomm::UserInfo&) -> Emitter { return [](CopyDirBridge& b) { emit b.copyError(); }; });
}

CopyDirBridge::~CopyDirBridge() {
    {
        std::lock_guard lock(link_->mutex);
        link_->bridge = nullptr;
    }
    // Signals queued before are dropped with the object.
    for (const auto token : tokens_) center_->removeObserver(token);
}

void CopyDirBridge::relay(const char* name, Emitter (*read)(const ostrelcomm::UserInfo&)) {
    tokens_.push_back(
        center_->addObserver(name, [link = link_, read](const ostrelcomm::Notification& notification) {
            Emitter emitter = read(notification.userInfo);
            std::lock_guard lock(link->mutex);
            CopyDirBridge* bridge = link->bridge;
            if (!bridge) return;
            QMetaObject::invokeMethod(
                bridge, [bridge, emitter = std::move(emitter)] { emitter(*bridge); }, Qt::QueuedConnection);
        }));
}

}  // namespace quorvel
