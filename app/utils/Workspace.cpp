#include "app/utils/Workspace.h"

#include <QDesktopServices>

#include <utility>

namespace quorvel {

namespace {

std::shared_ptr<Workspace>& installed() {
    static std::shared_ptr<Workspace> workspace;
    return workspace;
}

}  // namespace

Workspace& Workspace::shared() {
    auto& workspace = installed();
    if (!workspace) workspace = std::make_shared<DesktopWorkspace>();
    return *workspace;
}

void Workspace::installShared(std::shared_ptr<Workspace> workspace) { installed() = std::move(workspace); }

bool DesktopWorkspace::open(const QUrl& url) { return QDesktopServices::openUrl(url); }

}  // namespace quorvel
