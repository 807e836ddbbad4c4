// Browsing in the main view, on the offscreen platform: a logged-in user
// walks the stand-in's tree with double clicks and the path bar (the top,
// a folder, the users who share with the user, one of them's items); the
// observers of listings, peers, deletions and share removals; the refresh
// for each place of the remote path; what a logout empties and a login
// leaves; the local path bar and the local double click; select all and the
// full log's button; the observers on the application's center going with
// the view.

#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "AppTestSupport.h"
#include "RemoteRecords.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/Pasteboard.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainViewController.h"
#include "app/window/PathBar.h"
#include "shares/ShareNotifications.h"
#include "support/ListingOracle.h"
#include "support/NotificationRecorder.h"
#include "tree/TreeNotifications.h"
#include "xfer/XferNotifications.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::MainViewController;
using quorvel::PathBar;
using SelectedTable = MainViewController::SelectedTable;
using Strings = std::vector<std::string>;
using Path = std::vector<std::pair<std::string, std::string>>;

Q_DECLARE_METATYPE(Path)

namespace {

namespace tree = ostrelcomm::tree;
namespace shares = ostrelcomm::shares;

// A listing as the server would send it, read by the library.
tree::DirInfoPayload listingOf(const Strings& names) {
    std::vector<testsupport::ListingOracle::Item> items;
    for (const auto& name : names) {
        testsupport::ListingOracle::Item item;
        item.uuid = "uuid-" + name;
        item.type = "FILE";
        item.metadata = testsupport::metadataText(name);
        items.push_back(item);
    }
    testsupport::ListingOracle oracle;
    const std::string body = oracle.body(std::nullopt, items).dump();
    return ostrelcomm::RemoteDirInfo::create(ostrelcomm::toBytes(body), oracle.passwordKey);
}

quorvel::DirectoryContentEvent listingEvent(const tree::DirInfoPayload& listing, std::optional<std::string> source) {
    quorvel::DirectoryContentEvent event;
    event.result = tree::kReceived;
    event.data = listing;
    event.source = std::move(source);
    event.customData = event.source ? quorvel::CustomDataShape::dictionary : quorvel::CustomDataShape::other;
    return event;
}

template <class Event>
Event wordEvent(const char* word) {
    Event event;
    event.result = word;
    return event;
}

Strings sorted(Strings names) {
    std::sort(names.begin(), names.end());
    return names;
}

// The rows' names, sorted.
Strings namesOf(const MainViewController& view) {
    Strings out;
    for (const auto& row : view.remoteItemsTableContent().content) out.push_back(row.name);
    std::sort(out.begin(), out.end());
    return out;
}

int rowOf(const MainViewController& view, const std::string& uuid) {
    const auto& rows = view.remoteItemsTableContent().content;
    const auto found = std::find_if(rows.begin(), rows.end(), [&](const auto& row) { return row.uuid == uuid; });
    return found == rows.end() ? -1 : static_cast<int>(found - rows.begin());
}

QTableView* table(const MainViewController& view, const char* name) {
    return view.findChild<QTableView*>(QString::fromLatin1(name));
}

void doubleClickRow(QTableView* table, int row) {
    const QRect rect = table->visualRect(table->model()->index(row, 0));
    // A double click is a click first: the row is selected, as the user sees.
    QTest::mouseClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QTest::mouseDClick(table->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
}

Strings titlesOf(const PathBar& bar) {
    Strings out;
    for (const auto& item : bar.items()) out.push_back(item.title.toStdString());
    return out;
}

Path pathOf(const Appwise& appwise) {
    Path out;
    const auto names = appwise.remotePath().pathComponents();
    for (std::size_t i = 0; i < names.size(); ++i)
        out.emplace_back(names[i], appwise.remotePath().getUUIDFromIndex(static_cast<long long>(i)));
    return out;
}

void setPath(Appwise& appwise, const Path& path) {
    appwise.remotePath().clean();
    for (const auto& [name, uuid] : path) appwise.remotePath().append(name, uuid);
}

std::string sharesName() { return quorvel::localize("SHARES"); }

// "METHOD path header" of each request; the header named (without "x-sb-")
// when the request has it.
Strings requestLines(const std::vector<devserver::RecordedRequest>& requests, const std::string& headerName) {
    Strings out;
    for (const auto& request : requests) {
        std::string line = request.method + " " + request.path;
        const std::string value = header(request, headerName);
        if (!value.empty()) line += " " + value;
        out.push_back(line);
    }
    return out;
}

// The account's requests until the fast engine has run dry, as lines.
Strings requestsUntilIdle(Appwise& appwise, StandInAccount& account, const std::string& headerName) {
    (void)QTest::qWaitFor([&] { return engineIdle(*appwise.engine(CommTasks::fastTask)); }, kStandInGuardMs);
    // The answer's observers run from the event loop.
    QCoreApplication::processEvents();
    return requestLines(account.newRequests(), headerName);
}

void writeFile(const std::filesystem::path& path) { std::ofstream(path) << "x"; }

}  // namespace

class MainViewBrowseTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("browse"),
                                                      std::make_shared<RecordingAlertPresenter>(), Terms::accepted));
        local = std::make_unique<TemporaryFolder>();
        QVERIFY(local->isValid());
        appwise->setLocalPath(local->path());
    }

    void cleanup() { local.reset(); }

    // The top, a folder entered by a double click, the top again from the
    // path bar's first item, the users who share with the user, and one of
    // them's items: each place asks once and shows what came.
    void browsingTheStandInTree() {
        StandInAccount owner("browse-owner");
        StandInAccount peer("browse-peer");
        const std::string docs = owner.folder("Docs");
        const std::string inDocs = owner.file("inside.txt", docs);
        owner.file("top.txt");
        const std::string lent = peer.file("lent.txt");
        QVERIFY(!inDocs.empty() && peer.grant(lent, owner));
        QVERIFY(logIn(*appwise, owner));
        MainViewController view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTableView* remote = table(view, "remoteFiles");
        PathBar* bar = view.remotePathView();
        // Hidden until a listing has come.
        QVERIFY(bar->isHidden());
        owner.newRequests();

        appwise->notifications()->post(quorvel::kActionRefreshNotification);
        QCOMPARE(requestsUntilIdle(*appwise, owner, "item-uuid"), Strings{"GET /dir/list/ root"});
        QTRY_VERIFY(rowOf(view, docs) >= 0);
        QVERIFY(rowOf(view, quorvel::kSharesNodeUUID) >= 0);
        QVERIFY(!bar->isHidden() && bar->isEnabled());
        QCOMPARE(bar->items().size(), std::size_t{1});
        QVERIFY(!bar->items().front().image.isNull());

        doubleClickRow(remote, rowOf(view, docs));
        QCOMPARE(requestsUntilIdle(*appwise, owner, "item-uuid"), Strings{"GET /dir/list/ " + docs});
        QTRY_COMPARE(namesOf(view), Strings{"inside.txt"});
        QCOMPARE(pathOf(*appwise), (Path{{"Docs", docs}}));
        QCOMPARE(bar->items().size(), std::size_t{2});
        QCOMPARE(bar->items().back().title, QStringLiteral("Docs"));

        QTest::mouseClick(bar->button(0), Qt::LeftButton);
        QCOMPARE(requestsUntilIdle(*appwise, owner, "item-uuid"), Strings{"GET /dir/list/ root"});
        QTRY_VERIFY(rowOf(view, quorvel::kSharesNodeUUID) >= 0);
        QVERIFY(pathOf(*appwise).empty());
        QCOMPARE(bar->items().size(), std::size_t{1});

        doubleClickRow(remote, rowOf(view, quorvel::kSharesNodeUUID));
        QCOMPARE(requestsUntilIdle(*appwise, owner, "peer-uuid"), Strings{"GET /shares/getsharingpeers/"});
        QTRY_COMPARE(namesOf(view), Strings{peer.user()});
        QCOMPARE(view.remoteItemsTableContent().content.front().uuid, peer.owner());
        QCOMPARE(pathOf(*appwise), (Path{{sharesName(), quorvel::kSharesNodeUUID}}));

        doubleClickRow(remote, 0);
        QCOMPARE(requestsUntilIdle(*appwise, owner, "peer-uuid"),
                 Strings{"GET /shares/getshareditems/ " + peer.owner()});
        QTRY_COMPARE(namesOf(view), Strings{"lent.txt"});
        QCOMPARE(titlesOf(*bar).size(), std::size_t{3});
        QCOMPARE(titlesOf(*bar).back(), peer.user());
    }

    // "actionRefresh" asks for what the path names, and the path at the top
    // is left clean.
    void refreshByPlace_data() {
        QTest::addColumn<Path>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("top") << Path{} << QStringLiteral("GET /dir/list/ root");
        QTest::newRow("folder") << Path{{"A", "folder-a"}} << QStringLiteral("GET /dir/list/ folder-a");
        QTest::newRow("shares") << Path{{sharesName(), quorvel::kSharesNodeUUID}}
                                << QStringLiteral("GET /shares/getsharingpeers/");
        QTest::newRow("peer") << Path{{sharesName(), quorvel::kSharesNodeUUID}, {"someone", "peer-p"}}
                              << QStringLiteral("GET /shares/getshareditems/ peer-p");
    }
    void refreshByPlace() {
        QFETCH(Path, path);
        QFETCH(QString, expected);
        StandInAccount account("browse-refresh");
        QVERIFY(logIn(*appwise, account));
        MainViewController view;
        // Registered once: a second call adds no second listing.
        view.appRelatedObservers();
        view.observeRefresh();
        setPath(*appwise, path);
        appwise->selectedItems().setOwnElements({ownItem("picked")});
        appwise->selectedItems().setShares({sharedItem("lent", "share")});
        account.newRequests();

        appwise->notifications()->post(quorvel::kActionRefreshNotification);
        QVERIFY(!view.remotePathView()->isEnabled());
        QVERIFY(appwise->selectedItems().ownElements().empty() && appwise->selectedItems().shares().empty());
        QCOMPARE(requestsUntilIdle(*appwise, account, path.size() == 2 ? "peer-uuid" : "item-uuid"),
                 Strings{expected.toStdString()});
        QCOMPARE(pathOf(*appwise), path);
    }

    // Listings of the main view (tagged "mainWindow", or untagged) are shown;
    // one asked for by a sheet leaves the pane as it was.
    void listingsBySource_data() {
        QTest::addColumn<std::optional<std::string>>("source");
        QTest::addColumn<bool>("taken");
        QTest::newRow("main view") << std::optional<std::string>(quorvel::kMainWindowSource) << true;
        QTest::newRow("untagged") << std::optional<std::string>() << true;
        QTest::newRow("rename sheet") << std::optional<std::string>("itemRename") << false;
    }
    void listingsBySource() {
        QFETCH(std::optional<std::string>, source);
        QFETCH(bool, taken);
        MainViewController view;
        auto& fast = appwise->bridge(CommTasks::fastTask);
        emit fast.queryRemoteDirectoryContent(listingEvent(listingOf({"before"}), quorvel::kMainWindowSource));
        QCOMPARE(namesOf(view), sorted({"before", sharesName()}));
        appwise->selectedItems().setOwnElements({ownItem("picked")});
        const auto shown = appwise->remoteDirectoryInfo();

        const auto next = listingOf({"after"});
        emit fast.queryRemoteDirectoryContent(listingEvent(next, source));
        QCOMPARE(namesOf(view), taken ? sorted({"after", sharesName()}) : sorted({"before", sharesName()}));
        QCOMPARE(appwise->remoteDirectoryInfo(), taken ? next : shown);
        QCOMPARE(appwise->selectedItems().ownElements().empty(), taken);
    }

    // A listing without its folder is logged and changes nothing.
    void unreadableListingIsLogged() {
        MainViewController view;
        auto& fast = appwise->bridge(CommTasks::fastTask);
        LogCapture log;
        auto missing = wordEvent<quorvel::DirectoryContentEvent>(tree::kReceived);
        emit fast.queryRemoteDirectoryContent(missing);
        auto unreadable = missing;
        unreadable.customData = quorvel::CustomDataShape::dictionary;
        unreadable.source = quorvel::kMainWindowSource;
        emit fast.queryRemoteDirectoryContent(unreadable);
        QCOMPARE(log.lines(), (Strings{"newRemoteDirectoryContentAvailable observer: Unable to decode notification data",
                                       "newRemoteDirectoryContentAvailable observer: Unreadable remoteDirInfo"}));
        QVERIFY(!appwise->remoteDirectoryInfo());
        QVERIFY(view.remotePathView()->isHidden());
    }

    // Two deletions set the flag twice and list the folder once, when the
    // queue has run empty; a share removed lists it again through the
    // refresh; a creation lists it only when this view asked for it.
    void editsListTheFolderAgain() {
        StandInAccount account("browse-edits");
        const std::string one = account.file("one.txt");
        const std::string two = account.file("two.txt");
        QVERIFY(logIn(*appwise, account));
        MainViewController view;
        const auto& fast = appwise->engine(CommTasks::fastTask);
        auto& bridge = appwise->bridge(CommTasks::fastTask);
        setPath(*appwise, {{"A", "folder-a"}});
        account.newRequests();

        fast->file_delete(one);
        fast->file_delete(two);
        // The listing comes once both are gone, and only once.
        Strings seen;
        const auto listings = [&] {
            const Strings more = requestLines(account.newRequests(), "item-uuid");
            seen.insert(seen.end(), more.begin(), more.end());
            return std::count(seen.begin(), seen.end(), "GET /dir/list/ folder-a");
        };
        QTRY_VERIFY_WITH_TIMEOUT(listings() == 1, kStandInGuardMs);
        const Strings settled = requestsUntilIdle(*appwise, account, "item-uuid");
        seen.insert(seen.end(), settled.begin(), settled.end());
        QCOMPARE(seen.size(), std::size_t{3});
        QCOMPARE(seen.back(), std::string("GET /dir/list/ folder-a"));
        QVERIFY(!appwise->refreshRemoteContent());
        QCOMPARE(requestsUntilIdle(*appwise, account, "item-uuid"), Strings{});
        QCOMPARE(account.namesIn("root"), Strings{});

        testsupport::NotificationRecorder refreshes(appwise->notifications(), {quorvel::kActionRefreshNotification});
        emit bridge.removeShareTerminated(wordEvent<quorvel::RemoveShareEvent>(shares::kError));
        emit bridge.removeShareTerminated(wordEvent<quorvel::RemoveShareEvent>(shares::kRemoved));
        QCOMPARE(refreshes.all().size(), std::size_t{1});
        QCOMPARE(requestsUntilIdle(*appwise, account, "item-uuid"), Strings{"GET /dir/list/ folder-a"});

        auto created = wordEvent<quorvel::DirectoryCreatedEvent>(tree::kCreated);
        created.data = "new-folder";
        created.customData = quorvel::CustomDataShape::other;
        LogCapture log;
        emit bridge.newRemoteDirectoryCreated(created);
        created.customData = quorvel::CustomDataShape::dictionary;
        created.source = "newRemoteDirectorySheet";
        emit bridge.newRemoteDirectoryCreated(created);
        QCOMPARE(requestsUntilIdle(*appwise, account, "item-uuid"), Strings{});
        QCOMPARE(log.lines(), Strings{"newRemoteDirectoryCreated observer: Unable to decode notification data"});
        created.source = quorvel::kMainWindowSource;
        emit bridge.newRemoteDirectoryCreated(created);
        QCOMPARE(requestsUntilIdle(*appwise, account, "item-uuid"), Strings{"GET /dir/list/ folder-a"});
    }

    // Two peers of one name: the later identifier stays. A peer row whose
    // name has left the list meanwhile is entered by its own identifier.
    void peersByName() {
        MainViewController view;
        setPath(*appwise, {{sharesName(), quorvel::kSharesNodeUUID}});
        auto& bridge = appwise->bridge(CommTasks::fastTask);
        auto answer = wordEvent<quorvel::SharingPeersEvent>(shares::kReceived);
        answer.data = shares::SharingPeersPayload{{"bob", "bob-1"}, {"ann", "ann-1"}, {"bob", "bob-2"}};
        emit bridge.queryForSharingPeers(answer);
        QCOMPARE(view.sharingPeers(), (std::map<std::string, std::string>{{"ann", "ann-1"}, {"bob", "bob-2"}}));
        QCOMPARE(namesOf(view), (Strings{"ann", "bob"}));
        QVERIFY(rowOf(view, "bob-2") == 1);

        // "Started" keeps the list; a failure empties it.
        emit bridge.queryForSharingPeers(wordEvent<quorvel::SharingPeersEvent>(shares::kStarted));
        QCOMPARE(view.sharingPeers().size(), std::size_t{2});
        emit bridge.queryForSharingPeers(wordEvent<quorvel::SharingPeersEvent>(shares::kError));
        QVERIFY(view.sharingPeers().empty());
        QVERIFY(view.remoteItemsTableContent().content.empty());

        emit bridge.queryForSharingPeers(answer);
        view.setSharingPeers({{"ann", "ann-1"}});
        view.remoteTableViewDoubleClick(rowOf(view, "bob-2"));
        QCOMPARE(pathOf(*appwise), (Path{{sharesName(), quorvel::kSharesNodeUUID}, {"bob", "bob-2"}}));
    }

    // A logout empties the path, the rows, the selection, the clipboard and
    // the password; a login leaves the pane as it is.
    void logoutEmptiesLoginKeeps() {
        StandInAccount account("browse-logout");
        const std::string folder = account.folder("Kept");
        QVERIFY(logIn(*appwise, account));
        MainViewController view;
        setPath(*appwise, {{"Kept", folder}});
        appwise->notifications()->post(quorvel::kActionRefreshNotification);
        QTRY_VERIFY(!view.remotePathView()->isHidden());
        view.setSharingPeers({{"bob", "bob-1"}});
        view.setSharedItems({sharedItem("lent", "share")});
        appwise->selectedItems().setShares({sharedItem("lent", "share")});
        appwise->selectedItems().setOwnElements({ownItem("picked")});
        appwise->pasteboard().holdShares({sharedItem("lent", "share")},
                                         quorvel::Pasteboard::OperationType::remoteShareCopy);
        const auto listing = appwise->remoteDirectoryInfo();
        QVERIFY(listing);
        QCOMPARE(requestsUntilIdle(*appwise, account, "item-uuid").back(), "GET /dir/list/ " + folder);

        {
            testsupport::NotificationRecorder logins(appwise->notifications(),
                                                     {quorvel::kAuthenticationStatusChangedNotification});
            QVERIFY(logIn(*appwise, account));
            QVERIFY(logins.waitUntil([](const auto& posted) { return !posted.empty(); }));
        }
        QCoreApplication::processEvents();
        const Strings sinceLogin = requestsUntilIdle(*appwise, account, "item-uuid");
        QVERIFY(std::none_of(sinceLogin.begin(), sinceLogin.end(),
                             [](const auto& line) { return line.rfind("GET /dir/list/", 0) == 0; }));
        QCOMPARE(pathOf(*appwise), (Path{{"Kept", folder}}));
        QCOMPARE(appwise->remoteDirectoryInfo(), listing);
        QCOMPARE(appwise->pasteboard().count(), std::size_t{1});
        QVERIFY(appwise->password());

        appwise->engine(CommTasks::fastTask)->auth_logout();
        QTRY_VERIFY(!appwise->password());
        QVERIFY(pathOf(*appwise).empty());
        QVERIFY(!appwise->remoteDirectoryInfo());
        QVERIFY(view.remoteItemsTableContent().content.empty());
        QVERIFY(view.sharingPeers().empty() && view.sharedItems().empty());
        QVERIFY(appwise->selectedItems().ownElements().empty() && appwise->selectedItems().shares().empty());
        QCOMPARE(appwise->pasteboard().count(), std::size_t{0});
        QVERIFY(appwise->pasteboard().sharesIterator().list().empty());
        QVERIFY(view.remotePathView()->isHidden());
    }

    // The remote path bar: the top with its own image, the folders after
    // it; names shown as they are; drawing it announces no path change; a
    // click on a level the path no longer has is logged and refreshes
    // nothing.
    void remotePathBar() {
        MainViewController view;
        appwise->remotePath().setNotifications(appwise->notifications(), quorvel::kRemotePathChangedNotification);
        setPath(*appwise, {{"<b>Tom & Jerry</b>", "f1"}, {"2024 photos", "f2"}});
        testsupport::NotificationRecorder recorder(
            appwise->notifications(), {quorvel::kRemotePathChangedNotification, quorvel::kActionRefreshNotification});
        view.updateRemotePathView(true);
        QVERIFY(recorder.all().empty());
        PathBar* bar = view.remotePathView();
        QCOMPARE(bar->items().size(), std::size_t{3});
        QCOMPARE(titlesOf(*bar)[1], std::string("<b>Tom & Jerry</b>"));
        QCOMPARE(bar->button(1)->text(), QStringLiteral("<b>Tom && Jerry</b>"));
        QVERIFY(bar->button(1)->toolTip().contains(QStringLiteral("&lt;b&gt;Tom &amp; Jerry&lt;/b&gt;")));
        QVERIFY(bar->items()[0].image != bar->items()[1].image);

        // The second level: the path is cut back to it, then listed.
        const PathBar::Item second = bar->items()[1];
        view.setRemotePath(&second);
        QCOMPARE(pathOf(*appwise), (Path{{"<b>Tom & Jerry</b>", "f1"}}));
        QCOMPARE(recorder.names(), (Strings{quorvel::kRemotePathChangedNotification, quorvel::kActionRefreshNotification}));
        recorder.clear();

        LogCapture log;
        const PathBar::Item deeper = bar->items()[2];
        view.setRemotePath(&deeper);
        view.setRemotePath(nullptr);
        PathBar::Item noURL{QStringLiteral("x"), {}, std::nullopt};
        view.setRemotePath(&noURL);
        QCOMPARE(log.lines(), (Strings{"Unable to correctly truncate path!", "No clicked path...", "No URL..."}));
        QVERIFY(recorder.all().empty());

        view.updateRemotePathView(false);
        QVERIFY(bar->isHidden());
    }

    // The local path bar follows the folder on show; a double click enters a
    // folder and the watcher follows; the bar's first item goes to "/".
    void localBrowsing() {
        const auto sub = local->path() / "Sub folder";
        std::filesystem::create_directory(sub);
        writeFile(local->path() / "file.txt");
        MainViewController view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        PathBar* bar = view.localPathView();
        QCOMPARE(bar->items().back().title.toStdString(), local->path().filename().string());
        QCOMPARE(*bar->items().back().url, local->path().native());
        QCOMPARE(bar->items().front().title, QStringLiteral("/"));
        QCOMPARE(view.directoryMonitor().url(), std::optional<std::filesystem::path>(local->path()));

        const auto& rows = *view.directoryItems();
        const auto subRow = std::find_if(rows.begin(), rows.end(), [&](const auto& m) { return m.url == sub; });
        QVERIFY(subRow != rows.end());
        doubleClickRow(table(view, "localFiles"), static_cast<int>(subRow - rows.begin()));
        QCOMPARE(appwise->localPath(), sub);
        QCOMPARE(bar->items().back().title, QStringLiteral("Sub folder"));
        QCOMPARE(view.directoryMonitor().url(), std::optional<std::filesystem::path>(sub));
        QVERIFY(view.directoryItems() && view.directoryItems()->empty());

        QTest::mouseClick(bar->button(0), Qt::LeftButton);
        QCOMPARE(appwise->localPath(), std::filesystem::path("/"));
        QCOMPARE(view.directoryMonitor().url(), std::optional<std::filesystem::path>("/"));
    }

    // A double click on a local file uploads the whole local selection into
    // the remote folder on show, not only the file clicked.
    void aLocalFileDoubleClickedUploadsTheSelection() {
        StandInAccount account("browse-upload");
        QVERIFY(logIn(*appwise, account));
        for (const char* name : {"first.txt", "second.txt", "left.txt"}) writeFile(local->path() / name);
        MainViewController view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QTableView* localTable = table(view, "localFiles");
        const auto rowNamed = [&](const std::string& name) {
            const auto& rows = *view.directoryItems();
            const auto found = std::find_if(rows.begin(), rows.end(),
                                            [&](const auto& m) { return m.url.filename() == name; });
            return static_cast<int>(found - rows.begin());
        };
        localTable->selectRow(rowNamed("first.txt"));
        const QRect second = localTable->visualRect(localTable->model()->index(rowNamed("second.txt"), 0));
        QTest::mouseClick(localTable->viewport(), Qt::LeftButton, Qt::ControlModifier, second.center());
        QTest::mouseDClick(localTable->viewport(), Qt::LeftButton, Qt::ControlModifier, second.center());
        QVERIFY(appwise->fileXferInProgress());
        QTRY_VERIFY_WITH_TIMEOUT(!appwise->fileXferInProgress(), kStandInGuardMs);
        QCOMPARE(account.namesIn("root"), (Strings{"first.txt", "second.txt"}));
        QCOMPARE(appwise->localPath(), local->path());
    }

    // "selectAll" selects every row of the table that holds the selection,
    // and nothing without one.
    void selectAll_data() {
        QTest::addColumn<QString>("tableName");
        QTest::newRow("local") << QStringLiteral("localFiles");
        QTest::newRow("remote") << QStringLiteral("remoteFiles");
        QTest::newRow("none") << QString();
    }
    void selectAll() {
        QFETCH(QString, tableName);
        for (const char* name : {"a.txt", "b.txt", "c.txt"}) writeFile(local->path() / name);
        MainViewController view;
        view.resize(900, 600);
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        emit appwise->bridge(CommTasks::fastTask)
            .queryRemoteDirectoryContent(listingEvent(listingOf({"x", "y"}), quorvel::kMainWindowSource));
        QTableView* localTable = table(view, "localFiles");
        QTableView* remoteTable = table(view, "remoteFiles");
        if (!tableName.isEmpty()) {
            QTableView* chosen = tableName == "localFiles" ? localTable : remoteTable;
            chosen->selectRow(1);
        }
        appwise->notifications()->post(quorvel::kSelectAllNotification);
        const auto selected = [](QTableView* t) { return t->selectionModel()->selectedRows().size(); };
        if (tableName == "localFiles") {
            QCOMPARE(selected(localTable), 3);
            QCOMPARE(appwise->selectedItems().localFiles().size(), std::size_t{3});
            QCOMPARE(selected(remoteTable), 0);
        } else if (tableName == "remoteFiles") {
            QCOMPARE(selected(remoteTable), 3);
            QCOMPARE(appwise->selectedItems().ownElements().size(), std::size_t{2});
            QCOMPARE(selected(localTable), 0);
        } else {
            QCOMPARE(selected(localTable) + selected(remoteTable), 0);
        }
    }

    // The jobs view's button shows only with the full log.
    void viewTypeButtonFollowsTheFullLog() {
        MainViewController view;
        auto* button = view.findChild<QPushButton*>(QStringLiteral("viewTypeBtn"));
        for (const bool full : {true, false, true}) {
            auto setup = appwise->setup();
            setup.showFullLog = full;
            appwise->setSetup(setup);
            appwise->notifications()->post(quorvel::kShowFullLogChangedNotification);
            QCOMPARE(!button->isHidden(), full);
        }
    }

    // The terms are asked for each time the view appears until accepted.
    void termsAskedOnAppearance() {
        testsupport::NotificationRecorder recorder(appwise->notifications(), {quorvel::kShowTOSSheetNotification});
        {
            MainViewController view;
            view.show();
            QVERIFY(QTest::qWaitForWindowExposed(&view));
            QVERIFY(recorder.all().empty());
        }
        appwise->setGcAccepted(false);
        MainViewController view;
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(recorder.all().size(), std::size_t{1});
        QVERIFY(view.findChild<QWidget*>(QStringLiteral("sendingFileInfo"))->isHidden());
    }

    // The application's center outlives every view: each observer a view
    // put there is gone with the view, whichever way it was registered.
    void theViewsObserversGoWithIt() {
        const auto& center = appwise->notifications();
        const char* const names[] = {
            quorvel::kShowFullLogChangedNotification,        quorvel::kRefreshLocalFilesListNotification,
            quorvel::kAuthenticationStatusChangedNotification, quorvel::kActionRefreshNotification,
            quorvel::kActionReceiveFileFromRemoteNotification, quorvel::kActionSendFileToRemoteNotification,
            quorvel::kPasteboardChangedNotification,         quorvel::kSelectAllNotification,
            ostrelcomm::xfer::kMultipleLocalFileSendNotification,
        };
        std::vector<std::size_t> before;
        for (const char* name : names) before.push_back(center->observerCount(name));
        {
            MainViewController view;
            for (std::size_t i = 0; i < std::size(names); ++i)
                QVERIFY2(center->observerCount(names[i]) > before[i], names[i]);
        }
        for (std::size_t i = 0; i < std::size(names); ++i) QCOMPARE(center->observerCount(names[i]), before[i]);
    }

private:
    Appwise* appwise = nullptr;
    std::unique_ptr<TemporaryFolder> local;
};

QTEST_MAIN(MainViewBrowseTest)
#include "MainViewBrowse_test.moc"
