// The rename sheet against the stand-in server, the selection taken from
// real listings: a file and a folder renamed (also to the empty name), read
// back under the account's keys, the file's other metadata kept; Rename
// following the name; answers of other requesters while the sheet loads,
// their failures closing it, late answers after that; a file whose
// information is held back by the stand-in, on which Rename waits; every
// malformed answer with its own alert, fed through the fast engine's
// bridge; nothing to rename.

#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <time.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "RemoteRecords.h"
#include "StandInTestSupport.h"
#include "app/sheets/RenameItemViewController.h"
#include "app/utils/Appwise.h"
#include "app/utils/SelectedItems.h"
#include "app/window/SceneFactory.h"
#include "devserver/Fault.h"
#include "tree/RemoteItemType.h"
#include "tree/TreeNotifications.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::CustomDataShape;
using quorvel::RenameItemViewController;
using ostrelcomm::RemoteItemType;
using Lines = std::vector<std::string>;

namespace {

constexpr char kFileInfo[] = "GET /file/info/";
constexpr char kList[] = "GET /dir/list/";
constexpr char kFileModifyPrepare[] = "GET /file/modify_prepare/";
constexpr char kFileModifyExecute[] = "PUT /file/modify_execute/";
constexpr char kDirModifyPrepare[] = "GET /dir/modify_prepare/";
constexpr char kDirModifyExecute[] = "PUT /dir/modify_execute/";

// Everything a client stores of a file but its thumbnail.
const nlohmann::json kFileMetadata = {{"name", "f"},
                                      {"creationDate", "2021-03-04T05:06:07Z"},
                                      {"modificationDate", "2022-01-02T03:04:05Z"},
                                      {"fileSize", 1234567},
                                      {"mime", "text/markdown"},
                                      {"isPackage", false},
                                      {"treehash-SHA256", std::string(64, 'a')},
                                      {"filehash-SHA256", std::string(64, 'b')}};

// A date as the metadata stores it.
std::string stored(std::chrono::system_clock::time_point when) {
    const std::time_t t = std::chrono::system_clock::to_time_t(when);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string aborted(const std::string& text) { return text + "\nOperation will be aborted."; }

// A malformed, foreign or well-formed answer, as the bridge would hand it.
struct Answer {
    const char* row;
    // A file's information, else a folder's listing.
    bool fileInfo;
    std::optional<std::string> result;
    CustomDataShape customData;
    std::optional<std::string> source;
    bool withData;
    // The alert's text; empty: none.
    std::string alert;
    // The sheet shows the answer's name ("crafted").
    bool taken;
};

const std::vector<Answer>& answers() {
    static const std::vector<Answer> all = {
        {"file: no Result", true, std::nullopt, CustomDataShape::absent, std::nullopt, false,
         aborted("getFileInfo returned a bad type as 'Result'"), false},
        {"file: Started", true, "Started", CustomDataShape::absent, std::nullopt, false, "", false},
        {"file: Aborted", true, "Aborted", CustomDataShape::absent, std::nullopt, false,
         aborted("getFileInfo returned a bad value as 'Result' value: Aborted"), false},
        {"file: no CustomData", true, "Received", CustomDataShape::absent, std::nullopt, false,
         aborted("getFileInfo returned a bad type as 'CustomData'"), false},
        {"file: CustomData not a dictionary", true, "Received", CustomDataShape::other, std::nullopt, true,
         aborted("getFileInfo returned a bad type as 'CustomData'"), false},
        {"file: another requester's", true, "Received", CustomDataShape::dictionary, "itemInfo", true, "", false},
        {"file: no fileInfo", true, "Received", CustomDataShape::dictionary, "itemRename", false,
         aborted("getFileInfo returned a bad type as 'fileInfo'"), false},
        {"file: untagged", true, "Received", CustomDataShape::dictionary, std::nullopt, true, "", true},
        {"folder: no Result", false, std::nullopt, CustomDataShape::absent, std::nullopt, false,
         aborted("queryRemoteDirectoryContent returned a bad type as 'Result'"), false},
        {"folder: Error", false, "Error", CustomDataShape::absent, std::nullopt, false,
         aborted("queryRemoteDirectoryContent returned a bad type as 'Result' value: Error"), false},
        {"folder: no CustomData", false, "Received", CustomDataShape::absent, std::nullopt, false,
         aborted("queryRemoteDirectoryContent returned a bad type as 'CustomData'"), false},
        {"folder: another requester's", false, "Received", CustomDataShape::dictionary, "mainWindow", true, "", false},
        {"folder: no dirInfo", false, "Received", CustomDataShape::dictionary, "itemRename", false,
         aborted("queryRemoteDirectoryContent returned a bad type as 'dirInfo'"), false},
        {"folder: untagged", false, "Received", CustomDataShape::other, std::nullopt, true, "", true},
    };
    return all;
}

}  // namespace

class RenameItemViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("rename"), presenter));
        a = std::make_unique<StandInAccount>("rename");
        QVERIFY(logIn(*appwise, *a));
    }

    void cleanup() {
        delete window;
        standIn().clearFaults();
        standIn().releaseStalls();
        // Late answers go nowhere: the next test's engines are others.
    }

    // The new name, read back under the account's keys; a file keeps every
    // other field but its modification date, which is now.
    void anItemIsRenamed_data() {
        QTest::addColumn<bool>("file");
        QTest::addColumn<QString>("typed");
        QTest::newRow("a file") << true << "g.md";
        QTest::newRow("a file, emptied") << true << "";
        QTest::newRow("a folder") << false << "G";
        QTest::newRow("a folder, emptied") << false << "";
    }
    void anItemIsRenamed() {
        QFETCH(bool, file);
        QFETCH(QString, typed);
        const std::string uuid =
            file ? a->seedMetadata(kFileMetadata.dump(), devserver::ItemKind::file) : a->folder("F");
        const std::string current = file ? "f" : "F";
        select(current);
        a->newRequests();

        const QPointer<RenameItemViewController> sheet = open();
        QTRY_COMPARE_WITH_TIMEOUT(name(sheet), QString::fromStdString(current), kStandInGuardMs);
        QVERIFY(spinner(sheet)->isHidden());
        QVERIFY(!rename(sheet)->isEnabled());
        const auto asked = a->newRequests();
        QCOMPARE(lines(asked), Lines{file ? kFileInfo : kList});
        QCOMPARE(header(asked[0], "item-uuid"), uuid);

        field(sheet)->clear();
        field(sheet)->insert(typed);
        QVERIFY(rename(sheet)->isEnabled());
        const auto before = std::chrono::system_clock::now();
        QTest::mouseClick(rename(sheet), Qt::LeftButton);
        QTRY_VERIFY(!sheet || !sheet->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        const auto after = std::chrono::system_clock::now();

        if (!file) {
            QCOMPARE(lines(a->newRequests()), (Lines{kDirModifyPrepare, kDirModifyExecute}));
            QCOMPARE(a->namesIn("root"), Lines{typed.toStdString() + "/"});
            return;
        }
        QCOMPARE(lines(a->newRequests()), (Lines{kFileModifyPrepare, kFileModifyExecute}));
        const auto item = standIn().items().find(a->owner(), uuid);
        QVERIFY(item);
        const auto metadata = a->oracle().openMetadata(item->itemkey, item->metadata);
        QVERIFY(metadata);
        const std::string modified = (*metadata)["modificationDate"].get<std::string>();
        QVERIFY2(stored(before) <= modified && modified <= stored(after), modified.c_str());
        nlohmann::json expected = kFileMetadata;
        expected["name"] = typed.toStdString();
        expected["modificationDate"] = modified;
        QCOMPARE(metadata->dump(), expected.dump());
    }

    // Rename is refused for the current name, also spelt decomposed, and
    // accepted for any other, a trailing space or nothing at all included;
    // Escape sends nothing.
    void renameFollowsTheName() {
        a->file("\u00C5");
        select("\u00C5");
        const QPointer<RenameItemViewController> sheet = open();
        QTRY_COMPARE_WITH_TIMEOUT(name(sheet), QStringLiteral("\u00C5"), kStandInGuardMs);
        const auto typed = [&](const QString& text) {
            field(sheet)->selectAll();
            field(sheet)->insert(text);
            return rename(sheet)->isEnabled();
        };
        QVERIFY(typed(QStringLiteral("B")));
        QVERIFY(!typed(QStringLiteral("\u00C5")));
        QVERIFY(typed(QStringLiteral("\u00C5 ")));
        QVERIFY(!typed(QString::fromUtf16(u"A\u030A")));
        QVERIFY(typed(QStringLiteral("a\u030A")));
        QVERIFY(typed(QString()));

        // Escape is Cancel: nothing is sent.
        a->newRequests();
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!sheet || !sheet->isVisible());
        QVERIFY(engineIdle(*appwise->engine(CommTasks::fastTask)));
        QVERIFY(a->newRequests().empty());
    }

    // Answers of the browser and of the information sheet, queued before
    // the sheet's own, change nothing: the sheet shows its folder.
    void otherRequestersAnswersChangeNothing() {
        a->folder("F");
        const std::string other = a->folder("G");
        const std::string f = a->file("f");
        select("F");
        auto& fast = *appwise->engine(CommTasks::fastTask);
        fast.directory_getInfo(other, std::string("mainWindow"));
        fast.file_getFileInfo(f, std::string("itemInfo"));

        const QPointer<RenameItemViewController> sheet = open();
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(fast), kStandInGuardMs);
        QTRY_COMPARE(name(sheet), QStringLiteral("F"));
        QCOMPARE(sheet->itemMetadata()->name, std::string("F"));
        QVERIFY(sheet->isVisible());
        QVERIFY(presenter->shown().empty());
    }

    // A failed information job, the sheet's own or another requester's
    // queued before it: one alert, the sheet closes, and the sheet's own
    // answer, when it comes later, shows nothing.
    void aFailedInformationJobClosesTheSheet_data() {
        QTest::addColumn<bool>("file");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("otherRequester");
        QTest::addColumn<QString>("alert");
        QTest::newRow("a file's own") << true << "/file/info/" << ""
                                      << "getFileInfo returned a bad value as 'Result' value: Error";
        QTest::newRow("a folder's own") << false << "/dir/list/" << ""
                                        << "queryRemoteDirectoryContent returned a bad type as 'Result' value: Error";
        QTest::newRow("the information sheet's") << true << "/file/info/" << "itemInfo"
                                                 << "getFileInfo returned a bad value as 'Result' value: Error";
        QTest::newRow("the browser's listing") << true << "/dir/list/" << "mainWindow"
                                               << "queryRemoteDirectoryContent returned a bad type as 'Result' "
                                                  "value: Error";
    }
    void aFailedInformationJobClosesTheSheet() {
        QFETCH(bool, file);
        QFETCH(QString, path);
        QFETCH(QString, otherRequester);
        QFETCH(QString, alert);
        a->file("f");
        a->folder("F");
        select(file ? "f" : "F");
        auto& fast = *appwise->engine(CommTasks::fastTask);
        standIn().setFault("GET", path.toStdString(), failingOnce());
        if (otherRequester == "itemInfo") fast.file_getFileInfo(a->uuidIn("root", "f"), std::string("itemInfo"));
        if (otherRequester == "mainWindow") fast.directory_getInfo("root", std::string("mainWindow"));

        const QPointer<RenameItemViewController> sheet = open();
        QTRY_VERIFY_WITH_TIMEOUT(!sheet || !sheet->isVisible(), kStandInGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(fast), kStandInGuardMs);
        QTRY_COMPARE(presenter->shown().size(), std::size_t{1});
        QCoreApplication::processEvents();
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, QStringLiteral("Comm libraries error"));
        QCOMPARE(presenter->shown()[0].informativeText, QString::fromStdString(aborted(alert.toStdString())));
    }

    // While the stand-in holds the file's information back, no name can be
    // sent: a rename then would carry the old metadata and lose the typed
    // name. Once it arrives, the current name replaces what was typed.
    void renameWaitsForAFilesMetadata() {
        a->file("f");
        select("f");
        standIn().setFault("GET", "/file/info/", once(devserver::Fault::stalled()));
        a->newRequests();

        const QPointer<RenameItemViewController> sheet = open();
        QTRY_COMPARE_WITH_TIMEOUT(standIn().stalledRequests(), std::size_t{1}, kStandInGuardMs);
        QTest::keyClicks(field(sheet), "typed");
        QVERIFY(!rename(sheet)->isEnabled());
        QVERIFY(!spinner(sheet)->isHidden());
        sheet->doRename();
        QVERIFY(sheet->isVisible());

        standIn().releaseStalls();
        QTRY_COMPARE_WITH_TIMEOUT(name(sheet), QStringLiteral("f"), kStandInGuardMs);
        QVERIFY(!rename(sheet)->isEnabled());
        QTest::keyClicks(field(sheet), "2");
        QVERIFY(rename(sheet)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::fastTask)), kStandInGuardMs);
        QCOMPARE(lines(a->newRequests()), Lines{kFileInfo});
    }

    // Each answer fed while the sheet's own request is held back: a fault
    // is its alert and the close; a foreign answer or "Started" leaves the
    // sheet loading; an answer without a tag is taken.
    void eachAnswerIsReadInTurn_data() {
        QTest::addColumn<int>("index");
        for (std::size_t i = 0; i < answers().size(); ++i) QTest::newRow(answers()[i].row) << static_cast<int>(i);
    }
    void eachAnswerIsReadInTurn() {
        QFETCH(int, index);
        const Answer& answer = answers()[static_cast<std::size_t>(index)];
        const std::string folder = a->folder("crafted");
        a->file("f");
        // The listing whose own entry is the folder "crafted".
        const auto listing = folderListing(*appwise, folder);
        QVERIFY(listing && listing->informations);
        select(answer.fileInfo ? "f" : "crafted");
        standIn().setFault("GET", answer.fileInfo ? "/file/info/" : "/dir/list/", once(devserver::Fault::stalled()));

        const QPointer<RenameItemViewController> sheet = open();
        QTRY_COMPARE_WITH_TIMEOUT(standIn().stalledRequests(), std::size_t{1}, kStandInGuardMs);
        auto& bridge = appwise->bridge(CommTasks::fastTask);
        if (answer.fileInfo) {
            quorvel::FileInfoEvent event;
            event.result = answer.result;
            event.customData = answer.customData;
            event.source = answer.source;
            if (answer.withData) event.data = namedMetadata("crafted");
            emit bridge.getFileInfo(event);
        } else {
            quorvel::DirectoryContentEvent event;
            event.result = answer.result;
            event.customData = answer.customData;
            event.source = answer.source;
            if (answer.withData) event.data = listing;
            emit bridge.queryRemoteDirectoryContent(event);
        }
        QCoreApplication::processEvents();

        if (!answer.alert.empty()) {
            QTRY_VERIFY(!sheet || !sheet->isVisible());
            QTRY_COMPARE(presenter->shown().size(), std::size_t{1});
            QCOMPARE(presenter->shown()[0].messageText, QStringLiteral("Comm libraries error"));
            QCOMPARE(presenter->shown()[0].informativeText, QString::fromStdString(answer.alert));
            return;
        }
        QVERIFY(sheet->isVisible());
        QVERIFY(presenter->shown().empty());
        QCOMPARE(name(sheet), answer.taken ? QStringLiteral("crafted") : QString());
        QCOMPARE(spinner(sheet)->isHidden(), answer.taken);
    }

    // No own item selected, or the root: the sheet closes at once, asking
    // nothing.
    void nothingToRenameClosesTheSheet_data() {
        QTest::addColumn<bool>("root");
        QTest::newRow("nothing selected") << false;
        QTest::newRow("the root") << true;
    }
    void nothingToRenameClosesTheSheet() {
        QFETCH(bool, root);
        if (root) appwise->selectedItems().setOwnElements({ownItem("root", RemoteItemType::ROOT)});
        a->newRequests();
        const QPointer<RenameItemViewController> sheet = open();
        QTRY_VERIFY(!sheet || !sheet->isVisible());
        QVERIFY(engineIdle(*appwise->engine(CommTasks::fastTask)));
        QVERIFY(a->newRequests().empty());
        QVERIFY(presenter->shown().empty());
    }

private:
    // Selects the item of this name at the top, as a listing gives it.
    void select(const std::string& itemName) {
        appwise->selectedItems().setOwnElements(pick(listFolder(*appwise, "root"), {itemName}));
        QCOMPARE(appwise->selectedItems().ownElements().size(), std::size_t{1});
    }

    // Held from the start: a sheet may close, and go, while it is shown.
    QPointer<RenameItemViewController> open() {
        window = new QWidget;
        window->resize(800, 600);
        window->show();
        QPointer<RenameItemViewController> sheet = qobject_cast<RenameItemViewController*>(
            quorvel::SceneFactory::shared().open(quorvel::kRenameItemScene, window));
        if (sheet) (void)QTest::qWaitForWindowExposed(sheet);
        return sheet;
    }

    static QLineEdit* field(QWidget* sheet) { return sheet->findChild<QLineEdit*>("itemName"); }
    static QPushButton* rename(QWidget* sheet) { return sheet->findChild<QPushButton*>("renameButton"); }
    static QProgressBar* spinner(QWidget* sheet) { return sheet->findChild<QProgressBar*>("queryInProgress"); }
    static QString name(QWidget* sheet) { return sheet ? field(sheet)->text() : QStringLiteral("<closed>"); }

    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
    std::unique_ptr<StandInAccount> a;
    QPointer<QWidget> window;
};

QTEST_MAIN(RenameItemViewControllerTest)
#include "RenameItemViewController_test.moc"
