#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace quorvel {

// The new local folder sheet "createLocalDirectory": a name, and a folder of
// that name made in the local folder on show (Appwise::localPath()).
//
// The name is taken as typed: spaces at its ends are part of it, and a "/"
// separates folders, of which only the last one is made (creation fails
// unless the others exist). The confirm button is enabled exactly when the
// name is not empty once spaces (U+0020) are trimmed from its ends.
//
// A folder made: "refreshLocalFilesList" on Appwise's center, and the sheet
// closes. A creation that fails, an existing entry of that name included:
// the alert "LocalFolderCreationErr" with the system's description of the
// failure; the sheet stays open with the name as typed.
//
// Its widgets are found by their object names: "newFolderName",
// "confirmPushButton" and "cancelButton".
//
// On the main thread only. Opened window-modal on the main window; closed
// with done(0) (Cancel, Escape, the close box, or once the folder is made).
class NewLocalDirectoryViewController : public QDialog {
    Q_OBJECT

public:
    explicit NewLocalDirectoryViewController(QWidget* parent = nullptr);

    // The confirm button: makes the folder.
    void confirmFolderCreation();
    // Cancel: closes without making anything.
    void closeFolderPopup();

    void reject() override;

private:
    void buildView();
    void viewDidLoad();
    void controlTextDidChange();

    QLineEdit* newFolderName_ = nullptr;
    QPushButton* confirmPushButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
};

}  // namespace quorvel
