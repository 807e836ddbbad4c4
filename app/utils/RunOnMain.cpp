#include "app/utils/RunOnMain.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <utility>

namespace quorvel {

void runOnMain(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || !work) return;
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

bool onMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

}  // namespace quorvel
