#pragma once

#include <QDialog>

#include <set>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace quorvel {

// The new remote folder sheet "newRemoteDirectory": a name, and OK asks the
// fast engine to make a folder of that name in the remote folder on show
// (Appwise::remotePath(), "root" at the top), tagged "mainWindow" so that
// the browser takes the result as its own. The sheet closes at once and
// follows nothing.
//
// The names of the items of the folder on show are taken once, when the
// sheet is made, from Appwise::remoteDirectoryInfo() (none without a
// listing). OK is enabled exactly when the name is not empty once spaces
// (U+0020) are trimmed from its ends and no item bears it as typed, spaces
// included: case-sensitive, canonically equivalent names being the same
// name (the library's name order). While an item bears it, the warning
// shows. The name goes to the server as typed.
//
// Its widgets are found by their object names: "newFolderName",
// "confirmPushButton", "cancelButton", "warningIcon" and "warningText".
//
// On the main thread only. Opened window-modal on the main window; closed
// with done(0) (Cancel, Escape, the close box, or once the creation is
// queued).
class NewRemoteDirectoryViewController : public QDialog {
    Q_OBJECT

public:
    explicit NewRemoteDirectoryViewController(QWidget* parent = nullptr);

    // OK: queues the creation and closes.
    void confirmDirectoryCreation();
    // Cancel.
    void closeDirectoryPopup();

    void reject() override;

private:
    void buildView();
    void viewDidLoad();
    void controlTextDidChange();

    QLineEdit* newFolderName_ = nullptr;
    QPushButton* confirmPushButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QLabel* warningIcon_ = nullptr;
    QLabel* warningText_ = nullptr;

    // The names of the folder's items as keys of the library's name order,
    // looked up on every edit.
    std::set<std::string> existingKeys_;
};

}  // namespace quorvel
