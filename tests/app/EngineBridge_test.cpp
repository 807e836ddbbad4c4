// The bridge from an engine's notifications to the widgets: typed copies
// made on the engine's thread, signals on the main thread, queue bursts
// merged, nothing delivered once the bridge is gone.

#include <QTest>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/utils/EngineBridge.h"
#include "auth/AuthNotifications.h"
#include "jobs/CommJobBasicContext.h"
#include "jobs/CommJobs.h"
#include "jobs/JobType.h"
#include "jobs/SrvComm.h"
#include "support/ListingOracle.h"
#include "tree/TreeNotifications.h"
#include "user/UserNotifications.h"

using ostrelcomm::CommJobsItem;
using ostrelcomm::HTTPError;
using ostrelcomm::HTTPErrors;
using ostrelcomm::NullObject;
using ostrelcomm::SrvComm;
using ostrelcomm::UserInfo;
using quorvel::EngineBridge;

namespace {

bool onMainThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// Posts on the engine's own center from a thread of its own, with the
// engine's lock held, as a job's step does.
void postFromEngineThread(SrvComm& engine, const std::string& name, const UserInfo& userInfo,
                          bool onQueue = false) {
    std::thread poster([&] {
        std::lock_guard lock(engine.mutex());
        (onQueue ? engine.queue()->notifications() : engine.notifications())->post(name, userInfo);
    });
    poster.join();
}

CommJobsItem jobItem(std::size_t actStep) {
    auto context = std::make_shared<ostrelcomm::CommJobBasicContext>(ostrelcomm::JobsSteps::user_getProfile,
                                                                     nullptr, "someJob");
    CommJobsItem item(ostrelcomm::JobType::getProfile, 1, context, ostrelcomm::JobPriority::Normal, 0);
    item.actStep = actStep;
    return item;
}

}  // namespace

class EngineBridgeTest : public QObject {
    Q_OBJECT

private slots:
    // 10,000 queue announcements from an engine thread become one signal,
    // holding the last state of each job and no job's context. Steps and
    // stores of jobs change no list: nothing asks for a copy of the queue.
    void aBurstOfQueueNotificationsIsOneSignal() {
        auto engine = std::make_shared<SrvComm>();
        EngineBridge bridge(engine);
        std::vector<quorvel::QueueChanges> received;
        bool allOnMain = true;
        connect(&bridge, &EngineBridge::queueChanged, [&](const quorvel::QueueChanges& changes) {
            allOnMain = allOnMain && onMainThread();
            received.push_back(changes);
        });
        const auto center = engine->queue()->notifications();
        std::vector<CommJobsItem> items;
        for (std::size_t i = 0; i < 10; ++i) items.push_back(jobItem(0));

        std::thread poster([&] {
            std::lock_guard lock(engine->mutex());
            for (std::size_t i = 0; i < 10'000; ++i) {
                CommJobsItem item = items[i % 10];
                item.actStep = i;
                center->post(ostrelcomm::kJobChangedNotification,
                             {{"id", "JOB-" + std::to_string(i % 10)}, {"data", item}});
                if (i % 100 == 0) center->post(ostrelcomm::kJobsQueueChangedNotification);
            }
        });
        poster.join();
        QVERIFY(received.empty());

        QTRY_COMPARE(received.size(), std::size_t{1});
        QCoreApplication::processEvents();
        QCOMPARE(received.size(), std::size_t{1});
        QVERIFY(allOnMain);
        const auto& changes = received.front();
        QVERIFY(!changes.listChanged);
        QCOMPARE(changes.jobs.size(), std::size_t{10});
        for (std::size_t j = 0; j < 10; ++j) {
            const auto& job = changes.jobs.at("JOB-" + std::to_string(j));
            QVERIFY(job.has_value());
            QCOMPARE(job->actStep, 9'990 + j);
            QVERIFY(!job->context);
        }
    }

    // Only a new job and a clean-up change which jobs the queue holds; a
    // resumed job comes as its record, read from the queue.
    void whichAnnouncementsChangeTheList_data() {
        QTest::addColumn<QString>("notification");
        QTest::addColumn<bool>("listChanged");
        QTest::addColumn<bool>("jobRecord");
        QTest::newRow("new job") << QString(ostrelcomm::kNewJobAvailableNotification) << true << true;
        QTest::newRow("clean-up") << QString(ostrelcomm::kJobCleanupNotification) << true << false;
        QTest::newRow("store") << QString(ostrelcomm::kJobsQueueChangedNotification) << false << false;
        QTest::newRow("change") << QString(ostrelcomm::kJobChangedNotification) << false << true;
        QTest::newRow("resumed") << QString(ostrelcomm::kJobResumedNotification) << false << true;
    }
    void whichAnnouncementsChangeTheList() {
        QFETCH(QString, notification);
        QFETCH(bool, listChanged);
        QFETCH(bool, jobRecord);
        auto engine = std::make_shared<SrvComm>();
        EngineBridge bridge(engine);
        std::vector<quorvel::QueueChanges> received;
        connect(&bridge, &EngineBridge::queueChanged,
                [&](const quorvel::QueueChanges& changes) { received.push_back(changes); });
        // Without a context, so that the engine, which takes a resumed job
        // at once, finds nothing to run.
        const std::string jobID = "JOB-1";
        CommJobsItem stored(ostrelcomm::JobType::getProfile, 4, nullptr, ostrelcomm::JobPriority::Normal, 0);
        stored.actStep = 1;
        engine->queue()->setQueue({{jobID, stored}});
        QCoreApplication::processEvents();
        received.clear();

        // Another job's change, so that every turn has its signal.
        postFromEngineThread(*engine, ostrelcomm::kJobChangedNotification,
                             {{"id", std::string("OTHER")}, {"data", jobItem(0)}}, true);
        postFromEngineThread(*engine, notification.toStdString(), {}, true);
        if (notification == ostrelcomm::kNewJobAvailableNotification ||
            notification == ostrelcomm::kJobChangedNotification) {
            CommJobsItem item = jobItem(1);
            postFromEngineThread(*engine, notification.toStdString(), {{"id", jobID}, {"data", item}}, true);
        } else if (notification == ostrelcomm::kJobResumedNotification) {
            postFromEngineThread(*engine, notification.toStdString(), {{"id", jobID}}, true);
        }
        QTRY_COMPARE(received.size(), std::size_t{1});
        QCOMPARE(received.front().listChanged, listChanged);
        const auto& jobs = received.front().jobs;
        QCOMPARE(jobs.count(jobID) == 1, jobRecord);
        if (jobRecord) {
            QVERIFY(jobs.at(jobID).has_value());
            QCOMPARE(jobs.at(jobID)->actStep, std::size_t{1});
            QVERIFY(!jobs.at(jobID)->context);
        }
    }

    // A job the queue no longer knows is announced without data; a malformed
    // announcement changes nothing.
    void queueAnnouncementsWithoutJobData() {
        auto engine = std::make_shared<SrvComm>();
        EngineBridge bridge(engine);
        std::vector<quorvel::QueueChanges> received;
        connect(&bridge, &EngineBridge::queueChanged,
                [&](const quorvel::QueueChanges& changes) { received.push_back(changes); });
        const auto center = engine->queue()->notifications();
        center->post(ostrelcomm::kJobChangedNotification, {{"id", std::string("GONE")}, {"data", NullObject{}}});
        center->post(ostrelcomm::kJobChangedNotification, {{"data", jobItem(1)}});
        center->post(ostrelcomm::kJobChangedNotification, {{"id", 7}, {"data", jobItem(1)}});

        QTRY_COMPARE(received.size(), std::size_t{1});
        const auto& jobs = received.front().jobs;
        QCOMPARE(jobs.size(), std::size_t{1});
        QVERIFY(jobs.count("GONE") && !jobs.at("GONE"));
        QVERIFY(!received.front().listChanged);
    }

    void jobNotificationsArriveTyped() {
        namespace auth = ostrelcomm::auth;
        namespace user = ostrelcomm::user;
        auto engine = std::make_shared<SrvComm>();
        EngineBridge bridge(engine);
        std::vector<quorvel::LoginEvent> logins;
        std::vector<quorvel::UserProfileEvent> profiles;
        std::vector<quorvel::UserSessionsEvent> sessions;
        bool allOnMain = true;
        connect(&bridge, &EngineBridge::srpAuthenticated, [&](const quorvel::LoginEvent& e) {
            allOnMain = allOnMain && onMainThread();
            logins.push_back(e);
        });
        connect(&bridge, &EngineBridge::userProfileDataAvailable, [&](const quorvel::UserProfileEvent& e) {
            allOnMain = allOnMain && onMainThread();
            profiles.push_back(e);
        });
        connect(&bridge, &EngineBridge::getUserSessionsData, [&](const quorvel::UserSessionsEvent& e) {
            allOnMain = allOnMain && onMainThread();
            sessions.push_back(e);
        });
        ostrelcomm::UserProfile profile;
        profile.userUUID = "USER-1";
        const HTTPError failure{"AccessDeniedException", HTTPErrors::badStatusCode, "Denied", std::int64_t{403}};

        postFromEngineThread(
            *engine, auth::kSRPAuthenticatedNotification,
            {{"Result", std::string(auth::kError)}, {"httpError", failure}, {"CustomData", NullObject{}}});
        postFromEngineThread(*engine, auth::kSRPAuthenticatedNotification, {{"Result", 42}});
        postFromEngineThread(*engine, user::kUserProfileDataAvailableNotification,
                             {{"Result", std::string(user::kCompleted)},
                              {"httpError", NullObject{}},
                              {"CustomData", user::NotificationDataPayload{{user::kNotificationDataKey, profile}}}});
        // The profile where the area announces it wrapped: no profile.
        postFromEngineThread(*engine, user::kUserProfileDataAvailableNotification,
                             {{"Result", std::string(user::kCompleted)}, {"CustomData", profile}});
        postFromEngineThread(*engine, user::kGetUserSessionsDataNotification,
                             {{"Result", std::string(user::kAvailable)},
                              {"CustomData", user::UserSessionsPayload(3)}});
        QVERIFY(logins.empty() && profiles.empty() && sessions.empty());

        QTRY_COMPARE(sessions.size(), std::size_t{1});
        QVERIFY(allOnMain);
        QCOMPARE(logins.size(), std::size_t{2});
        QCOMPARE(logins[0].result, std::optional<std::string>(auth::kError));
        QVERIFY(logins[0].httpError && logins[0].httpError->exception == failure.exception);
        QVERIFY(!logins[1].result && !logins[1].httpError);
        QCOMPARE(profiles.size(), std::size_t{2});
        QVERIFY(profiles[0].data && profiles[0].data->userUUID == "USER-1");
        QVERIFY(!profiles[0].httpError);
        QCOMPARE(profiles[1].result, std::optional<std::string>(user::kCompleted));
        QVERIFY(!profiles[1].data);
        QVERIFY(sessions[0].data && sessions[0].data->size() == 3);
    }

    // A requester's tag travels beside the payload; an untagged job's bare
    // payload is taken as it is; a malformed "CustomData" is told apart from
    // a missing one, so observers can say which.
    void taggedAndBarePayloads() {
        namespace tree = ostrelcomm::tree;
        using quorvel::CustomDataShape;
        auto engine = std::make_shared<SrvComm>();
        EngineBridge bridge(engine);
        std::vector<quorvel::DirectoryContentEvent> listings;
        std::vector<quorvel::FileInfoEvent> infos;
        std::vector<quorvel::DirectoryTreeEvent> trees;
        connect(&bridge, &EngineBridge::queryRemoteDirectoryContent,
                [&](const quorvel::DirectoryContentEvent& e) { listings.push_back(e); });
        connect(&bridge, &EngineBridge::getFileInfo, [&](const quorvel::FileInfoEvent& e) { infos.push_back(e); });
        connect(&bridge, &EngineBridge::getDirectoryTreeTerminated,
                [&](const quorvel::DirectoryTreeEvent& e) { trees.push_back(e); });
        const testsupport::ListingOracle oracle;
        const std::string body = oracle.body(std::nullopt, {}).dump();
        const auto listing = ostrelcomm::RemoteDirInfo::create(
            ostrelcomm::ByteView(reinterpret_cast<const std::uint8_t*>(body.data()), body.size()), oracle.passwordKey);
        const std::string received(tree::kReceived);
        const auto post = [&](const char* name, UserInfo info) { postFromEngineThread(*engine, name, info); };

        post(tree::kQueryRemoteDirectoryContentNotification,
             {{"Result", received},
              {"CustomData", tree::TaggedPayload{{tree::kSourceKey, std::string("mainWindow")},
                                                 {tree::kDirInfoKey, tree::DirInfoPayload(listing)}}}});
        post(tree::kQueryRemoteDirectoryContentNotification,
             {{"Result", received}, {"CustomData", tree::DirInfoPayload(listing)}});
        post(tree::kQueryRemoteDirectoryContentNotification,
             {{"Result", received}, {"CustomData", tree::TaggedPayload{{tree::kSourceKey, 7}}}});
        post(tree::kQueryRemoteDirectoryContentNotification, {{"Result", received}, {"CustomData", 7}});
        post(tree::kQueryRemoteDirectoryContentNotification, {{"Result", received}, {"CustomData", NullObject{}}});
        const ostrelcomm::RemoteItemMetadata metadata("a.txt", {}, {});
        post(tree::kGetFileInfoNotification,
             {{"Result", received},
              {"CustomData", tree::FileInfoPayload{{tree::kSourceKey, NullObject{}}, {tree::kFileInfoKey, metadata}}}});
        post(tree::kGetDirectoryTreeTerminatedNotification,
             {{"Result", std::string(tree::kAvailable)},
              {"CustomData", tree::DirectoryTreePayload{{tree::kSourceKey, std::string("receiveFileFromRemote")},
                                                        {tree::kTopUUIDKey, std::string("TOP")},
                                                        {tree::kTreeKey, tree::DirectoryTree(2)}}}});

        QTRY_COMPARE(trees.size(), std::size_t{1});
        QCOMPARE(listings.size(), std::size_t{5});
        QCOMPARE(listings[0].source, std::optional<std::string>("mainWindow"));
        QVERIFY(listings[0].data && *listings[0].data == listing);
        QVERIFY(listings[0].customData == CustomDataShape::dictionary);
        QVERIFY(!listings[1].source && listings[1].data && *listings[1].data == listing);
        QVERIFY(listings[1].customData == CustomDataShape::other);
        QVERIFY(!listings[2].source && !listings[2].data);
        QVERIFY(listings[2].customData == CustomDataShape::dictionary);
        QVERIFY(!listings[3].data && listings[3].customData == CustomDataShape::other);
        QVERIFY(!listings[4].data && listings[4].customData == CustomDataShape::absent);
        QCOMPARE(infos.size(), std::size_t{1});
        QVERIFY(!infos[0].source && infos[0].data && infos[0].data->name == "a.txt");
        QCOMPARE(trees[0].source, std::optional<std::string>("receiveFileFromRemote"));
        QVERIFY(trees[0].data && trees[0].data->topUUID == std::optional<std::string>("TOP"));
        QVERIFY(trees[0].data->tree && trees[0].data->tree->size() == 2);
    }

    // A signal queued for a bridge that goes before it is delivered is
    // dropped, and the engine's later notifications no longer reach it.
    void aBridgeThatGoesReceivesNothingMore() {
        auto engine = std::make_shared<SrvComm>();
        EngineBridge staying(engine);
        int toStaying = 0;
        int toGone = 0;
        connect(&staying, &EngineBridge::jobQueueEmpty, [&] { ++toStaying; });
        {
            EngineBridge gone(engine);
            connect(&gone, &EngineBridge::jobQueueEmpty, [&] { ++toGone; });
            postFromEngineThread(*engine, ostrelcomm::kJobQueueEmptyNotification, {});
        }
        postFromEngineThread(*engine, ostrelcomm::kJobQueueEmptyNotification, {});

        QTRY_COMPARE(toStaying, 2);
        QCOMPARE(toGone, 0);
    }
};

QTEST_GUILESS_MAIN(EngineBridgeTest)
#include "EngineBridge_test.moc"
