#pragma once

#include <QWidget>

#include <memory>

#include "tree/CopyDir.h"
#include "xfer/MultipleLocalFileSend.h"

namespace quorvel {

class CopyDirBridge;

// The main window's content: the browsing tab (the local and the remote
// folder side by side) and the jobs tab. It holds the browsing state of both
// panes and the two long-running transfer objects of the library, both on
// the slow engine, for as long as the window lives.
//
// The view never calls the server itself: every operation goes to one of the
// two engines of Appwise::shared(), and results come back through the
// engines' bridges. Its requests to other screens go out on Appwise's center.
//
// Its code is split by what it does: MainViewController.cpp holds the
// lifecycle; the tables, the path bars, the observers of the engines and the
// jobs list each get a file of their own beside it.
//
// On the main thread only.
class MainViewController : public QWidget {
    Q_OBJECT

public:
    // Needs Appwise::shared() with its slow engine.
    explicit MainViewController(QWidget* parent = nullptr);
    ~MainViewController() override;
    MainViewController(const MainViewController&) = delete;
    MainViewController& operator=(const MainViewController&) = delete;

    // --- transfer objects ----------------------------------------------------------
    // The recursive remote folder copy, used by a paste of copied folders; one
    // for the view's life. Its reports reach the main thread through
    // copyDirBridge().
    const std::shared_ptr<ostrelcomm::CopyDir>& copyDirJob() const { return copyDirJob_; }
    CopyDirBridge& copyDirBridge() const { return *copyDirBridge_; }
    // The multi-file upload, posting "multipleLocalFileSend" on Appwise's
    // center; one for the view's life.
    const std::shared_ptr<ostrelcomm::MultipleLocalFileSend>& multipleLocalToRemote() const {
        return multipleLocalToRemote_;
    }

private:
    // --- interface elements ---------------------------------------------------------
    // The tab view, the local and remote tables with their path bars, the
    // jobs table and the upload strip come here, laid out by the constructor.

    // --- browsing state ---------------------------------------------------------------

    // --- transfer objects -------------------------------------------------------------
    std::shared_ptr<ostrelcomm::CopyDir> copyDirJob_;
    std::unique_ptr<CopyDirBridge> copyDirBridge_;
    std::shared_ptr<ostrelcomm::MultipleLocalFileSend> multipleLocalToRemote_;

    // --- jobs list --------------------------------------------------------------------
};

}  // namespace quorvel
