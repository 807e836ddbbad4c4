#pragma once

#include <QDialog>
#include <QMetaObject>
#include <QPointer>
#include <QString>

#include <string>
#include <vector>

#include "app/utils/EngineBridge.h"
#include "shares/SharesData.h"
#include "shares/TrustCode.h"

class QContextMenuEvent;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace quorvel {

// The information sheet "itemInfo": the decrypted properties of the first
// selected remote item (thumbnail, name, dates, size, MIME type) and, for one
// of the user's own files, the peers it is shared with; a share is removed
// from the table's context menu ("Delete share", no confirmation).
//
// What is asked of the fast engine, all when the sheet is made: for an own
// file its information (tagged kSource), its shares and the trusted peers;
// for an own folder its listing (tagged kSource); for the root nothing; for
// an item another user shares, its information only. With nothing selected
// the sheet logs "No items to query infos" and closes.
//
// An answer tagged for another requester changes nothing here. A failed
// information or listing job of any requester, and a malformed answer, end
// with a "Comm libraries error" alert and the sheet closing: failed jobs
// carry no tag.
//
// Its widgets are found by their object names: "thumbnail", "itemName",
// "creationDate", "modifcationDate", "itemSize", "itemMIME",
// "queryInProgress" (shown while the information is awaited), "tblShares"
// (one row per share, hidden when the item has none), "closeButton"; the
// context menu is "shareMenu" while it is up.
//
// On the main thread only. Opened window-modal on the main window; closed
// with done(0), which first drops its connections to the fast engine. The
// closing after an alert or with nothing selected is queued, so it also
// holds for a sheet that is not open yet.
class ItemInfoViewController : public QDialog {
    Q_OBJECT

public:
    // The requester tag of the sheet's information requests.
    static constexpr char kSource[] = "itemInfo";
    static constexpr char kDocumentImage[] = "GenericDocumentIcon";
    static constexpr char kFolderImage[] = "GenericFolderIcon";
    static constexpr char kTrustedImage[] = "trustedUser-icon";
    static constexpr char kUntrustedImage[] = "untrustedUser-icon";
    // The property of "thumbnail" that names its image; empty for the item's
    // own thumbnail.
    static constexpr char kImageNameProperty[] = "imageName";
    // The role under which a row of the table gives the name of its image.
    static constexpr int kImageNameRole = Qt::UserRole + 1;

    explicit ItemInfoViewController(QWidget* parent = nullptr);
    ~ItemInfoViewController() override;
    ItemInfoViewController(const ItemInfoViewController&) = delete;
    ItemInfoViewController& operator=(const ItemInfoViewController&) = delete;

    const std::vector<ostrelcomm::SharesData>& actualShares() const { return actualShares_; }
    const std::vector<ostrelcomm::TrustCode>& trusts() const { return trusts_; }

    // The context menu of the shares table: offered at `globalPosition` only
    // while a row is selected.
    void rightMouseDown(const QPoint& globalPosition);
    // The menu's action: removes the selected share.
    void deleteShare();
    void doClose();

    void reject() override;
    void done(int result) override;

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void buildView();
    void viewDidLoad();
    void observeAnswers();
    void sendQueries();
    void fileInfoReceived(const FileInfoEvent& event);
    void directoryInfoReceived(const DirectoryContentEvent& event);
    void sharesReceived(const QueryForSharesEvent& event);
    void trustsReceived(const TrustsListEvent& event);
    void shareRemoved(const RemoveShareEvent& event);
    void showFileInfo(const ostrelcomm::RemoteItemMetadata& metadata);
    void showFolderInfo(const ostrelcomm::RemoteDirInfo& dirInfo);
    void reloadShares();
    QTableWidgetItem* viewFor(int row) const;
    void stopSpinner();
    // The "Comm libraries error" alert with `message`, then the close.
    void abort(const std::string& message);
    // Closes on the main queue, after what is running now.
    void closeSheet();
    bool observing() const;
    void stopObserving();

    QLabel* thumbnail_ = nullptr;
    QLabel* itemName_ = nullptr;
    QLabel* creationDate_ = nullptr;
    QLabel* modifcationDate_ = nullptr;
    QLabel* itemSize_ = nullptr;
    QLabel* itemMIME_ = nullptr;
    QProgressBar* queryInProgress_ = nullptr;
    QLabel* sharesCaption_ = nullptr;
    QTableWidget* tblShares_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPointer<QMenu> shareMenu_;

    std::vector<ostrelcomm::SharesData> actualShares_;
    std::vector<ostrelcomm::TrustCode> trusts_;

    QMetaObject::Connection fileInfoObserver_;
    QMetaObject::Connection directoryInfoObserver_;
    QMetaObject::Connection sharesAvailablesObserver_;
    QMetaObject::Connection trustedUsersObserver_;
    QMetaObject::Connection shareRemovedObserver_;
};

}  // namespace quorvel
