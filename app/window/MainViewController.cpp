#include "app/window/MainViewController.h"

#include <QVBoxLayout>

#include "app/utils/Appwise.h"
#include "app/utils/CopyDirBridge.h"

namespace quorvel {

MainViewController::MainViewController(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("mainView"));
    Appwise& appwise = Appwise::shared();
    const auto& slow = appwise.engine(CommTasks::slowTask);
    copyDirJob_ = ostrelcomm::CopyDir::create(slow);
    copyDirBridge_ = std::make_unique<CopyDirBridge>(copyDirJob_);
    multipleLocalToRemote_ = ostrelcomm::MultipleLocalFileSend::create(slow, appwise.notifications());

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

// The bridge, declared after the copier, goes first: it stops following the
// copier before the copier may go.
MainViewController::~MainViewController() = default;

}  // namespace quorvel
