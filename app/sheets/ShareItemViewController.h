#pragma once

#include <QDialog>
#include <QMetaObject>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/utils/EngineBridge.h"
#include "shares/TrustCode.h"
#include "tree/RemoteItemInfo.h"
#include "user/PeerShareData.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QTableWidget;
class QTableWidgetItem;

namespace quorvel {

// The share sheet "shareItem": the user's own files among the selected remote
// items are shared with the peers chosen in its table, one share job per peer
// and file on the fast engine. The table lists the trusted peers and, at its
// top, the user found by the last search, which may be anyone; sharing with
// a peer that is not trusted asks first.
//
// Its widgets are found by their object names: the header "itemIcon",
// "itemName", "modificationDate" and "itemSize"; "searchPeer" (a search runs
// on Return there), "trustedUsersTable" (one column, several rows may be
// chosen), and the buttons "closeButton" and "shareButton" (Return anywhere
// else).
//
// Rows: with a found peer, row 0 is that peer and row r > 0 trusts()[r - 1];
// without, row r is trusts()[r]. A reload keeps the chosen peers chosen,
// wherever their rows move, so that a row that changes hands never carries a
// choice over to another user.
//
// On the main thread only. Opened window-modal on the main window; the
// selection is read, the header filled and the trusted peers asked for when
// it is first shown. Closed with done(0) (Close, Escape, the close box, and
// after Share), which first drops its connections to the fast engine.
class ShareItemViewController : public QDialog {
    Q_OBJECT

public:
    // The image of the header for anything but one file.
    static constexpr char kMultipleItemsImage[] = "MultipleDocuments";
    static constexpr char kTrustedImage[] = "trustedUser-icon";
    static constexpr char kUntrustedImage[] = "untrustedUser-icon";
    // The property of "itemIcon" that names its image; empty for a thumbnail
    // or no image.
    static constexpr char kImageNameProperty[] = "imageName";
    // The role under which a row of the table gives the name of its image.
    static constexpr int kImageNameRole = Qt::UserRole + 1;

    explicit ShareItemViewController(QWidget* parent = nullptr);
    ~ShareItemViewController() override;
    ShareItemViewController(const ShareItemViewController&) = delete;
    ShareItemViewController& operator=(const ShareItemViewController&) = delete;

    // The peer that no search found: uuid "NONE", not trusted, user name
    // "No peer name", no key.
    static ostrelcomm::PeerShareData emptyPeer();

    const std::vector<ostrelcomm::TrustCode>& trusts() const { return trusts_; }
    const ostrelcomm::PeerShareData& foundPeer() const { return foundPeer_; }
    const std::vector<ostrelcomm::RemoteItemInfo>& shareableItems() const { return shareableItems_; }
    // A search found someone: the table has that peer on row 0.
    bool peerFound() const;

    // The search field's action: spaces alone forget the found peer; the
    // exact name of a trusted peer chooses that peer's row alone; any other
    // text asks the server for the user of that name, as typed.
    void searchUser();
    // Share: every file with every chosen peer, after a confirmation when a
    // chosen peer is not trusted; with no peer chosen it only closes.
    void doShare();
    void doClose();

    void reject() override;
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    // Return in the search field searches, and goes no further.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Who is chosen, by what stays true of a peer when rows move.
    struct Chosen {
        std::optional<std::string> foundPeerUUID;
        std::set<std::string> trustedPeerUUIDs;
    };

    void buildView();
    void viewDidLoad();
    void viewDidAppear();
    void fillHeader();
    void trustsReceived(const TrustsListEvent& event);
    void peerShareDataReceived(const PeerShareDataEvent& event);
    int offset() const;
    int numberOfRows() const;
    QTableWidgetItem* viewFor(int row) const;
    Chosen chosen() const;
    void reloadData(const Chosen& keep);
    void selectRowAlone(int row);
    std::vector<ostrelcomm::PeerShareData> chosenPeers() const;
    void share(const std::vector<ostrelcomm::PeerShareData>& peers);
    void closeSheet();
    void stopObserving();

    QLabel* itemIcon_ = nullptr;
    QLabel* itemName_ = nullptr;
    QLabel* modificationDate_ = nullptr;
    QLabel* itemSize_ = nullptr;
    QTableWidget* trustedUsersTable_ = nullptr;
    QLineEdit* searchPeer_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* shareButton_ = nullptr;

    std::vector<ostrelcomm::TrustCode> trusts_;
    ostrelcomm::PeerShareData foundPeer_;
    std::vector<ostrelcomm::RemoteItemInfo> shareableItems_;
    bool appeared_ = false;
    // The connections to "trustsList" and "peerShareData"; empty before the
    // sheet first shows and once it is closing.
    QMetaObject::Connection tableRefreshObserver_;
    QMetaObject::Connection searchResultTableRefreshObserver_;
};

}  // namespace quorvel
