#pragma once

#include <QObject>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "http/HTTPError.h"
#include "jobs/CommJobsItem.h"
#include "jobs/SrvComm.h"
#include "platform/NotificationCenter.h"
#include "user/UserNotifications.h"

namespace quorvel {

// One job notification of an engine, copied on the engine's thread.
template <class Payload>
struct JobEvent {
    // "Result"; absent when missing or not a text.
    std::optional<std::string> result;
    std::optional<ostrelcomm::HTTPError> httpError;
    // The payload; absent when there is none or it is not of the type the
    // notification's area announces.
    std::optional<Payload> data;
};

struct NoPayload {};

using LoginEvent = JobEvent<NoPayload>;
using LogoutEvent = JobEvent<NoPayload>;
using UserCreationEvent = JobEvent<ostrelcomm::user::UserCreationPayload>;
using UserProfileEvent = JobEvent<ostrelcomm::user::UserProfilePayload>;
using PeerShareDataEvent = JobEvent<ostrelcomm::user::PeerShareDataPayload>;
using UserSessionsEvent = JobEvent<ostrelcomm::user::UserSessionsPayload>;
using UserModificationEvent = JobEvent<ostrelcomm::user::UserModificationPayload>;
using UserProfileDeletedEvent = JobEvent<std::string>;

// What changed in an engine's queue since the last queueChanged signal.
struct QueueChanges {
    // The latest data of each job announced ("NewJobAvailable", "JobChanged"),
    // by job identifier; absent for a job the queue no longer knows. The
    // copies carry no context: a job's context belongs to its engine's thread.
    std::map<std::string, std::optional<ostrelcomm::CommJobsItem>> jobs;
    // Jobs were added or dropped ("NewJobAvailable", "JobCleanup",
    // "JobsQueueChanged"): read the whole list again (CommJobs::getJobsList).
    bool listChanged = false;
};

// The one way from an engine to the widgets. Its observers run on the
// engine's thread with the engine's lock held: they copy the notification
// into a typed value and queue its signal, which is then emitted on the main
// thread, never with an engine lock held. Widgets and sheets connect to these
// signals, never to an engine's centers.
//
// A burst of queue notifications becomes one queueChanged per turn of the
// event loop: a running transfer announces every block, and one repaint per
// announcement would drown the main thread.
//
// Made, used and destroyed on the main thread.
class EngineBridge : public QObject {
    Q_OBJECT

public:
    explicit EngineBridge(std::shared_ptr<ostrelcomm::SrvComm> engine, QObject* parent = nullptr);
    ~EngineBridge() override;

    const std::shared_ptr<ostrelcomm::SrvComm>& engine() const { return engine_; }

signals:
    void srpAuthenticated(const quorvel::LoginEvent& event);
    void userLogout(const quorvel::LogoutEvent& event);
    void userCreationTerminated(const quorvel::UserCreationEvent& event);
    void userProfileDataAvailable(const quorvel::UserProfileEvent& event);
    void peerShareData(const quorvel::PeerShareDataEvent& event);
    void getUserSessionsData(const quorvel::UserSessionsEvent& event);
    void userModification(const quorvel::UserModificationEvent& event);
    void userProfileDeleted(const quorvel::UserProfileDeletedEvent& event);
    void jobQueueEmpty();
    void queueChanged(const quorvel::QueueChanges& changes);

private:
    // What the engine's threads reach of the bridge, shared with its
    // observers: cleared under its mutex before the bridge goes, so an
    // observer running at that moment either queues its signal first (and
    // the bridge's end drops it) or finds no bridge.
    struct Link {
        std::mutex mutex;
        EngineBridge* bridge = nullptr;
        QueueChanges pending;
        bool flushQueued = false;
    };

    template <class Event>
    void relay(const char* name, Event (*read)(const ostrelcomm::UserInfo&),
               void (EngineBridge::*signal)(const Event&));
    void relayQueue(const char* name, void (*gather)(QueueChanges&, const ostrelcomm::UserInfo&));
    void flushQueueChanges();

    std::shared_ptr<ostrelcomm::SrvComm> engine_;
    std::shared_ptr<Link> link_;
    std::vector<std::pair<std::shared_ptr<ostrelcomm::NotificationCenter>, ostrelcomm::NotificationCenter::Token>>
        observers_;
};

}  // namespace quorvel
