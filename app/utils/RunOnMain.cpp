#include "app/utils/RunOnMain.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <utility>

namespace quorvel {

void runOnMain(std::function<void()> work) {
    QCoreApplication* application = QCoreApplication::instance();
    if (!application || !work) return;
    QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

}  // namespace quorvel
