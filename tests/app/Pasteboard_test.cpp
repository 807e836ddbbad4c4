// The internal clipboard: what it holds, when it announces a change, that an
// observer sees the new operation at once, that a walk under way keeps its
// own list when the clipboard is emptied, and which identifiers it knows.

#include <QTest>

#include <memory>
#include <string>
#include <vector>

#include "RemoteRecords.h"
#include "app/utils/Pasteboard.h"
#include "platform/NotificationCenter.h"
#include "tree/RemoteItemType.h"

using quorvel::Pasteboard;
using Operation = Pasteboard::OperationType;
using apptest::ownItem;
using apptest::sharedItem;

namespace {

constexpr char kChanged[] = "clipboardChangedForTest";

// The operation the clipboard had at each announcement.
struct Announcements {
    explicit Announcements(Pasteboard& board) : center(std::make_shared<ostrelcomm::NotificationCenter>()) {
        center->addObserver(kChanged, [this, &board](const ostrelcomm::Notification& n) {
            if (n.userInfo.empty()) seen.push_back(board.operationType());
        });
        board.setNotificationCenter(center);
        board.setNotificationName(kChanged);
    }
    std::shared_ptr<ostrelcomm::NotificationCenter> center;
    std::vector<Operation> seen;
};

}  // namespace

class PasteboardTest : public QObject {
    Q_OBJECT

private slots:
    void everyChangeOfContentIsAnnounced() {
        Pasteboard board;
        Announcements announced(board);

        board.holdOwnElements({ownItem("a"), ownItem("b")}, Operation::remoteCut);
        board.holdShares({sharedItem("s", "share-1")}, Operation::remoteShareCopy);
        // Only what a paste does: no announcement.
        board.setOperationType(Operation::remoteOwnCopy);
        board.clear();

        QCOMPARE(announced.seen,
                 (std::vector<Operation>{Operation::remoteCut, Operation::remoteShareCopy, Operation::none}));
        QCOMPARE(board.count(), std::size_t{0});
        QCOMPARE(board.operationType(), Operation::none);
    }

    void holdingOneKindDropsTheOther() {
        Pasteboard board;
        board.holdOwnElements({ownItem("a")}, Operation::remoteOwnCopy);
        board.holdShares({sharedItem("s", "share-1"), sharedItem("t", "share-2")}, Operation::remoteShareCopy);
        QCOMPARE(board.ownElements().size(), std::size_t{0});
        QCOMPARE(board.shares().size(), std::size_t{2});
        board.holdOwnElements({ownItem("a")}, Operation::remoteCut);
        QCOMPARE(board.shares().size(), std::size_t{0});
        QCOMPARE(board.count(), std::size_t{1});
    }

    void withoutACenterOrANameNothingIsPosted() {
        Pasteboard board;
        auto center = std::make_shared<ostrelcomm::NotificationCenter>();
        int posted = 0;
        center->addObserver("", [&](const ostrelcomm::Notification&) { ++posted; });
        board.holdOwnElements({ownItem("a")}, Operation::remoteCut);
        board.setNotificationCenter(center);
        board.clear();
        QCOMPARE(posted, 0);
    }

    void aWalkKeepsItsListWhenTheClipboardIsEmptied() {
        Pasteboard board;
        board.holdOwnElements({ownItem("a"), ownItem("b")}, Operation::remoteOwnCopy);
        auto& walk = board.ownElementsIterator();
        QCOMPARE(walk.next()->uuid, std::string("a"));
        board.clear();
        QCOMPARE(walk.next()->uuid, std::string("b"));
        QVERIFY(!walk.next());
        QVERIFY(!walk.next());
    }

    void knowsItsItemsByTheirIdentifiers() {
        Pasteboard board;
        board.holdOwnElements({ownItem("own-1")}, Operation::remoteCut);
        QVERIFY(board.uuidInPasteboard("own-1"));
        QVERIFY(!board.uuidInPasteboard("own-2"));
        board.holdShares({sharedItem("item-1", "share-1")}, Operation::remoteShareCopy);
        QVERIFY(board.uuidInPasteboard("item-1"));
        // A share is known by its item, not by the share.
        QVERIFY(!board.uuidInPasteboard("share-1"));
        QVERIFY(!board.uuidInPasteboard("own-1"));
        board.clear();
        QVERIFY(!board.uuidInPasteboard("item-1"));
    }
};

QTEST_APPLESS_MAIN(PasteboardTest)
#include "Pasteboard_test.moc"
