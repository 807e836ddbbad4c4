// Names that look like markup, from the server and from other users, shown
// as they are everywhere the program shows them (the remote table, the path
// bar, the share, information and rename sheets, the jobs list, the trusted
// users and the alerts): a remote file named
// `<b>x</b><img src="file:///etc/passwd">` with a MIME type in tags, and a
// peer named `<i>p</i>`. A label that guesses rich text would draw "x" in
// bold and ask for a local file; a tool tip is read as rich text whenever it
// looks like markup. So each widget's text must equal the name and its
// format be plain, a table's cells must give the name as their text, a tool
// tip must show the name as it is once Qt has read it, and an alert must
// carry the name unchanged (the program's presenter shows alerts as plain
// text).

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTextDocument>
#include <QToolButton>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "FakeCameraProvider.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/account/UserProfileViewController.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/SelectedItems.h"
#include "app/window/MainViewController.h"
#include "app/window/MainWindow.h"
#include "app/window/PathBar.h"
#include "app/window/SceneFactory.h"
#include "jobs/CommJobs.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::MainViewController;

namespace {

constexpr char kFileName[] = "<b>x</b><img src=\"file:///etc/passwd\">";
constexpr char kPeerName[] = "<i>p</i>";
constexpr char kMime[] = "<u>text/plain</u>";

QString qs(const std::string& text) { return QString::fromStdString(text); }

// The texts of a table's first column, in row order.
QStringList column(const QAbstractItemModel& model, int col = 0) {
    QStringList texts;
    for (int row = 0; row < model.rowCount(); ++row) texts << model.index(row, col).data(Qt::DisplayRole).toString();
    return texts;
}

// A tool tip as Qt shows it: as rich text when it looks like markup.
QString shownToolTip(const QString& tip) {
    if (!Qt::mightBeRichText(tip)) return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

// Every tool tip under `root` (a widget's, or a cell's of one of its tables)
// that carries one of the names, raw or escaped, shows it as it is.
bool toolTipsShowNamesAsTheyAre(const QWidget& root, QString* offender) {
    const QStringList names{QString::fromLatin1(kFileName), QString::fromLatin1(kPeerName),
                            QString::fromLatin1(kMime)};
    const auto altered = [&](const QString& tip, const QString& where) {
        for (const QString& name : names) {
            if (!tip.contains(name) && !tip.contains(name.toHtmlEscaped())) continue;
            if (shownToolTip(tip).contains(name)) continue;
            *offender = where + ": " + tip;
            return true;
        }
        return false;
    };
    QList<const QWidget*> widgets{&root};
    for (const QWidget* child : root.findChildren<QWidget*>()) widgets << child;
    for (const QWidget* widget : widgets) {
        if (altered(widget->toolTip(), widget->objectName())) return false;
        const auto* table = qobject_cast<const QTableView*>(widget);
        if (!table || !table->model()) continue;
        const QAbstractItemModel& model = *table->model();
        for (int row = 0; row < model.rowCount(); ++row)
            for (int col = 0; col < model.columnCount(); ++col)
                if (altered(model.index(row, col).data(Qt::ToolTipRole).toString(), table->objectName()))
                    return false;
    }
    return true;
}

int rowOf(const QTableView& table, const QString& name) { return column(*table.model()).indexOf(name); }

void doubleClick(QTableView& table, int row) {
    const QPoint centre = table.visualRect(table.model()->index(row, 0)).center();
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, centre);
    QTest::mouseDClick(table.viewport(), Qt::LeftButton, {}, centre);
}

// The label shows `text` as it is, as plain text.
void expectPlainLabel(const QWidget& sheet, const char* name, const QString& text) {
    const auto* label = sheet.findChild<QLabel*>(QString::fromLatin1(name));
    QVERIFY2(label, name);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->textFormat(), Qt::PlainText);
}

}  // namespace

class HostileNamesTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        standIn();
        camera = std::make_shared<FakeCamera>();
        cameraInstall = std::make_unique<FakeCameraInstall>(camera);
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("hostile"), presenter, Terms::accepted));
        QVERIFY(downloads.isValid());
        appwise->setLocalPath(downloads.path());

        owner = std::make_unique<StandInAccount>("hostile-owner");
        peer = std::make_unique<StandInAccount>(kPeerName, StandInAccount::ExactName{});
        const std::string metadata = nlohmann::json{{"name", kFileName},
                                                    {"creationDate", "2021-03-04T05:06:07Z"},
                                                    {"modificationDate", "2022-01-02T03:04:05Z"},
                                                    {"fileSize", 0},
                                                    {"mime", kMime}}
                                         .dump();
        ownFile = owner->seedMetadata(metadata, devserver::ItemKind::file);
        const std::string peerFile = peer->seedMetadata(metadata, devserver::ItemKind::file);
        QVERIFY(!ownFile.empty() && !peerFile.empty());
        QVERIFY(owner->grant(ownFile, *peer));
        QVERIFY(peer->grant(peerFile, *owner));
        QVERIFY(logIn(*appwise, *owner));
        QVERIFY(trust(*appwise, *peer));
        ownListing = listFolder(*appwise, "root");
    }

    // The sheets work on the file, selected.
    void init() {
        appwise->selectedItems().setOwnElements(pick(ownListing, {kFileName}));
        QCOMPARE(appwise->selectedItems().ownElements().size(), std::size_t{1});
    }

    void cleanupTestCase() { cameraInstall.reset(); }

    void cleanup() { delete window; }

    // The top folder, the users who share and the peer's items, browsed by
    // double clicks in the window, and the path bar over them.
    void theRemoteTableAndThePathBar() {
        quorvel::MainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        MainViewController& view = *window.viewController();
        auto* table = view.findChild<QTableView*>(QStringLiteral("remoteFiles"));
        quorvel::PathBar* bar = view.remotePathView();
        QVERIFY(table && bar);
        QString offender;
        // As the login sheet does once logged in.
        appwise->notifications()->post(quorvel::kActionRefreshNotification);
        const QString shares = qs(quorvel::localize("SHARES"));
        QTRY_VERIFY_WITH_TIMEOUT(rowOf(*table, shares) >= 0, kStandInGuardMs);
        QStringList top = column(*table->model());
        top.sort();
        QCOMPARE(top, (QStringList{kFileName, shares}));
        QVERIFY2(toolTipsShowNamesAsTheyAre(view, &offender), qPrintable(offender));

        doubleClick(*table, rowOf(*table, shares));
        QTRY_COMPARE_WITH_TIMEOUT(column(*table->model()), QStringList{kPeerName}, kStandInGuardMs);
        QVERIFY2(toolTipsShowNamesAsTheyAre(view, &offender), qPrintable(offender));

        doubleClick(*table, 0);
        QTRY_COMPARE_WITH_TIMEOUT(column(*table->model()), QStringList{kFileName}, kStandInGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(bar->items().back().title, QString(kPeerName), kStandInGuardMs);
        const QToolButton* last = bar->button(static_cast<int>(bar->items().size()) - 1);
        QVERIFY(last);
        QCOMPARE(last->text(), QString(kPeerName));
        QVERIFY2(toolTipsShowNamesAsTheyAre(view, &offender), qPrintable(offender));
        QVERIFY(!last->toolTip().isEmpty());
        QCOMPARE(shownToolTip(last->toolTip()), QString(kPeerName));
        appwise->remotePath().clean();
    }

    // The share sheet: the file in its header, the trusted peer in its
    // table, and the same peer found by a search.
    void theShareSheet() {
        QDialog* sheet = open(quorvel::kShareItemScene);
        QVERIFY(sheet);
        expectPlainLabel(*sheet, "itemName", kFileName);
        auto* table = sheet->findChild<QTableView*>(QStringLiteral("trustedUsersTable"));
        QTRY_COMPARE_WITH_TIMEOUT(column(*table->model()), QStringList{kPeerName}, kStandInGuardMs);
        auto* search = sheet->findChild<QLineEdit*>(QStringLiteral("searchPeer"));
        search->setText(QString::fromLatin1(kPeerName));
        QTest::keyClick(search, Qt::Key_Return);
        QCOMPARE(table->selectionModel()->selectedRows().size(), 1);
        QString offender;
        QVERIFY2(toolTipsShowNamesAsTheyAre(*sheet, &offender), qPrintable(offender));
        QVERIFY(presenter->shown().empty());
    }

    // The information sheet: name and type, and the peer among the shares.
    void theInformationSheet() {
        QDialog* sheet = open(quorvel::kItemInfoScene);
        QVERIFY(sheet);
        QTRY_COMPARE_WITH_TIMEOUT(sheet->findChild<QLabel*>(QStringLiteral("itemName"))->text(), QString(kFileName),
                                  kStandInGuardMs);
        expectPlainLabel(*sheet, "itemName", kFileName);
        expectPlainLabel(*sheet, "itemMIME", kMime);
        auto* shares = sheet->findChild<QTableView*>(QStringLiteral("tblShares"));
        QTRY_COMPARE_WITH_TIMEOUT(column(*shares->model()), QStringList{kPeerName}, kStandInGuardMs);
        QString offender;
        QVERIFY2(toolTipsShowNamesAsTheyAre(*sheet, &offender), qPrintable(offender));
    }

    // The rename sheet offers the name as it is.
    void theRenameSheet() {
        QDialog* sheet = open(quorvel::kRenameItemScene);
        QVERIFY(sheet);
        auto* field = sheet->findChild<QLineEdit*>(QStringLiteral("itemName"));
        QTRY_COMPARE_WITH_TIMEOUT(field->text(), QString(kFileName), kStandInGuardMs);
        QString offender;
        QVERIFY2(toolTipsShowNamesAsTheyAre(*sheet, &offender), qPrintable(offender));
    }

    // A download of the file, listed by its name.
    void theJobsList() {
        MainViewController view;
        const auto& slow = appwise->engine(CommTasks::slowTask);
        QObject::connect(&appwise->bridge(CommTasks::slowTask), &quorvel::EngineBridge::queueChanged, &view,
                         [&](const quorvel::QueueChanges&) {
                             view.jobsQueueCopied(CommTasks::slowTask,
                                                  MainViewController::jobsListCopy(*slow->queue()));
                         });
        QVERIFY(slow->fileReceive_add(ownFile, downloads.path(), kFileName));
        auto* table = view.findChild<QTableView*>(QStringLiteral("jobsTable"));
        QVERIFY(table);
        QTRY_VERIFY_WITH_TIMEOUT(!column(*table->model()).isEmpty() && column(*table->model()).front().endsWith(kFileName),
                                 kStandInGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*slow), kStandInGuardMs);
        QString offender;
        QVERIFY2(toolTipsShowNamesAsTheyAre(view, &offender), qPrintable(offender));
    }

    // The account window lists the peer as it is, and its question before
    // the peer is no longer trusted names the peer unchanged.
    void theTrustedUsersAndTheirAlert() {
        QDialog* opened = open(quorvel::kUserProfileScene);
        auto* sheet = qobject_cast<quorvel::UserProfileViewController*>(opened);
        QVERIFY(sheet);
        auto* tabs = sheet->findChild<QTabWidget*>(QStringLiteral("tabView"));
        tabs->setCurrentIndex(static_cast<int>(quorvel::UserProfileViewController::SelectedTab::trusts));
        auto* table = sheet->findChild<QTableView*>(QStringLiteral("tblTrustedUser"));
        QTRY_COMPARE_WITH_TIMEOUT(column(*table->model()), QStringList{kPeerName}, kStandInGuardMs);
        QString offender;
        QVERIFY2(toolTipsShowNamesAsTheyAre(*sheet, &offender), qPrintable(offender));

        table->selectRow(0);
        const QPoint position(5, 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, position, table->viewport()->mapToGlobal(position));
        QApplication::sendEvent(table->viewport(), &event);
        auto* menu = sheet->findChild<QMenu*>(QStringLiteral("trustedUserMenu"));
        QVERIFY(menu);
        const std::size_t before = presenter->shown().size();
        menu->actions().front()->trigger();
        menu->close();
        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), before + 1);
        QCOMPARE(shown.back().informativeText,
                 qs(quorvel::localize("TrustDeleteMsg")).arg(QString::fromLatin1(kPeerName)));
        // Cancel: the peer stays trusted.
        QVERIFY(presenter->answerPending(0));
    }

private:
    QDialog* open(const char* scene) {
        window = new QWidget;
        window->resize(900, 700);
        window->show();
        QDialog* sheet = quorvel::SceneFactory::shared().open(scene, window);
        if (sheet) (void)QTest::qWaitForWindowExposed(sheet);
        return sheet;
    }

    Appwise* appwise = nullptr;
    std::shared_ptr<RecordingAlertPresenter> presenter;
    std::shared_ptr<FakeCamera> camera;
    std::unique_ptr<FakeCameraInstall> cameraInstall;
    std::unique_ptr<StandInAccount> owner;
    std::unique_ptr<StandInAccount> peer;
    std::string ownFile;
    std::vector<ostrelcomm::RemoteItemInfo> ownListing;
    TemporaryFolder downloads;
    QPointer<QWidget> window;
};

QTEST_MAIN(HostileNamesTest)
#include "HostileNames_test.moc"
