// The bridge from a folder copier's own center to the widgets: each report
// posted on an engine thread, with the engine's lock held, becomes its
// signal on the main thread, in order; a malformed progress report counts
// nothing; nothing arrives once the bridge is gone.

#include <QTest>

#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/utils/CopyDirBridge.h"
#include "jobs/SrvComm.h"
#include "tree/CopyDir.h"
#include "tree/TreeNotifications.h"

using ostrelcomm::UserInfo;
using quorvel::CopyDirBridge;

namespace {

bool onMainThread() { return QThread::currentThread() == QCoreApplication::instance()->thread(); }

// Posts on the copier's center from a thread of its own, with the engine's
// lock held, as the copier does.
void postFromEngineThread(ostrelcomm::SrvComm& engine, ostrelcomm::CopyDir& copier,
                          const std::vector<std::pair<std::string, UserInfo>>& posts) {
    std::thread poster([&] {
        std::lock_guard lock(engine.mutex());
        for (const auto& [name, userInfo] : posts) copier.notifications()->post(name, userInfo);
    });
    poster.join();
}

}  // namespace

class CopyDirBridgeTest : public QObject {
    Q_OBJECT

private slots:
    void reportsArriveOnTheMainThreadInOrder() {
        auto engine = std::make_shared<ostrelcomm::SrvComm>();
        auto copier = ostrelcomm::CopyDir::create(engine);
        CopyDirBridge bridge(copier);
        std::vector<std::string> received;
        bool allOnMain = true;
        connect(&bridge, &CopyDirBridge::itemCopied, [&](std::int64_t copied, std::int64_t total) {
            allOnMain = allOnMain && onMainThread();
            received.push_back(std::to_string(copied) + "/" + std::to_string(total));
        });
        connect(&bridge, &CopyDirBridge::copyCompleted, [&] {
            allOnMain = allOnMain && onMainThread();
            received.push_back("completed");
        });
        connect(&bridge, &CopyDirBridge::copyError, [&] {
            allOnMain = allOnMain && onMainThread();
            received.push_back("error");
        });
        namespace tree = ostrelcomm::tree;

        postFromEngineThread(*engine, *copier,
                             {{tree::kItemCopiedNotification,
                               {{tree::kCopiedKey, std::int64_t{3}}, {tree::kTotalKey, std::int64_t{4}}}},
                              {tree::kItemCopiedNotification, {{tree::kCopiedKey, std::string("3")}}},
                              {tree::kCopyCompletedNotification, {}},
                              {tree::kCopyErrorNotification, {}}});
        // Queued, never emitted on the posting thread.
        QVERIFY(received.empty());
        QTRY_COMPARE(received.size(), std::size_t{4});
        QCOMPARE(received, (std::vector<std::string>{"3/4", "0/0", "completed", "error"}));
        QVERIFY(allOnMain);
    }

    void nothingArrivesOnceTheBridgeIsGone() {
        auto engine = std::make_shared<ostrelcomm::SrvComm>();
        auto copier = ostrelcomm::CopyDir::create(engine);
        int received = 0;
        {
            CopyDirBridge bridge(copier);
            connect(&bridge, &CopyDirBridge::copyCompleted, [&] { ++received; });
            postFromEngineThread(*engine, *copier, {{ostrelcomm::tree::kCopyCompletedNotification, {}}});
        }
        postFromEngineThread(*engine, *copier, {{ostrelcomm::tree::kCopyCompletedNotification, {}}});
        QCoreApplication::sendPostedEvents();
        QCOMPARE(received, 0);
    }
};

QTEST_GUILESS_MAIN(CopyDirBridgeTest)
#include "CopyDirBridge_test.moc"
