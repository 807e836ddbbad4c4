// The new remote folder sheet against the stand-in server. The names it
// refuses are those of a real listing of a folder holding the folder "A",
// the file "f", the folder "Å" (U+00C5) and the folder "  " (two spaces):
// spaces only, an item's exact name (files too, canonically equivalent
// spellings too), but not another case or a leading space; without a
// listing every name that is not spaces only. OK queues the creation as
// typed in the folder on show ("root" at the top), tagged for the browser,
// and the stand-in stores the name read back under the account's keys.

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "StandInTestSupport.h"
#include "app/sheets/NewRemoteDirectoryViewController.h"
#include "app/utils/Appwise.h"
#include "app/window/SceneFactory.h"
#include "tree/TreeNotifications.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::NewRemoteDirectoryViewController;
using Lines = std::vector<std::string>;

namespace {

constexpr char kCreatePrepare[] = "GET /dir/create_prepare/";
constexpr char kCreateExecute[] = "PUT /dir/create_execute/";

}  // namespace

class NewRemoteDirectoryViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    // One account, logged in once, with the folder the names are checked
    // against at its top.
    void initTestCase() {
        standIn();
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("newdir"), presenter));
        a = std::make_unique<StandInAccount>("newdir");
        a->folder("A");
        a->file("f");
        a->folder("\u00C5");
        a->folder("  ");
        QVERIFY(logIn(*appwise, *a));
        top = folderListing(*appwise, "root");
        QVERIFY(top);
        QCOMPARE(top->content.size(), std::size_t{4});
    }

    void cleanup() {
        delete window;
        appwise->setRemoteDirectoryInfo(nullptr);
        appwise->remotePath().clean();
    }

    void theNameIsCheckedAgainstTheFolderOnShow_data() {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("warning");
        QTest::newRow("spaces only") << true << "   " << false << false;
        QTest::newRow("spaces only, an item's name") << true << "  " << false << true;
        QTest::newRow("a folder's name") << true << "A" << false << true;
        QTest::newRow("a file's name") << true << "f" << false << true;
        QTest::newRow("a leading space") << true << " A" << true << false;
        QTest::newRow("another case") << true << "a" << true << false;
        QTest::newRow("decomposed, beside the composed") << true << QString::fromUtf16(u"A\u030A") << false << true;
        QTest::newRow("a new name") << true << "B" << true << false;
        QTest::newRow("no listing, a name") << false << "A" << true << false;
        QTest::newRow("no listing, spaces only") << false << "   " << false << false;
    }
    void theNameIsCheckedAgainstTheFolderOnShow() {
        QFETCH(bool, listed);
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(bool, warning);
        if (listed) appwise->setRemoteDirectoryInfo(top);
        const QPointer<NewRemoteDirectoryViewController> sheet = open();
        QVERIFY(!button(sheet)->isEnabled());
        QVERIFY(sheet->findChild<QLabel*>("warningIcon")->isHidden());

        // Inserted as typing does; key clicks carry ASCII only.
        field(sheet)->insert(typed);
        QCOMPARE(button(sheet)->isEnabled(), accepted);
        QCOMPARE(!sheet->findChild<QLabel*>("warningIcon")->isHidden(), warning);
        QCOMPARE(!sheet->findChild<QLabel*>("warningText")->isHidden(), warning);

        // Emptied: refused, and no warning left.
        field(sheet)->clear();
        QVERIFY(!button(sheet)->isEnabled());
        QVERIFY(sheet->findChild<QLabel*>("warningText")->isHidden());

        // Escape is Cancel: nothing is asked.
        a->newRequests();
        QTest::keyClicks(field(sheet), "B");
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!sheet || !sheet->isVisible());
        QVERIFY(engineIdle(*appwise->engine(CommTasks::fastTask)));
        QVERIFY(a->newRequests().empty());
    }

    // " A" beside "A", made as typed; the browser's tag comes back with the
    // result. At the top the parent is "root".
    void aFolderIsCreatedAsTypedInTheFolderOnShow_data() {
        QTest::addColumn<bool>("atTop");
        QTest::newRow("at the top") << true;
        QTest::newRow("inside a folder") << false;
    }
    void aFolderIsCreatedAsTypedInTheFolderOnShow() {
        QFETCH(bool, atTop);
        std::string parent = "root";
        if (!atTop) {
            parent = a->folder("inside");
            a->folder("A", parent);
            appwise->remotePath().append("inside", parent);
        }
        appwise->setRemoteDirectoryInfo(folderListing(*appwise, parent));
        a->newRequests();
        std::optional<quorvel::DirectoryCreatedEvent> created;
        QObject receiver;
        connect(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::newRemoteDirectoryCreated, &receiver,
                [&](const quorvel::DirectoryCreatedEvent& event) {
                    if (event.result == ostrelcomm::tree::kCreated) created = event;
                });

        const QPointer<NewRemoteDirectoryViewController> sheet = open();
        QTest::keyClicks(field(sheet), " A");
        QVERIFY(button(sheet)->isEnabled());
        QTest::mouseClick(button(sheet), Qt::LeftButton);
        QTRY_VERIFY(!sheet || !sheet->isVisible());

        QTRY_VERIFY_WITH_TIMEOUT(created.has_value(), kStandInGuardMs);
        QCOMPARE(created->source, std::optional<std::string>("mainWindow"));
        const auto requests = a->newRequests();
        QCOMPARE(lines(requests), (Lines{kCreatePrepare, kCreateExecute}));
        QCOMPARE(header(requests[1], "parent-uuid"), parent);
        // Read back under the account's keys: " A" beside "A".
        const Lines names = a->namesIn(parent);
        QCOMPARE(std::count(names.begin(), names.end(), " A/"), 1);
        QCOMPARE(std::count(names.begin(), names.end(), "A/"), 1);
        QCOMPARE(names.size(), atTop ? std::size_t{5} : std::size_t{2});
    }

private:
    // Held from the start: the sheet goes once closed.
    QPointer<NewRemoteDirectoryViewController> open() {
        window = new QWidget;
        window->resize(800, 600);
        window->show();
        QPointer<NewRemoteDirectoryViewController> sheet = qobject_cast<NewRemoteDirectoryViewController*>(
            quorvel::SceneFactory::shared().open(quorvel::kNewRemoteDirectoryScene, window));
        if (sheet) (void)QTest::qWaitForWindowExposed(sheet);
        return sheet;
    }
    static QLineEdit* field(QWidget* sheet) { return sheet->findChild<QLineEdit*>("newFolderName"); }
    static QPushButton* button(QWidget* sheet) { return sheet->findChild<QPushButton*>("confirmPushButton"); }

    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
    std::unique_ptr<StandInAccount> a;
    ostrelcomm::tree::DirInfoPayload top;
    QPointer<QWidget> window;
};

QTEST_MAIN(NewRemoteDirectoryViewControllerTest)
#include "NewRemoteDirectoryViewController_test.moc"
