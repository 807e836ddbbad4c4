// The share sheet against the stand-in server, as user A who trusts B (by the
// trust job) and not C: the header of one file among a folder and the file,
// the trusted peers listed, searches for an untrusted user, a trusted one and
// nobody; the question before sharing with C, its Cancel and its Share, and
// the grants the server then holds; Share with no peer or with no file; the
// chosen peers kept chosen when a found peer pushes their rows down.

#include <QAbstractItemView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "ImageTestSupport.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Formatters.h"
#include "app/Extensions/Localize.h"
#include "app/Extensions/SystemColor.h"
#include "app/sheets/ShareItemViewController.h"
#include "app/utils/Appwise.h"
#include "app/utils/SelectedItems.h"
#include "app/window/SceneFactory.h"
#include "jobs/CommJobs.h"
#include "jobs/JobType.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::ShareItemViewController;
using Lines = std::vector<std::string>;

namespace {

constexpr char kProfile[] = "GET /untrustedpeer/getShareProfile/";
constexpr char kExecute[] = "PUT /shares/shareitem_execute/";
constexpr char kModified[] = "2022-01-02T03:04:05Z";

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

std::string fileMetadata(const std::string& name, std::int64_t size) {
    return nlohmann::json{{"name", name},
                          {"creationDate", "2021-03-04T05:06:07Z"},
                          {"modificationDate", kModified},
                          {"fileSize", size},
                          {"mime", "text/plain"}}
        .dump();
}

std::chrono::sys_seconds modified() {
    // 2022-01-02T03:04:05Z
    return std::chrono::sys_days(std::chrono::year(2022) / 1 / 2) + std::chrono::hours(3) +
           std::chrono::minutes(4) + std::chrono::seconds(5);
}

std::size_t shareJobs(const ostrelcomm::SrvComm& engine) {
    std::size_t n = 0;
    for (const auto& [id, job] : engine.queue()->getJobsList()) n += job.jobType == ostrelcomm::JobType::shareItem;
    return n;
}

}  // namespace

class ShareItemViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("share"), presenter));
        a = std::make_unique<StandInAccount>("share-a");
        b = std::make_unique<StandInAccount>("share-b");
        c = std::make_unique<StandInAccount>("share-c");
    }

    void cleanup() {
        delete window;
        standIn().clearFaults();
    }

    // One file among a folder and the file: its header; the trusted peer
    // listed; C found by the server and put on top, orange; B chosen by its
    // exact name without a request; nobody found once.
    void theHeaderTheTrustedPeersAndTheSearches() {
        a->folder("F");
        a->seedMetadata(fileMetadata("f", 1234567), devserver::ItemKind::file);
        QVERIFY(logIn(*appwise, *a));
        QVERIFY(trust(*appwise, *b));
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"F", "f"}));
        a->newRequests();

        ShareItemViewController* sheet = open();
        QCOMPARE(sheet->shareableItems().size(), std::size_t{1});
        QCOMPARE(text(sheet, "itemName"), QStringLiteral("f"));
        QCOMPARE(text(sheet, "modificationDate"),
                 quorvel::Formatters::date(modified(), quorvel::Formatters::DateStyle::full,
                                           quorvel::Formatters::DateStyle::long_));
        QCOMPARE(text(sheet, "itemSize"), QStringLiteral("1.2 MB (1234567 bytes)"));
        // A listing carries no thumbnail.
        QVERIFY(label(sheet, "itemIcon")->pixmap().isNull());

        QTableWidget* table = peersTable(sheet);
        QTRY_COMPARE_WITH_TIMEOUT(rowNames(table), (QStringList{name(*b)}), kStandInGuardMs);
        QVERIFY(tintedIn(table->item(0, 0), quorvel::systemColor(quorvel::SystemColor::green)));
        QCOMPARE(table->item(0, 0)->data(ShareItemViewController::kImageNameRole).toString(),
                 QStringLiteral("trustedUser-icon"));

        search(sheet, name(*c));
        QTRY_COMPARE_WITH_TIMEOUT(rowNames(table), (QStringList{name(*c), name(*b)}), kStandInGuardMs);
        QVERIFY(sheet->peerFound());
        QVERIFY(!sheet->foundPeer().trusted);
        QVERIFY(tintedIn(table->item(0, 0), quorvel::systemColor(quorvel::SystemColor::orange)));
        QCOMPARE(table->item(0, 0)->data(ShareItemViewController::kImageNameRole).toString(),
                 QStringLiteral("untrustedUser-icon"));
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        auto requests = a->newRequests();
        QCOMPARE(lines(requests), (Lines{"GET /trustedpeers/list/", kProfile}));
        QCOMPARE(header(requests[1], "peer-username"), c->user());

        // B's row, below the found peer, alone.
        table->selectRow(0);
        search(sheet, name(*b));
        QCOMPARE(selectedRows(table), (std::vector<int>{1}));
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        QVERIFY(a->newRequests().empty());

        search(sheet, QStringLiteral("nobody-") + name(*c));
        QTRY_COMPARE_WITH_TIMEOUT(presenter->shown().size(), std::size_t{1}, kStandInGuardMs);
        QCOMPARE(presenter->shown()[0].messageText, localized("No peers found"));
        QCOMPARE(presenter->shown()[0].informativeText, localized("NoPeersFoundMsg"));
        QVERIFY(!sheet->peerFound());
        QCOMPARE(rowNames(table), (QStringList{name(*b)}));

        // Spaces alone forget a found peer without asking anyone.
        search(sheet, name(*c));
        QTRY_VERIFY_WITH_TIMEOUT(sheet->peerFound(), kStandInGuardMs);
        a->newRequests();
        search(sheet, QStringLiteral("   "));
        QVERIFY(!sheet->peerFound());
        QCOMPARE(rowNames(table), (QStringList{name(*b)}));
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        QVERIFY(a->newRequests().empty());
        QCOMPARE(presenter->shown().size(), std::size_t{1});
    }

    // B and C chosen: Cancel shares nothing and keeps the sheet as it was;
    // Share then queues one job per peer and file, row by row.
    void sharingWithAnUntrustedPeerAsksFirst() {
        const std::vector<std::string> files = {a->file("f1"), a->file("f2"), a->file("f3")};
        QVERIFY(logIn(*appwise, *a));
        QVERIFY(trust(*appwise, *b));
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"f1", "f2", "f3"}));
        ShareItemViewController* sheet = open();
        QTableWidget* table = peersTable(sheet);
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kStandInGuardMs);
        search(sheet, name(*c));
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 2, kStandInGuardMs);
        table->selectAll();
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        a->newRequests();

        button(sheet, "shareButton")->click();
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        const auto asked = presenter->shown()[0];
        QVERIFY(asked.question);
        QCOMPARE(asked.messageText, localized("ShareUntrustedTitle"));
        QCOMPARE(asked.informativeText, localized("ShareUntrustedMessage"));
        QCOMPARE(asked.icon, quorvel::AlertIcon::warning);
        QCOMPARE(asked.buttons, (std::vector<QString>{localized("Cancel"), localized("Share")}));
        QCOMPARE(asked.window, static_cast<QWidget*>(sheet));
        QVERIFY(presenter->answerPending(0));
        QCOMPARE(shareJobs(*appwise->engine(CommTasks::fastTask)), std::size_t{0});
        QVERIFY(sheet->isVisible());
        QCOMPARE(selectedRows(table), (std::vector<int>{0, 1}));
        QVERIFY(!appwise->refreshRemoteContent());

        QPointer<ShareItemViewController> watched(sheet);
        button(sheet, "shareButton")->click();
        QVERIFY(presenter->answerPending(1));
        QTRY_VERIFY(!watched || !watched->isVisible());
        QVERIFY(appwise->refreshRemoteContent());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);

        // In row order: C, found on top, then B; each with f1, f2, f3.
        std::vector<std::pair<std::string, std::string>> shared;
        for (const auto& request : a->newRequests()) {
            if (request.method + " " + request.path != kExecute) continue;
            const auto body = nlohmann::json::parse(request.body);
            shared.emplace_back(body.at("peerUsername"), body.at("itemUUID"));
        }
        std::vector<std::pair<std::string, std::string>> expected;
        for (const auto* peer : {c.get(), b.get()})
            for (const auto& file : files) expected.emplace_back(peer->user(), file);
        QCOMPARE(shared, expected);
        QCOMPARE(grantedFiles(*b), files);
        QCOMPARE(grantedFiles(*c), files);
    }

    // Share with no peer chosen only closes; with no file among the
    // selection the header shows nothing of one item and Share queues
    // nothing, also with a peer chosen.
    void shareWithoutAPeerOrAFileSharesNothing_data() {
        QTest::addColumn<bool>("withFile");
        QTest::addColumn<bool>("choosePeer");
        QTest::newRow("no peer chosen") << true << false;
        QTest::newRow("no file selected") << false << true;
    }
    void shareWithoutAPeerOrAFileSharesNothing() {
        QFETCH(bool, withFile);
        QFETCH(bool, choosePeer);
        a->folder("F");
        a->file("f");
        QVERIFY(logIn(*appwise, *a));
        QVERIFY(trust(*appwise, *b));
        appwise->selectedItems().setOwnElements(
            pick(listFolder(*appwise, "root"), withFile ? Lines{"F", "f"} : Lines{"F"}));
        ShareItemViewController* sheet = open();
        QTableWidget* table = peersTable(sheet);
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kStandInGuardMs);
        if (!withFile) {
            QCOMPARE(text(sheet, "itemName"), localized("Multiple items"));
            QCOMPARE(text(sheet, "modificationDate"), QStringLiteral("---"));
            QVERIFY(text(sheet, "itemSize").startsWith(QStringLiteral("Zero KB")));
            QCOMPARE(label(sheet, "itemIcon")->property(ShareItemViewController::kImageNameProperty).toString(),
                     QStringLiteral("MultipleDocuments"));
            QVERIFY(!label(sheet, "itemIcon")->pixmap().isNull());
        }
        if (choosePeer) table->selectRow(0);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        a->newRequests();

        QPointer<ShareItemViewController> watched(sheet);
        button(sheet, "shareButton")->click();
        QTRY_VERIFY(!watched || !watched->isVisible());
        QVERIFY(appwise->refreshRemoteContent());
        QVERIFY(presenter->shown().empty());
        QCOMPARE(shareJobs(*appwise->engine(CommTasks::fastTask)), std::size_t{0});
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        QVERIFY(a->newRequests().empty());
    }

    // A peer found on top moves the trusted rows down: the peer chosen
    // stays chosen, and the found one is not chosen in its place.
    void theChosenPeerStaysChosenWhenItsRowMoves() {
        a->file("f");
        QVERIFY(logIn(*appwise, *a));
        QVERIFY(trust(*appwise, *b));
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {"f"}));
        ShareItemViewController* sheet = open();
        QTableWidget* table = peersTable(sheet);
        QTRY_COMPARE_WITH_TIMEOUT(table->rowCount(), 1, kStandInGuardMs);
        table->selectRow(0);

        search(sheet, name(*c));
        QTRY_COMPARE_WITH_TIMEOUT(rowNames(table), (QStringList{name(*c), name(*b)}), kStandInGuardMs);
        QCOMPARE(selectedRows(table), (std::vector<int>{1}));

        // Sharing now goes to B alone, without a question.
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        button(sheet, "shareButton")->click();
        QVERIFY(presenter->shown().empty());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        QCOMPARE(grantedFiles(*b).size(), std::size_t{1});
        QVERIFY(grantedFiles(*c).empty());
    }

private:
    ShareItemViewController* open() {
        window = new QWidget;
        window->resize(800, 600);
        window->show();
        auto* sheet = qobject_cast<ShareItemViewController*>(
            quorvel::SceneFactory::shared().open(quorvel::kShareItemScene, window));
        if (sheet) (void)QTest::qWaitForWindowExposed(sheet);
        return sheet;
    }

    static QLabel* label(QWidget* sheet, const char* name) { return sheet->findChild<QLabel*>(name); }
    static QString text(QWidget* sheet, const char* name) {
        QLabel* found = label(sheet, name);
        return found ? found->text() : QStringLiteral("<no %1>").arg(QLatin1String(name));
    }
    static QPushButton* button(QWidget* sheet, const char* name) { return sheet->findChild<QPushButton*>(name); }
    static QTableWidget* peersTable(QWidget* sheet) { return sheet->findChild<QTableWidget*>("trustedUsersTable"); }
    static QString name(const StandInAccount& account) { return QString::fromStdString(account.user()); }

    // Types the text and presses Return, as the user does.
    static void search(QWidget* sheet, const QString& typed) {
        auto* field = sheet->findChild<QLineEdit*>("searchPeer");
        field->setText(typed);
        QTest::keyClick(field, Qt::Key_Return);
    }

    static QStringList rowNames(QTableWidget* table) {
        QStringList names;
        for (int row = 0; row < table->rowCount(); ++row)
            names << (table->item(row, 0) ? table->item(row, 0)->text() : QString());
        return names;
    }
    static std::vector<int> selectedRows(QTableWidget* table) {
        std::vector<int> rows;
        for (const auto& index : table->selectionModel()->selectedRows()) rows.push_back(index.row());
        std::sort(rows.begin(), rows.end());
        return rows;
    }

    // A's files the server grants the reader, in the order granted.
    std::vector<std::string> grantedFiles(const StandInAccount& reader) const {
        std::vector<std::string> uuids;
        for (const auto& shared : standIn().items().grantsTo(reader.owner(), a->owner()))
            uuids.push_back(shared.item.uuid);
        return uuids;
    }

    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
    std::unique_ptr<StandInAccount> a, b, c;
    QPointer<QWidget> window;
};

QTEST_MAIN(ShareItemViewControllerTest)
#include "ShareItemViewController_test.moc"
