// The main window's remote edits against the stand-in server, with the
// selection taken from real listings: a paste of copied files, one copy after
// the other, then one listing; a paste after a cut, all moves at once; a
// pasted folder copied whole before the next item, Paste refused meanwhile
// and the destination kept; a failed copy ending the paste; deletions and
// share removals after their confirmations; a copy of own and shared items.

#include <QAction>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "RemoteRecords.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/Pasteboard.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainWindow.h"
#include "devserver/Fault.h"
#include "jobs/CommJobs.h"
#include "jobs/JobType.h"
#include "support/NotificationRecorder.h"
#include "tree/RemoteItemType.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::MainWindow;
using quorvel::ToolbarItem;
using Operation = quorvel::Pasteboard::OperationType;
using Lines = std::vector<std::string>;

namespace {

constexpr auto kGuard = std::chrono::milliseconds(kStandInGuardMs);
constexpr char kCopyPrepare[] = "GET /file/copy_prepare/";
constexpr char kCopyExecute[] = "PUT /file/copy_execute/";
constexpr char kList[] = "GET /dir/list/";

Lines copies(std::size_t count) {
    Lines out;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(kCopyPrepare);
        out.push_back(kCopyExecute);
    }
    return out;
}

ostrelcomm::RemoteItemInfo rootItem() { return ownItem("root", ostrelcomm::RemoteItemType::ROOT); }

// The jobs of these types an engine holds, whatever their state.
std::size_t jobsOf(const ostrelcomm::SrvComm& engine, std::set<ostrelcomm::JobType> types) {
    std::size_t n = 0;
    for (const auto& [id, job] : engine.queue()->getJobsList()) n += types.count(job.jobType);
    return n;
}

// The deletions among the requests, in order: the listing that follows them
// is the browser's.
std::vector<devserver::RecordedRequest> deletionsIn(const std::vector<devserver::RecordedRequest>& requests) {
    std::vector<devserver::RecordedRequest> out;
    for (const auto& request : requests)
        if (request.method == "DELETE") out.push_back(request);
    return out;
}

// The item identifier each request names, in order.
Lines itemsNamed(const std::vector<devserver::RecordedRequest>& requests, const std::string& line) {
    Lines out;
    for (const auto& request : requests)
        if (request.method + " " + request.path == line) out.push_back(header(request, "item-uuid"));
    return out;
}

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

devserver::Fault stall() {
    devserver::Fault fault;
    fault.stall = true;
    fault.times = 1;
    return fault;
}

int countOf(const testsupport::NotificationRecorder& recorder, const char* name) {
    int n = 0;
    for (const auto& posted : recorder.all()) n += posted.name == name;
    return n;
}

}  // namespace

class MainWindowEditsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("edits"), presenter));
    }

    void cleanup() {
        standIn().releaseStalls();
        standIn().clearFaults();
    }

    // Each copy starts once the one before has completed: while the first
    // hangs on the server, the slow engine holds no second copy.
    void pastedFilesAreCopiedOneAfterAnother() {
        StandInAccount account("edits-copy-files");
        const std::string destination = account.folder("D");
        const std::vector<std::string> files = {account.file("a"), account.file("b"), account.file("c")};
        QVERIFY(logIn(*appwise, account));
        MainWindow window;
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"a", "b", "c"}));
        window.toolbarItem(ToolbarItem::tbCopyItem)->trigger();
        appwise->remotePath().append("D", destination);
        account.newRequests();
        standIn().setFault("PUT", "/file/copy_execute/", stall());

        QAction* paste = window.toolbarItem(ToolbarItem::tbPasteItem);
        QVERIFY(paste->isEnabled());
        paste->trigger();

        QVERIFY(standIn().waitForStalledRequests(1, kGuard));
        const auto& slow = *appwise->engine(CommTasks::slowTask);
        QCOMPARE(jobsOf(slow, {ostrelcomm::JobType::fileCopy}), std::size_t{1});
        QVERIFY(window.copyChainRunning());
        QCOMPARE(appwise->pasteboard().count(), std::size_t{0});
        QCOMPARE(appwise->pasteboard().operationType(), Operation::none);
        standIn().releaseStalls();

        QTRY_VERIFY_WITH_TIMEOUT(!window.copyChainRunning(), kStandInGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        const auto requests = account.newRequests();
        Lines expected = copies(3);
        expected.push_back(kList);
        QCOMPARE(lines(requests), expected);
        QCOMPARE(itemsNamed(requests, kCopyPrepare), files);
        QCOMPARE(itemsNamed(requests, kList), Lines{destination});
        QCOMPARE(account.namesIn(destination), (Lines{"a", "b", "c"}));
        QCOMPARE(account.namesIn("root"), (Lines{"D/", "a", "b", "c"}));
    }

    // The moves are queued at once, a root item skipped; the clipboard is
    // empty right after.
    void aPasteAfterACutMovesEveryItemAtOnce() {
        StandInAccount account("edits-cut");
        const std::string destination = account.folder("D");
        const std::string a = account.file("a");
        const std::string folder = account.folder("F");
        const std::string b = account.file("b");
        QVERIFY(logIn(*appwise, account));
        MainWindow window;
        auto selection = pick(listFolder(*appwise, "root"), {"a", "F", "b"});
        selection.insert(selection.begin() + 1, rootItem());
        appwise->selectedItems().setOwnElements(selection);
        testsupport::NotificationRecorder changes(appwise->notifications(), {quorvel::kPasteboardChangedNotification});
        LogCapture log;

        window.toolbarItem(ToolbarItem::tbCutItem)->trigger();
        auto& board = appwise->pasteboard();
        for (const auto& uuid : {a, folder, b}) QVERIFY(board.uuidInPasteboard(uuid));
        appwise->remotePath().append("D", destination);
        window.toolbarItem(ToolbarItem::tbPasteItem)->trigger();

        const auto& fast = *appwise->engine(CommTasks::fastTask);
        QCOMPARE(jobsOf(fast, {ostrelcomm::JobType::fileModify}), std::size_t{2});
        QCOMPARE(jobsOf(fast, {ostrelcomm::JobType::directoryModify}), std::size_t{1});
        QCOMPARE(board.count(), std::size_t{0});
        QCOMPARE(board.operationType(), Operation::none);
        for (const auto& uuid : {a, folder, b}) QVERIFY(!board.uuidInPasteboard(uuid));
        const auto logged = log.lines();
        QCOMPARE(std::count(logged.begin(), logged.end(), "Cut of root dir is impossible!"), 1);
        QCOMPARE(countOf(changes, quorvel::kPasteboardChangedNotification), 3);
        QVERIFY(!window.copyChainRunning());

        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(fast), kStandInGuardMs);
        for (const auto& uuid : {a, folder, b})
            QCOMPARE(standIn().items().find(account.owner(), uuid)->parent, destination);
        QCOMPARE(account.namesIn(destination), (Lines{"F/", "a", "b"}));
    }

    // A folder is copied whole before the file behind it; meanwhile Paste is
    // refused and entering another folder changes nothing of where the
    // copies go.
    void aPastedFolderIsCopiedWholeBeforeTheNextItem() {
        StandInAccount account("edits-copy-folder");
        const std::string destination = account.folder("D");
        const std::string other = account.folder("Other");
        const std::string source = account.folder("S");
        // Three files: a paste that went on at the first copy the copier
        // reports would queue g's copy between the copier's second and third.
        account.file("f1", source);
        account.file("f2", source);
        account.file("f3", source);
        const std::string g = account.file("g");
        QVERIFY(logIn(*appwise, account));
        MainWindow window;
        const auto listed = listFolder(*appwise, "root");
        appwise->selectedItems().setOwnElements(pick(listed, {"S", "g"}));
        window.toolbarItem(ToolbarItem::tbCopyItem)->trigger();
        appwise->remotePath().append("D", destination);
        account.newRequests();
        standIn().setFault("GET", "/dir/tree/", stall());

        window.toolbarItem(ToolbarItem::tbPasteItem)->trigger();
        QVERIFY(standIn().waitForStalledRequests(1, kGuard));

        QAction* paste = window.toolbarItem(ToolbarItem::tbPasteItem);
        appwise->selectedItems().setOwnElements(pick(listed, {"g"}));
        window.toolbarItem(ToolbarItem::tbCopyItem)->trigger();
        QCOMPARE(appwise->pasteboard().count(), std::size_t{1});
        QVERIFY(!paste->isEnabled());
        const auto jobsBefore = appwise->engine(CommTasks::slowTask)->queue()->getJobsList().size();
        appwise->notifications()->post(quorvel::kPasteRemoteItemsNotification);
        QCOMPARE(appwise->engine(CommTasks::slowTask)->queue()->getJobsList().size(), jobsBefore);
        QCOMPARE(appwise->pasteboard().operationType(), Operation::remoteOwnCopy);
        appwise->remotePath().clean();
        appwise->remotePath().append("Other", other);
        standIn().releaseStalls();

        QTRY_VERIFY_WITH_TIMEOUT(!window.copyChainRunning(), kStandInGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        const auto requests = account.newRequests();
        Lines expected = {"GET /dir/tree/", "GET /dir/create_prepare/", "PUT /dir/create_execute/"};
        for (const auto& line : copies(4)) expected.push_back(line);
        expected.push_back(kList);
        QCOMPARE(lines(requests), expected);
        QCOMPARE(itemsNamed(requests, kCopyPrepare).back(), g);
        QCOMPARE(itemsNamed(requests, kList), Lines{destination});
        QCOMPARE(account.namesIn(destination), (Lines{"S/", "g"}));
        QCOMPARE(account.namesIn(account.uuidIn(destination, "S")), (Lines{"f1", "f2", "f3"}));
        QCOMPARE(account.namesIn(other), Lines{});
        // The paste is over: the clipboard's copy of g may be pasted now.
        QVERIFY(paste->isEnabled());
    }

    // A copy the server refuses ends the paste: nothing more is asked and
    // nothing listed; Paste is offered again for the next copy.
    void aFailedCopyEndsThePaste() {
        StandInAccount account("edits-copy-fails");
        const std::string destination = account.folder("D");
        account.file("a");
        account.file("b");
        account.file("c");
        QVERIFY(logIn(*appwise, account));
        MainWindow window;
        const auto listed = listFolder(*appwise, "root");
        appwise->selectedItems().setOwnElements(pick(listed, {"a", "b", "c"}));
        window.toolbarItem(ToolbarItem::tbCopyItem)->trigger();
        appwise->remotePath().append("D", destination);
        account.newRequests();
        standIn().setFault("PUT", "/file/copy_execute/",
                           devserver::Fault::exception(500, "InjectedFault", "no copy today"));

        window.toolbarItem(ToolbarItem::tbPasteItem)->trigger();

        QTRY_VERIFY_WITH_TIMEOUT(!window.copyChainRunning(), kStandInGuardMs);
        QVERIFY(engineIdle(*appwise->engine(CommTasks::slowTask)));
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        QCOMPARE(lines(account.newRequests()), copies(1));
        QCOMPARE(account.namesIn(destination), Lines{});
        window.toolbarItem(ToolbarItem::tbCopyItem)->trigger();
        QVERIFY(window.toolbarItem(ToolbarItem::tbPasteItem)->isEnabled());
    }

    void deleteAsksFirst() {
        StandInAccount account("edits-delete");
        const std::string folder = account.folder("F");
        const std::string inner = account.file("inner", folder);
        const std::string file = account.file("x");
        QVERIFY(logIn(*appwise, account));
        MainWindow window;
        auto selection = pick(listFolder(*appwise, "root"), {"F", "x"});
        selection.insert(selection.begin(), rootItem());
        appwise->selectedItems().setOwnElements(selection);
        account.newRequests();
        LogCapture log;
        QAction* del = window.toolbarItem(ToolbarItem::tbDeleteItem);

        presenter->answerNext({0});
        del->trigger();
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        const auto asked = presenter->shown()[0];
        QVERIFY(asked.question);
        QCOMPARE(asked.messageText, localized("DeleteItemConfirm"));
        QCOMPARE(asked.informativeText, localized("DeleteItemConfirmMsg"));
        QCOMPARE(asked.icon, quorvel::AlertIcon::caution);
        QCOMPARE(asked.buttons, (std::vector<QString>{localized("Cancel"), localized("Delete")}));
        QCOMPARE(asked.window, &window);
        QCoreApplication::sendPostedEvents();
        const auto& fast = *appwise->engine(CommTasks::fastTask);
        const std::set deletions = {ostrelcomm::JobType::fileDelete, ostrelcomm::JobType::directoryDelete};
        QCOMPARE(jobsOf(fast, deletions), std::size_t{0});
        QVERIFY(account.newRequests().empty());

        presenter->answerNext({1});
        del->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(jobsOf(fast, deletions) == 2 && engineIdle(fast), kStandInGuardMs);
        const auto requests = deletionsIn(account.newRequests());
        QCOMPARE(lines(requests), (Lines{"DELETE /dir/", "DELETE /file/"}));
        QCOMPARE(header(requests[0], "item-uuid"), folder);
        QCOMPARE(header(requests[0], "recursive"), std::string("true"));
        QCOMPARE(header(requests[1], "item-uuid"), file);
        const auto logged = log.lines();
        QCOMPARE(std::count(logged.begin(), logged.end(), "Invalid item type - Cannot delete root dir!"), 1);
        for (const auto& uuid : {folder, inner, file}) QVERIFY(!standIn().items().find(account.owner(), uuid));
    }

    // Own and shared items selected: Copy keeps the shared ones, announced
    // twice, and a paste copies them into the user's folder.
    void copyingOwnAndSharedItemsKeepsTheShared() {
        StandInAccount owner("edits-share-owner");
        StandInAccount reader("edits-share-reader");
        const std::string f1 = owner.file("F1");
        const std::string f2 = owner.file("F2");
        QVERIFY(owner.grant(f1, reader) && owner.grant(f2, reader));
        const std::string destination = reader.folder("D");
        reader.file("x");
        QVERIFY(logIn(*appwise, reader));
        MainWindow window;
        const auto shared = sharedItems(*appwise);
        QCOMPARE(shared.size(), std::size_t{2});
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"x"}));
        appwise->selectedItems().setShares(shared);
        testsupport::NotificationRecorder changes(appwise->notifications(), {quorvel::kPasteboardChangedNotification});

        window.toolbarItem(ToolbarItem::tbCopyItem)->trigger();

        QCOMPARE(countOf(changes, quorvel::kPasteboardChangedNotification), 2);
        auto& board = appwise->pasteboard();
        QCOMPARE(board.operationType(), Operation::remoteShareCopy);
        QCOMPARE(board.ownElements().size(), std::size_t{0});
        QCOMPARE(board.shares().size(), std::size_t{2});
        QVERIFY(board.uuidInPasteboard(f1) && board.uuidInPasteboard(f2));
        QVERIFY(!board.uuidInPasteboard(reader.uuidIn("root", "x")));

        appwise->remotePath().append("D", destination);
        window.toolbarItem(ToolbarItem::tbPasteItem)->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!window.copyChainRunning(), kStandInGuardMs);
        QCOMPARE(reader.namesIn(destination), (Lines{"F1", "F2"}));
    }

    // Own items and shares selected: the deletion is asked first, and the
    // removal only once that is answered; each share is removed by its id.
    void theTwoConfirmationsComeOneAfterTheOther() {
        StandInAccount owner("edits-unshare-owner");
        StandInAccount reader("edits-unshare-reader");
        const std::string f1 = owner.file("F1");
        const std::string f2 = owner.file("F2");
        QVERIFY(owner.grant(f1, reader) && owner.grant(f2, reader));
        reader.file("x");
        QVERIFY(logIn(*appwise, reader));
        MainWindow window;
        const auto shared = sharedItems(*appwise);
        QCOMPARE(shared.size(), std::size_t{2});
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"x"}));
        appwise->selectedItems().setShares(shared);
        reader.newRequests();

        window.toolbarItem(ToolbarItem::tbDeleteItem)->trigger();
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, localized("DeleteItemConfirm"));
        QVERIFY(presenter->answerPending(0));

        QCOMPARE(presenter->shown().size(), std::size_t{2});
        const auto asked = presenter->shown()[1];
        QCOMPARE(asked.messageText, localized("DeleteShareConfirm"));
        QCOMPARE(asked.informativeText, localized("DeleteShareConfirmMsg"));
        QCOMPARE(asked.icon, quorvel::AlertIcon::caution);
        QCOMPARE(asked.buttons, (std::vector<QString>{localized("Cancel"), localized("Remove")}));
        QCOMPARE(asked.window, &window);
        QVERIFY(presenter->answerPending(1));

        const auto& fast = *appwise->engine(CommTasks::fastTask);
        QTRY_VERIFY_WITH_TIMEOUT(jobsOf(fast, {ostrelcomm::JobType::removeShare}) == 2 && engineIdle(fast),
                                 kStandInGuardMs);
        const auto requests = deletionsIn(reader.newRequests());
        QCOMPARE(lines(requests), (Lines{"DELETE /shares/remove/", "DELETE /shares/remove/"}));
        QCOMPARE(header(requests[0], "share-uuid"), shared[0].shareid);
        QCOMPARE(header(requests[1], "share-uuid"), shared[1].shareid);
        QVERIFY(!standIn().items().sharedWith(reader.owner(), f1));
        QVERIFY(!standIn().items().sharedWith(reader.owner(), f2));
        QVERIFY(standIn().items().find(reader.owner(), reader.uuidIn("root", "x")));
    }

    void aCancelledShareRemovalSendsNothing() {
        StandInAccount owner("edits-keep-owner");
        StandInAccount reader("edits-keep-reader");
        const std::string f1 = owner.file("F1");
        QVERIFY(owner.grant(f1, reader));
        QVERIFY(logIn(*appwise, reader));
        MainWindow window;
        appwise->selectedItems().setShares(sharedItems(*appwise));
        reader.newRequests();
        presenter->answerNext({0});

        window.toolbarItem(ToolbarItem::tbDeleteItem)->trigger();
        QCoreApplication::sendPostedEvents();

        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, localized("DeleteShareConfirm"));
        QCOMPARE(jobsOf(*appwise->engine(CommTasks::fastTask), {ostrelcomm::JobType::removeShare}), std::size_t{0});
        QVERIFY(reader.newRequests().empty());
        QVERIFY(standIn().items().sharedWith(reader.owner(), f1));
    }

private:
    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
};

QTEST_MAIN(MainWindowEditsTest)
#include "MainWindowEdits_test.moc"
