#pragma once

#include <QUrl>

#include <memory>

namespace quorvel {

// The desktop's way of opening what the program itself does not show: a web
// page opens in the user's default browser.
//
// On the main thread only.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Hands `url` to the desktop; false when no application took it.
    virtual bool open(const QUrl& url) = 0;

    // The one of the run: the one installed, or else the desktop's.
    static Workspace& shared();
    // Makes `workspace` the shared one (tests bring a recording one).
    static void installShared(std::shared_ptr<Workspace> workspace);
};

// The desktop's, through QDesktopServices.
class DesktopWorkspace : public Workspace {
public:
    bool open(const QUrl& url) override;
};

}  // namespace quorvel
