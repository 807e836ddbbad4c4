#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/NotificationCenter.h"
#include "tree/CopyDir.h"

namespace quorvel {

// The way from a folder copier's own center to the widgets, as EngineBridge
// is for an engine's: the copier posts on its engine's thread with the
// engine's lock held; its observers here copy what they need and queue the
// signal, emitted on the main thread with no engine lock held.
//
// It follows the center the copier has when the bridge is made.
//
// Made, used and destroyed on the main thread.
class CopyDirBridge : public QObject {
    Q_OBJECT

public:
    explicit CopyDirBridge(std::shared_ptr<ostrelcomm::CopyDir> copier, QObject* parent = nullptr);
    ~CopyDirBridge() override;

    const std::shared_ptr<ostrelcomm::CopyDir>& copier() const { return copier_; }

signals:
    // "ItemCopied": a folder made or a file copied, of `total` (0 and 0 when
    // the report is malformed).
    void itemCopied(std::int64_t copied, std::int64_t total);
    // "CopyCompleted": the copy ended, or was cancelled.
    void copyCompleted();
    // "CopyError": a job of the copy failed or a report was malformed; what
    // was copied stays.
    void copyError();

private:
    // Cleared under its mutex before the bridge goes: an observer running at
    // that moment queues its signal first (dropped with the bridge) or finds
    // no bridge.
    struct Link {
        std::mutex mutex;
        CopyDirBridge* bridge = nullptr;
    };

    // Observes `name` on the copier's center: `read` runs on the posting
    // thread and gives what the main thread then does with the bridge.
    using Emitter = std::function<void(CopyDirBridge&)>;
    void relay(const char* name, Emitter (*read)(const ostrelcomm::UserInfo&));

    std::shared_ptr<ostrelcomm::CopyDir> copier_;
    std::shared_ptr<Link> link_;
    std::shared_ptr<ostrelcomm::NotificationCenter> center_;
    std::vector<ostrelcomm::NotificationCenter::Token> tokens_;
};

}  // namespace quorvel
