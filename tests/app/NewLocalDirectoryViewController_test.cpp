// The new local folder sheet on a temporary folder of the test's own: the
// confirm button follows the name trimmed of spaces, Escape makes nothing;
// a name is made exactly as typed, and the listing the browser takes on
// "refreshLocalFilesList" holds it; an existing entry, a missing parent or a
// NUL in the name is one alert with the system's description, the sheet
// open and nothing made.

#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWidget>

#include <dirent.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "app/Extensions/Localize.h"
#include "app/local/Directory.h"
#include "app/sheets/NewLocalDirectoryViewController.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/window/SceneFactory.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::NewLocalDirectoryViewController;
using Names = std::vector<std::string>;

namespace {

// The entries of a folder, byte for byte as the system gives them, sorted.
Names entriesOf(const std::filesystem::path& folder) {
    Names names;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return {"<unreadable>"};
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

bool isFolder(const std::filesystem::path& path) {
    std::error_code ignored;
    return std::filesystem::is_directory(path, ignored);
}

}  // namespace

class NewLocalDirectoryViewControllerTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("localdir"), presenter));
        folder = std::make_unique<TemporaryFolder>();
        QVERIFY(folder->isValid());
        appwise->setLocalPath(folder->path());
        refreshes = 0;
        listed.clear();
        // What the browser does on the notification: list the folder again.
        token = appwise->notifications()->addObserver(quorvel::kRefreshLocalFilesListNotification,
                                                      [this](const ostrelcomm::Notification&) {
                                                          ++refreshes;
                                                          listed.clear();
                                                          for (const auto& entry :
                                                               quorvel::Directory(appwise->localPath()).files)
                                                              listed.push_back(entry.url.filename().string());
                                                      });
    }

    void cleanup() {
        appwise->notifications()->removeObserver(token);
        delete window;
        folder.reset();
    }

    // Spaces alone keep it disabled; one letter enables it; deleting the
    // letter disables it again.
    void theConfirmButtonFollowsTheName() {
        const QPointer<NewLocalDirectoryViewController> sheet = open();
        QPushButton* confirm = button(sheet);
        QVERIFY(!confirm->isEnabled());
        QTest::keyClicks(field(sheet), "   ");
        QVERIFY(!confirm->isEnabled());
        field(sheet)->clear();
        QTest::keyClicks(field(sheet), "x");
        QVERIFY(confirm->isEnabled());
        QTest::keyClick(field(sheet), Qt::Key_Backspace);
        QCOMPARE(field(sheet)->text(), QString());
        QVERIFY(!confirm->isEnabled());

        // Escape is Cancel: nothing is made.
        QTest::keyClicks(field(sheet), "x");
        QTest::keyClick(sheet, Qt::Key_Escape);
        QTRY_VERIFY(!sheet || !sheet->isVisible());
        QCOMPARE(entriesOf(folder->path()), Names{});
        QCOMPARE(refreshes, 0);
    }

    // The name as typed, spaces at its ends kept; a name that starts with
    // "/" is made inside the folder. One refresh, whose listing holds the
    // new folder, and the sheet closes.
    void aFolderIsMadeAsTyped_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("made");
        QTest::newRow("spaces at both ends") << " a b " << " a b ";
        QTest::newRow("a leading slash") << "/inside" << "inside";
    }
    void aFolderIsMadeAsTyped() {
        QFETCH(QString, typed);
        QFETCH(QString, made);
        const QPointer<NewLocalDirectoryViewController> sheet = open();
        QTest::keyClicks(field(sheet), typed);
        QTest::mouseClick(button(sheet), Qt::LeftButton);

        QCOMPARE(entriesOf(folder->path()), Names{made.toStdString()});
        QVERIFY(isFolder(folder->path() / made.toStdString()));
        QCOMPARE(refreshes, 1);
        QCOMPARE(listed, Names{made.toStdString()});
        QTRY_VERIFY(!sheet || !sheet->isVisible());
        QCoreApplication::processEvents();
        QVERIFY(presenter->shown().empty());
    }

    // One alert with the system's description; the sheet stays open with the
    // name, nothing is made and nothing posted.
    void aFailedCreationLeavesTheSheetOpen_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("description");
        QTest::newRow("an existing folder") << "F" << "File exists";
        QTest::newRow("an existing file") << "f" << "File exists";
        // One entry of the folder on show, never a path to another place.
        QTest::newRow("a name with a slash") << "F/x" << "Invalid argument";
        QTest::newRow("the parent") << "../escaped" << "Invalid argument";
        QTest::newRow("the parent after slashes") << "//../escaped" << "Invalid argument";
        QTest::newRow("the parent itself") << ".." << "Invalid argument";
        QTest::newRow("the folder itself") << "." << "Invalid argument";
        // Cut at the NUL, the system would make "a".
        QTest::newRow("a NUL") << QString::fromUtf16(u"a\u0000b", 3) << "Invalid argument";
    }
    void aFailedCreationLeavesTheSheetOpen() {
        QFETCH(QString, typed);
        QFETCH(QString, description);
        std::filesystem::create_directory(folder->path() / "F");
        std::ofstream(folder->path() / "f") << "text";
        const Names before = entriesOf(folder->path());
        refreshes = 0;

        const QPointer<NewLocalDirectoryViewController> sheet = open();
        field(sheet)->setText(typed);
        QVERIFY(button(sheet)->isEnabled());
        QTest::mouseClick(button(sheet), Qt::LeftButton);

        // Alerts are queued on the main thread.
        QTRY_COMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->shown()[0].messageText, QString::fromStdString(quorvel::localize("LocalFolderCreationErr")));
        QCOMPARE(presenter->shown()[0].informativeText, description);
        QVERIFY(sheet && sheet->isVisible());
        QCOMPARE(field(sheet)->text(), typed);
        QCOMPARE(entriesOf(folder->path()), before);
        QCOMPARE(refreshes, 0);
    }

private:
    // Held from the start: the sheet goes once closed.
    QPointer<NewLocalDirectoryViewController> open() {
        window = new QWidget;
        window->resize(800, 600);
        window->show();
        QPointer<NewLocalDirectoryViewController> sheet = qobject_cast<NewLocalDirectoryViewController*>(
            quorvel::SceneFactory::shared().open(quorvel::kCreateLocalDirectoryScene, window));
        if (sheet) (void)QTest::qWaitForWindowExposed(sheet);
        return sheet;
    }
    static QLineEdit* field(QWidget* sheet) { return sheet->findChild<QLineEdit*>("newFolderName"); }
    static QPushButton* button(QWidget* sheet) { return sheet->findChild<QPushButton*>("confirmPushButton"); }

    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
    std::unique_ptr<TemporaryFolder> folder;
    ostrelcomm::NotificationCenter::Token token{};
    int refreshes = 0;
    Names listed;
    QPointer<QWidget> window;
};

QTEST_MAIN(NewLocalDirectoryViewControllerTest)
#include "NewLocalDirectoryViewController_test.moc"
