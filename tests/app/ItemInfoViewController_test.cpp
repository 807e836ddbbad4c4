// The information sheet against the stand-in server, as user A who trusts B
// (by the trust job) and not C: an own file shared with both, its metadata
// and its shares, the shares removed from the context menu down to none; an
// own folder, another requester's listing meanwhile, a listing without the
// folder's own entry; a file shared with the
// user, as B; failed information jobs of the sheet or of another requester;
// thumbnails that claim a huge picture and real ones; nothing selected, and
// the root.

#include <QAction>
#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QPixmap>
#include <QPointer>
#include <QProgressBar>
#include <QTableWidget>
#include <QTest>
#include <QWidget>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "ImageTestSupport.h"
#include "RemoteRecords.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Formatters.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"
#include "app/sheets/ItemInfoViewController.h"
#include "app/utils/Appwise.h"
#include "app/utils/SelectedItems.h"
#include "app/window/SceneFactory.h"
#include "devserver/Fault.h"
#include "support/MediaFixtures.h"
#include "tree/RemoteItemThumbnail.h"
#include "tree/RemoteItemType.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::ItemInfoViewController;
using Lines = std::vector<std::string>;

namespace {

constexpr char kFileInfo[] = "GET /file/info/";
constexpr char kListShares[] = "GET /shares/listshares/";
constexpr char kListTrusts[] = "GET /trustedpeers/list/";
constexpr char kList[] = "GET /dir/list/";
constexpr char kRemove[] = "DELETE /shares/remove/";

using std::chrono::sys_days;

std::chrono::sys_seconds at(std::chrono::year_month_day day, int hours, int minutes, int seconds) {
    return sys_days(day) + std::chrono::hours(hours) + std::chrono::minutes(minutes) + std::chrono::seconds(seconds);
}

QString fullDate(std::chrono::sys_seconds when) {
    return quorvel::Formatters::date(when, quorvel::Formatters::DateStyle::full, quorvel::Formatters::DateStyle::long_);
}

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

}  // namespace

Q_DECLARE_METATYPE(ostrelcomm::Bytes)

class ItemInfoViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("info"), presenter));
        a = std::make_unique<StandInAccount>("info-a");
        b = std::make_unique<StandInAccount>("info-b");
        c = std::make_unique<StandInAccount>("info-c");
    }

    void cleanup() {
        delete window;
        standIn().clearFaults();
    }

    // Everything A stored of the file, and its shares: B, trusted, green; C
    // orange. "Delete share" on C removes that share alone, asks the shares
    // again and leaves B; removing B's too hides the table.
    void anOwnFileWithItsMetadataAndItsShares() {
        const std::string f = fileOfA();
        QVERIFY(a->grant(f, *b) && a->grant(f, *c));
        QVERIFY(logIn(*appwise, *a));
        QVERIFY(trust(*appwise, *b));
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"f"}));
        a->newRequests();

        const QPointer<ItemInfoViewController> sheet = open();
        QTRY_COMPARE_WITH_TIMEOUT(text(sheet, "itemName"), QStringLiteral("f"), kStandInGuardMs);
        QCOMPARE(text(sheet, "creationDate"), fullDate(at(std::chrono::year(2021) / 3 / 4, 5, 6, 7)));
        QCOMPARE(text(sheet, "modifcationDate"), fullDate(at(std::chrono::year(2022) / 1 / 2, 3, 4, 5)));
        QCOMPARE(text(sheet, "itemSize"), QStringLiteral("1.2 MB (1234567 bytes)"));
        QCOMPARE(text(sheet, "itemMIME"), QStringLiteral("text/markdown"));
        QCOMPARE(imageName(sheet), QStringLiteral("GenericDocumentIcon"));
        QVERIFY(!thumbnail(sheet).isNull());
        QVERIFY(sheet->findChild<QProgressBar*>("queryInProgress")->isHidden());

        QTableWidget* table = sharesTable(sheet);
        QTRY_VERIFY_WITH_TIMEOUT(!table->isHidden(), kStandInGuardMs);
        QCOMPARE(rowNames(table), (QStringList{name(*b), name(*c)}));
        // The trusted peers come after the shares: B turns green then.
        QTRY_COMPARE_WITH_TIMEOUT(sheet->trusts().size(), std::size_t{1}, kStandInGuardMs);
        QCOMPARE(lines(a->newRequests()), (Lines{kFileInfo, kListShares, kListTrusts}));
        expectRow(table, 0, true);
        expectRow(table, 1, false);

        // No menu without a chosen share.
        sheet->rightMouseDown(sheet->mapToGlobal(QPoint(10, 10)));
        QVERIFY(!sheet->findChild<QMenu*>("shareMenu"));

        const std::string shareOfC = shareIdFor(f, *c);
        QVERIFY(!shareOfC.empty());
        deleteShareOnRow(sheet, 1);
        QTRY_COMPARE_WITH_TIMEOUT(rowNames(table), (QStringList{name(*b)}), kStandInGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        QCoreApplication::processEvents();
        const auto requests = a->newRequests();
        QCOMPARE(lines(requests), (Lines{kRemove, kListShares, kListTrusts}));
        QCOMPARE(header(requests[0], "share-uuid"), shareOfC);
        QVERIFY(appwise->refreshRemoteContent());
        QVERIFY(presenter->shown().empty());
        QCOMPARE(standIn().items().grantsOf(a->owner(), f).size(), std::size_t{1});
        expectRow(table, 0, true);

        deleteShareOnRow(sheet, 0);
        QTRY_VERIFY_WITH_TIMEOUT(table->isHidden(), kStandInGuardMs);
        QVERIFY(standIn().items().grantsOf(a->owner(), f).empty());
        QVERIFY(sheet->isVisible());
    }

    // A folder: "Folder", the folder icon, its size, and no share query. A
    // listing of the main window meanwhile changes nothing.
    void anOwnFolderAndAnotherRequestersListing() {
        a->folder("F");
        const std::string other = a->folder("G");
        QVERIFY(logIn(*appwise, *a));
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"F"}));
        a->newRequests();

        const QPointer<ItemInfoViewController> sheet = open();
        QTRY_COMPARE_WITH_TIMEOUT(text(sheet, "itemName"), QStringLiteral("F"), kStandInGuardMs);
        QCOMPARE(text(sheet, "itemMIME"), QStringLiteral("Folder"));
        QCOMPARE(imageName(sheet), QStringLiteral("GenericFolderIcon"));
        QVERIFY(text(sheet, "itemSize").endsWith(QStringLiteral(" (0 bytes)")));
        QCOMPARE(text(sheet, "creationDate"), fullDate(at(std::chrono::year(2021) / 3 / 4, 5, 6, 7)));
        QVERIFY(sheet->findChild<QProgressBar*>("queryInProgress")->isHidden());
        QVERIFY(sharesTable(sheet)->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        QCOMPARE(lines(a->newRequests()), Lines{kList});

        bool answered = false;
        QObject receiver;
        connect(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::queryRemoteDirectoryContent, &receiver,
                [&](const quorvel::DirectoryContentEvent& event) {
                    answered = event.result == ostrelcomm::tree::kReceived && event.source == "mainWindow";
                });
        appwise->engine(CommTasks::fastTask)->directory_getInfo(other, std::string("mainWindow"));
        QTRY_VERIFY_WITH_TIMEOUT(answered, kStandInGuardMs);
        QCOMPARE(text(sheet, "itemName"), QStringLiteral("F"));
        QVERIFY(sheet->isVisible());
        QVERIFY(presenter->shown().empty());
    }

    // A listing without the folder's own entry: the fields keep waiting,
    // the spinner stops.
    void aListingWithoutTheFolderItself() {
        a->folder("F");
        QVERIFY(logIn(*appwise, *a));
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"F"}));
        devserver::Fault withoutEntry;
        withoutEntry.rawBody = a->oracle().body(std::nullopt, {}).dump();
        withoutEntry.contentType = "application/json";
        withoutEntry.times = 1;
        standIn().setFault("GET", "/dir/list/", withoutEntry);

        const QPointer<ItemInfoViewController> sheet = open();
        QTRY_VERIFY_WITH_TIMEOUT(sheet->findChild<QProgressBar*>("queryInProgress")->isHidden(), kStandInGuardMs);
        QCOMPARE(text(sheet, "itemMIME"), QStringLiteral("Folder"));
        for (const char* field : {"itemName", "creationDate", "modifcationDate", "itemSize"})
            QCOMPARE(text(sheet, field), QStringLiteral("..."));
        QVERIFY(sheet->isVisible());
        QVERIFY(presenter->shown().empty());
    }

    // As B, a file A shares: its metadata; neither shares nor trusts asked.
    void aFileSharedWithTheUser() {
        const std::string f = fileOfA();
        QVERIFY(a->grant(f, *b));
        QVERIFY(logIn(*appwise, *b));
        appwise->selectedItems().setShares(sharedItems(*appwise));
        QCOMPARE(appwise->selectedItems().shares().size(), std::size_t{1});
        b->newRequests();

        const QPointer<ItemInfoViewController> sheet = open();
        QTRY_COMPARE_WITH_TIMEOUT(text(sheet, "itemName"), QStringLiteral("f"), kStandInGuardMs);
        QCOMPARE(text(sheet, "itemSize"), QStringLiteral("1.2 MB (1234567 bytes)"));
        QCOMPARE(text(sheet, "itemMIME"), QStringLiteral("text/markdown"));
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        const auto requests = b->newRequests();
        QCOMPARE(lines(requests), Lines{kFileInfo});
        QCOMPARE(header(requests[0], "item-uuid"), f);
        QVERIFY(sharesTable(sheet)->isHidden());
    }

    // A failed information job ends with the alert and the sheet closing,
    // whoever asked: failures carry no requester's tag.
    void aFailedInformationJobClosesTheSheet_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("mainWindowListing");
        QTest::addColumn<QString>("message");
        QTest::newRow("the sheet's own") << "/file/info/" << false
                                         << "getFileInfo returned a bad status as 'Result': Error\n"
                                            "Operation will be aborted.";
        QTest::newRow("the main window's listing") << "/dir/list/" << true
                                                   << "queryRemoteDirectoryContent returned a bad status as "
                                                      "'Result': Error\nOperation will be aborted.";
    }
    void aFailedInformationJobClosesTheSheet() {
        QFETCH(QString, path);
        QFETCH(bool, mainWindowListing);
        QFETCH(QString, message);
        fileOfA();
        QVERIFY(logIn(*appwise, *a));
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"f"}));
        standIn().setFault("GET", path.toStdString(), failingOnce());

        const QPointer<ItemInfoViewController> sheet = open();
        if (mainWindowListing) {
            QTRY_COMPARE_WITH_TIMEOUT(text(sheet, "itemName"), QStringLiteral("f"), kStandInGuardMs);
            appwise->engine(CommTasks::fastTask)->directory_getInfo("root", std::string("mainWindow"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!sheet || !sheet->isVisible(), kStandInGuardMs);
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, QStringLiteral("Comm libraries error"));
        QCOMPARE(presenter->shown()[0].informativeText, message);
    }

    // A thumbnail claiming 100000 x 100000 pixels shows the generic icon; a
    // real one shows itself. Without a size or a type, the formatted zero
    // and "Unknown".
    void theThumbnailOfAFile_data() {
        QTest::addColumn<ostrelcomm::Bytes>("png");
        QTest::addColumn<bool>("shown");
        QTest::newRow("claiming 100000 x 100000") << testsupport::pngClaimingSize(100000, 100000) << false;
        QTest::newRow("a real 64 x 64") << encodedImage(twoColours(64, 64), "PNG") << true;
    }
    void theThumbnailOfAFile() {
        QFETCH(ostrelcomm::Bytes, png);
        QFETCH(bool, shown);
        const std::string f = a->file("plain");
        QVERIFY(logIn(*appwise, *a));
        auto& fast = *appwise->engine(CommTasks::fastTask);
        fast.file_modify(f, std::nullopt, std::nullopt, ostrelcomm::RemoteItemThumbnail("image/png", png));
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(fast), kStandInGuardMs);
        QVERIFY(standIn().items().find(a->owner(), f)->thumbnail.has_value());
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"plain"}));

        const QPointer<ItemInfoViewController> sheet = open();
        QTRY_COMPARE_WITH_TIMEOUT(text(sheet, "itemName"), QStringLiteral("plain"), kStandInGuardMs);
        QCOMPARE(text(sheet, "itemMIME"), localized("Unknown"));
        QCOMPARE(text(sheet, "itemSize"), QStringLiteral("Zero KB (0 bytes)"));
        const QImage image = thumbnail(sheet).toImage();
        QVERIFY(!image.isNull());
        if (!shown) {
            QCOMPARE(imageName(sheet), QStringLiteral("GenericDocumentIcon"));
            return;
        }
        QCOMPARE(imageName(sheet), QString());
        QCOMPARE(image.size(), QSize(64, 64));
        QCOMPARE(image.pixelColor(10, 32).rgb(), QColor(Qt::red).rgb());
        QCOMPARE(image.pixelColor(54, 32).rgb(), QColor(Qt::blue).rgb());
    }

    // Nothing selected: a log line and the sheet closes, asking nothing.
    void nothingSelectedClosesTheSheet() {
        QVERIFY(logIn(*appwise, *a));
        a->newRequests();
        LogCapture log;
        const QPointer<ItemInfoViewController> sheet = open();
        QTRY_VERIFY(!sheet || !sheet->isVisible());
        QVERIFY(log.contains("No items to query infos"));
        QVERIFY(engineIdle(*appwise->engine(CommTasks::fastTask)));
        QVERIFY(a->newRequests().empty());
        QVERIFY(presenter->shown().empty());
    }

    // The root: nothing to ask; the sheet waits with its fields unknown.
    void theRootIsNotQueried() {
        QVERIFY(logIn(*appwise, *a));
        a->newRequests();
        appwise->selectedItems().setOwnElements({ownItem("root", ostrelcomm::RemoteItemType::ROOT)});
        const QPointer<ItemInfoViewController> sheet = open();
        QCoreApplication::processEvents();
        QVERIFY(sheet->isVisible());
        for (const char* field : {"itemName", "creationDate", "modifcationDate", "itemSize", "itemMIME"})
            QCOMPARE(text(sheet, field), QStringLiteral("..."));
        QVERIFY(!sheet->findChild<QProgressBar*>("queryInProgress")->isHidden());
        QVERIFY(engineIdle(*appwise->engine(CommTasks::fastTask)));
        QVERIFY(a->newRequests().empty());
    }

private:
    // A's file "f" as A's client stored it: 1234567 bytes of Markdown.
    std::string fileOfA() {
        return a->seedMetadata(nlohmann::json{{"name", "f"},
                                              {"creationDate", "2021-03-04T05:06:07Z"},
                                              {"modificationDate", "2022-01-02T03:04:05Z"},
                                              {"fileSize", 1234567},
                                              {"mime", "text/markdown"}}
                                   .dump(),
                               devserver::ItemKind::file);
    }

    // Held from the start: a sheet may close, and go, while it is shown.
    QPointer<ItemInfoViewController> open() {
        window = new QWidget;
        window->resize(800, 600);
        window->show();
        QPointer<ItemInfoViewController> sheet = qobject_cast<ItemInfoViewController*>(
            quorvel::SceneFactory::shared().open(quorvel::kItemInfoScene, window));
        if (sheet) (void)QTest::qWaitForWindowExposed(sheet);
        return sheet;
    }

    static QString text(QWidget* sheet, const char* name) {
        QLabel* found = sheet ? sheet->findChild<QLabel*>(name) : nullptr;
        return found ? found->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
    }
    static QString imageName(QWidget* sheet) {
        return sheet->findChild<QLabel*>("thumbnail")->property(ItemInfoViewController::kImageNameProperty).toString();
    }
    static QPixmap thumbnail(QWidget* sheet) { return sheet->findChild<QLabel*>("thumbnail")->pixmap(); }
    static QTableWidget* sharesTable(QWidget* sheet) { return sheet->findChild<QTableWidget*>("tblShares"); }
    static QString name(const StandInAccount& account) { return QString::fromStdString(account.user()); }

    static QStringList rowNames(QTableWidget* table) {
        QStringList names;
        for (int row = 0; row < table->rowCount(); ++row)
            names << (table->item(row, 0) ? table->item(row, 0)->text() : QString());
        return names;
    }

    static void expectRow(QTableWidget* table, int row, bool trusted) {
        const QTableWidgetItem* item = table->item(row, 0);
        QVERIFY(item);
        const QColor colour =
            quorvel::systemColor(trusted ? quorvel::SystemColor::green : quorvel::SystemColor::orange);
        QCOMPARE(item->foreground().color(), colour);
        QVERIFY(tintedIn(item, colour));
        QCOMPARE(item->data(ItemInfoViewController::kImageNameRole).toString(),
                 trusted ? QStringLiteral("trustedUser-icon") : QStringLiteral("untrustedUser-icon"));
    }

    // Chooses the row, opens the context menu over it and takes its one item.
    static void deleteShareOnRow(ItemInfoViewController* sheet, int row) {
        QTableWidget* table = sharesTable(sheet);
        table->selectRow(row);
        sheet->rightMouseDown(table->viewport()->mapToGlobal(table->visualItemRect(table->item(row, 0)).center()));
        auto* menu = sheet->findChild<QMenu*>("shareMenu");
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions().front()->text(), localized("Delete share"));
        menu->actions().front()->trigger();
        menu->close();
    }

    std::string shareIdFor(const std::string& item, const StandInAccount& reader) const {
        for (const auto& grant : standIn().items().grantsOf(a->owner(), item))
            if (grant.reader == reader.owner()) return grant.shareUUID;
        return {};
    }

    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
    std::unique_ptr<StandInAccount> a, b, c;
    QPointer<QWidget> window;
};

QTEST_MAIN(ItemInfoViewControllerTest)
#include "ItemInfoViewController_test.moc"
