#include "app/utils/RunOnMain.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <mutex>
#include <utility>

namespace quorvel {

namespace {

#if defined(__SANITIZE_THREAD__)
// Qt's event queue runs what is posted only after the post, but it orders the
// two with locks of its own, built without ThreadSanitizer and so invisible to
// it: what the posting thread wrote (the work, and Qt's record of it) would be
// reported now and then as racing with the main thread's run. A lock of ours
// held around the post and taken again before the run shows the sanitizer
// that order. Only in that build; elsewhere Qt's order is enough.
std::mutex& postOrder() {
    static auto* order = new std::mutex;  // never destroyed: a thread may post at exit
    return *order;
}
#endif

}  // namespace

void runOnMain(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || !work) return;
#if defined(__SANITIZE_THREAD__)
    std::lock_guard posting(postOrder());
    QMetaObject::invokeMethod(
        application,
        [work = std::move(work)] {
            { std::lock_guard posted(postOrder()); }
            work();
        },
        Qt::QueuedConnection);
#else
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
#endif
}

bool onMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

}  // namespace quorvel
