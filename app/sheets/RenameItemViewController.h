#pragma once

#include <QDialog>
#include <QMetaObject>

#include <optional>
#include <string>

#include "app/utils/EngineBridge.h"
#include "tree/RemoteItemInfo.h"
#include "tree/RemoteItemMetadata.h"

class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quorvel {

// The rename sheet "renameItem", on the first of the user's own selected
// remote items, the one taken when the sheet is made. It asks the fast
// engine for the item's current metadata (a file's information, a folder's
// listing, tagged kSource), shows its name for editing, and Rename queues the
// change on the fast engine: a file's whole metadata with the new name and a
// modification date of now, a folder's new name. The root, and a sheet made
// with no own item selected, close at once and send nothing.
//
// Rename is enabled exactly when the name differs from the current one
// (canonically equivalent names being the same, the library's name order);
// any name, empty or with spaces, is sent as typed. While a folder's name
// is unknown, any name may be sent. A file's is never sent before its
// metadata has arrived: the change would carry the old metadata, and the
// typed name would be lost while the job reports success.
//
// An answer tagged for another requester changes nothing here. A failed
// information or listing job of any requester (failures carry no tag) and a
// malformed answer end with a "Comm libraries error" alert and the sheet
// closing. Once the current name is shown, the sheet hears nothing more.
// The outcome of the rename is the browser's to show.
//
// Its widgets are found by their object names: "itemName", "renameButton",
// "cancelButton" and "queryInProgress" (shown while the name is awaited).
//
// On the main thread only. Opened window-modal on the main window; closed
// with done(0), which first drops its connections to the fast engine. The
// closing after an alert or without an item is queued, so it also holds for
// a sheet that is not open yet.
class RenameItemViewController : public QDialog {
    Q_OBJECT

public:
    // The requester tag of the sheet's information requests.
    static constexpr char kSource[] = "itemRename";

    explicit RenameItemViewController(QWidget* parent = nullptr);
    ~RenameItemViewController() override;
    RenameItemViewController(const RenameItemViewController&) = delete;
    RenameItemViewController& operator=(const RenameItemViewController&) = delete;

    // The item's current metadata, once it arrived.
    const std::optional<ostrelcomm::RemoteItemMetadata>& itemMetadata() const { return itemMetadata_; }

    // Rename: queues the change, then closes.
    void doRename();
    // Cancel.
    void doCancel();

    void reject() override;
    void done(int result) override;

private:
    void buildView();
    void viewDidLoad();
    void controlTextDidChange();
    void fileInfoReceived(const FileInfoEvent& event);
    void directoryInfoReceived(const DirectoryContentEvent& event);
    // The current name has arrived (or is known to be unknown).
    void showCurrent(std::optional<ostrelcomm::RemoteItemMetadata> metadata);
    bool renameAllowed() const;
    // The "Comm libraries error" alert with `message`, then the close.
    void abort(const std::string& message);
    // Closes on the main queue, after what is running now.
    void closeSheet();
    bool observing() const;
    void stopObserving();

    QLineEdit* itemName_ = nullptr;
    QPushButton* renameButton_ = nullptr;
    QPushButton* cancelButton_ = nullptr;
    QProgressBar* queryInProgress_ = nullptr;

    // The item renamed: the first own item selected when the sheet was made.
    std::optional<ostrelcomm::RemoteItemInfo> item_;
    std::optional<ostrelcomm::RemoteItemMetadata> itemMetadata_;
    QMetaObject::Connection fileInfoObserver_;
    QMetaObject::Connection directoryInfoObserver_;
};

}  // namespace quorvel
