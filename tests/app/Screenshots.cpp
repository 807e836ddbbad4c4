// The main screens as a user sees them, taken on an X server (xvfb) with the
// program started as scripts/run starts it: the application's shared state
// with its message-box alerts, settings in a fresh configuration folder, the
// Fusion style, the DejaVu fonts. The stand-in server runs in this process;
// the story's accounts, folders, files, shares and trust are made through the
// library's own jobs, on engines of this program, never written into the
// server's stores. In the window, the user types the login, browses the top
// folder and the shares, watches a held download and a failed upload in the
// jobs list, opens the share sheet and the account window.
//
// Each picture is the whole screen, taken once the window and any sheet on it
// have been painted and the X server has everything drawn. The pictures are
// then read back: their size from the PNG header (by Python's struct), their
// colours, and the QR code of the account window (by zbarimg), which must
// carry the stand-in's record of the user.

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QSet>
#include <QSettings>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>

#include <any>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "AppTestSupport.h"
#include "app/AppLaunch.h"
#include "app/Extensions/Localize.h"
#include "app/account/UserProfileViewController.h"
#include "app/sheets/LoginViewController.h"
#include "app/sheets/ShareItemViewController.h"
#include "app/utils/Appwise.h"
#include "app/window/MainViewController.h"
#include "app/window/MainWindow.h"
#include "auth/AuthNotifications.h"
#include "auth/SRPAuthMode.h"
#include "crypto/SecretBytes.h"
#include "devserver/AccountEndpoints.h"
#include "devserver/Base64.h"
#include "devserver/Fault.h"
#include "jobs/JobStatus.h"
#include "shares/ShareNotifications.h"
#include "shares/TrustCode.h"
#include "support/MediaFixtures.h"
#include "support/NotificationRecorder.h"
#include "support/SharedDevserver.h"
#include "tree/RemoteDirInfo.h"
#include "tree/TreeNotifications.h"
#include "xfer/ThumbnailHelper.h"
#include "xfer/XferNotifications.h"

using ostrelcomm::SecretBytes;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::ToolbarItem;

namespace {

constexpr int kGuardMs = 60'000;
constexpr int kScreenWidth = 1440;
constexpr int kScreenHeight = 900;
constexpr int kWindowWidth = 1280;
constexpr int kWindowHeight = 800;
constexpr std::size_t kBlock = 4 * 1024 * 1024;
// The blocks the held download receives before its next one is held.
constexpr int kBlocksBeforeHold = 3;

// scripts/run's demo account.
constexpr char kDemo[] = "demo";
constexpr char kDemoPassword[] = "demo-password";
constexpr char kBob[] = "bob";
constexpr char kBobPassword[] = "bob-password";
constexpr char kCarol[] = "carol";
constexpr char kCarolPassword[] = "carol-password";

constexpr char kPdfName[] = "Quarterly report.pdf";
constexpr char kPngName[] = "Harbour.png";
constexpr char kHeldName[] = "Holiday video.mp4";

devserver::DevServer& standIn() { return testsupport::sharedDevserver().server(); }

QString picturesFolder() { return QStringLiteral(QUORVEL_SCREENSHOTS_DIR); }

std::string randomContent(std::size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string content(size, '\0');
    for (auto& byte : content) byte = static_cast<char>(generator());
    return content;
}

std::filesystem::path writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// One of the story's users on an engine of this program's own, logged in;
// each call queues one job and waits until the engine has run it.
class StoryUser {
public:
    StoryUser(const std::string& name, const char* password) : name_(name) {
        devserver::addDemoUser(standIn().users(), name, password);
        run([&](ostrelcomm::SrvComm& e) { e.auth_add(name, SecretBytes::fromText(password), ostrelcomm::SRPAuthMode::new_); });
        const auto end = recorder_.last(ostrelcomm::auth::kSRPAuthenticatedNotification);
        loggedIn_ = end && end->result == ostrelcomm::auth::kAuthenticated;
    }

    bool loggedIn() const { return loggedIn_; }
    devserver::User record() const { return *standIn().users().find(name_); }

    // A new folder in the top folder; its identifier, empty when refused.
    std::string folder(const std::string& name) {
        run([&](ostrelcomm::SrvComm& e) { e.directory_create(name, std::nullopt, std::nullopt); });
        const auto end = recorder_.last(ostrelcomm::tree::kNewRemoteDirectoryCreatedNotification);
        if (!end || end->result != ostrelcomm::tree::kCreated) return {};
        const auto* uuid = end->data<ostrelcomm::tree::ItemUuidPayload>();
        return uuid ? *uuid : std::string();
    }

    // The local file uploaded into the top folder, with the thumbnail the
    // program would make of it; the new file's identifier, empty on failure
    // (or when a picture or document gave no thumbnail).
    std::string upload(const std::filesystem::path& local, const std::string& name, bool withThumbnail = false) {
        const auto thumbnail = ostrelcomm::createThumnbnail(local);
        if (withThumbnail && !thumbnail.thumbnail) return {};
        run([&](ostrelcomm::SrvComm& e) {
            e.fileSend_add(local, std::nullopt, name, thumbnail.thumbnail, thumbnail.thumbnailmime);
        });
        const auto end = recorder_.last(ostrelcomm::xfer::kLocalFileUploadNotification);
        if (!end || end->result != ostrelcomm::xfer::kSent) return {};
        const auto* payload = end->data<ostrelcomm::xfer::LocalFileUploadPayload>();
        if (!payload) return {};
        const auto found = payload->find(ostrelcomm::xfer::kUUIDKey);
        const auto* uuid = found == payload->end() ? nullptr : std::any_cast<std::string>(&found->second);
        return uuid ? *uuid : std::string();
    }

    bool share(const std::string& peer, const std::string& item) {
        run([&](ostrelcomm::SrvComm& e) { e.shares_shareItem(peer, item); });
        const auto end = recorder_.last(ostrelcomm::shares::kShareItemTerminatedNotification);
        return end && end->result == ostrelcomm::shares::kShared;
    }

    // Trusts the peer whose code this is, as read from that peer's QR code.
    bool trust(const std::string& trustString) {
        const ostrelcomm::TrustCode code(trustString);
        run([&](ostrelcomm::SrvComm& e) { e.shares_addTrustedUser(code.peerUUID(), code.peerUsername(), code.pubshkey()); });
        const auto end = recorder_.last(ostrelcomm::shares::kTrustCreationTerminatedNotification);
        return end && end->result == ostrelcomm::shares::kCreated;
    }

private:
    template <class Queue>
    void run(Queue queue) {
        recorder_.clear();
        {
            // Queued under the engine's lock: the wait below counts this job's end.
            std::lock_guard lock(engine_->mutex());
            queue(*engine_);
        }
        QVERIFY(recorder_.waitIdle());
    }

    std::string name_;
    std::shared_ptr<ostrelcomm::SrvComm> engine_ = std::make_shared<ostrelcomm::SrvComm>();
    testsupport::NotificationRecorder recorder_{
        engine_->notifications(),
        {ostrelcomm::auth::kSRPAuthenticatedNotification, ostrelcomm::tree::kNewRemoteDirectoryCreatedNotification,
         ostrelcomm::xfer::kLocalFileUploadNotification, ostrelcomm::shares::kShareItemTerminatedNotification,
         ostrelcomm::shares::kTrustCreationTerminatedNotification}};
    bool loggedIn_ = false;
};

// The row of the table whose first column reads `name`; -1 when none does.
int rowNamed(const QTableView* table, const QString& name) {
    const QAbstractItemModel* model = table->model();
    for (int row = 0; model && row < model->rowCount(); ++row)
        if (model->index(row, 0).data(Qt::DisplayRole).toString() == name) return row;
    return -1;
}

void clickRow(QTableView* table, int row, bool twice = false) {
    const QRect cell = table->visualRect(table->model()->index(row, 0));
    if (twice) {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
        QTest::mouseDClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    } else {
        QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, cell.center());
    }
}

// The jobs list can tell how long the job has left.
bool timeLeftKnown(const quorvel::MainViewController& view, const std::string& jobID) {
    const auto found = view.jobsList().find(jobID);
    return found != view.jobsList().end() && view.transferPace().estimate(jobID, found->second.jobSteps).has_value();
}

// The job's step as the engine has it; 0 when it has no such job.
std::size_t stepOf(const ostrelcomm::SrvComm& engine, const std::string& jobID) {
    const auto jobs = engine.queue()->getJobsList();
    const auto found = jobs.find(jobID);
    return found == jobs.end() ? 0 : found->second.actStep;
}

// The jobs list shows the job at the step the engine has it at.
bool listSeesStep(const quorvel::MainViewController& view, const ostrelcomm::SrvComm& engine,
                  const std::string& jobID) {
    const auto listed = view.jobsList().find(jobID);
    return listed != view.jobsList().end() && listed->second.actStep == stepOf(engine, jobID);
}

bool fastEngineIdle() {
    for (const auto& [id, job] : Appwise::shared().engine(CommTasks::fastTask)->queue()->getJobsList())
        if (!ostrelcomm::isFinished(job.status)) return false;
    return true;
}

// The sheet of this kind open on the window, if any.
template <class Sheet>
Sheet* openSheet(const QWidget& window) {
    for (auto* sheet : window.findChildren<Sheet*>())
        if (sheet->isVisible()) return sheet;
    return nullptr;
}

// Every window on show painted now, and the X server done with what it was
// sent: the grab then reads what a user sees.
void paintEverything() {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->isVisible()) top->repaint();
    QCoreApplication::processEvents();
    QGuiApplication::sync();
}

// The whole screen as a PNG in the pictures folder; false when it could not
// be written.
bool takePicture(const QString& name) {
    paintEverything();
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return false;
    const QPixmap picture = screen->grabWindow(0);
    return picture.save(picturesFolder() + "/" + name, "PNG");
}

// The number of distinct colours of a written picture.
int distinctColours(const QString& name) {
    const QImage image(picturesFolder() + "/" + name);
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) colours.insert(line[x]);
    }
    return static_cast<int>(colours.size());
}

const QStringList kPictures{QStringLiteral("01-logged-out.png"),  QStringLiteral("02-login-sheet.png"),
                            QStringLiteral("03-browser-shares.png"), QStringLiteral("04-peer-items.png"),
                            QStringLiteral("05-jobs.png"),       QStringLiteral("06-share-sheet.png"),
                            QStringLiteral("07-account-trusts.png")};

}  // namespace

class Screenshots : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before the program's first Http: the server's address and its CA
        // come into the environment, as scripts/run exports them.
        standIn();
        QVERIFY(QDir().mkpath(picturesFolder()));
        for (const QString& name : kPictures) QFile::remove(picturesFolder() + "/" + name);
    }

    void theMainScreens() {
        // --- the story, through the library's jobs ------------------------------------
        apptest::TemporaryFolder media;
        QVERIFY(media.isValid());
        const auto pdf = media.path() / "report.pdf";
        {
            const auto bytes = testsupport::pdfDocument({testsupport::PdfPage{}});
            std::ofstream(pdf, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<std::streamsize>(bytes.size()));
        }
        const auto png = media.path() / "harbour.png";
        testsupport::twoColourPicture(png, 640, 400);

        StoryUser demo(kDemo, kDemoPassword);
        StoryUser bob(kBob, kBobPassword);
        StoryUser carol(kCarol, kCarolPassword);
        QVERIFY(demo.loggedIn() && bob.loggedIn() && carol.loggedIn());
        QVERIFY(!demo.folder("Documents").empty());
        QVERIFY(!demo.folder("Photos").empty());
        QVERIFY(!demo.upload(pdf, kPdfName, true).empty());
        QVERIFY(!demo.upload(png, kPngName, true).empty());
        // Several blocks, so that the held download shows how far it got.
        const std::string held =
            demo.upload(writeFile(media.path() / "held.bin", randomContent(5 * kBlock + 1000, 54)), kHeldName);
        QVERIFY(!held.empty());
        const std::string budget =
            bob.upload(writeFile(media.path() / "budget.txt", "Rent 900\nFood 400\n"), "Budget 2027.txt");
        const std::string slides = bob.upload(pdf, "Team slides.pdf");
        QVERIFY(!budget.empty() && !slides.empty());
        QVERIFY(bob.share(kDemo, budget));
        QVERIFY(bob.share(kDemo, slides));
        const devserver::User bobRecord = bob.record();
        const auto bobCode = ostrelcomm::TrustCode::generate(bobRecord.uuid, bobRecord.name, bobRecord.pubshkey);
        QVERIFY(bobCode);
        QVERIFY(demo.trust(*bobCode));

        // --- the program, as scripts/run starts it ------------------------------------
        // A user who has accepted the terms of use before.
        {
            QSettings settings(QSettings::IniFormat, QSettings::UserScope, QString::fromLatin1(Appwise::kSuiteName));
            settings.setValue(QStringLiteral("GCAccepted"), true);
        }
        const auto running = quorvel::startApplication();
        quorvel::MainWindow& window = *running->window;
        window.resize(kWindowWidth, kWindowHeight);
        window.move((kScreenWidth - kWindowWidth) / 2, (kScreenHeight - kWindowHeight) / 2);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        Appwise& appwise = Appwise::shared();
        // The local side shows a folder of the story's own.
        apptest::TemporaryFolder local;
        QVERIFY(local.isValid());
        writeFile(local.path() / "Letter to the bank.txt", "Dear Sir or Madam,\n");
        writeFile(local.path() / "Holiday plan.txt", "Leave on Friday.\n");
        std::filesystem::create_directory(local.path() / "Drafts");
        appwise.setLocalPath(local.path());
        auto* view = window.viewController();
        auto* localTable = view->findChild<QTableView*>(QStringLiteral("localFiles"));
        auto* remoteTable = view->findChild<QTableView*>(QStringLiteral("remoteFiles"));
        auto* tabs = view->findChild<QTabWidget*>(QStringLiteral("mainTabView"));
        QVERIFY(localTable && remoteTable && tabs);
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(localTable, QStringLiteral("Drafts")) >= 0, kGuardMs);
        QVERIFY(takePicture(kPictures[0]));

        // The login, typed into the sheet.
        window.tbLoginLogout()->trigger();
        quorvel::LoginViewController* login = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((login = openSheet<quorvel::LoginViewController>(window)) != nullptr, kGuardMs);
        QVERIFY(QTest::qWaitForWindowExposed(login));
        auto* username = login->findChild<QLineEdit*>(QStringLiteral("txtUsername"));
        auto* password = login->findChild<QLineEdit*>(QStringLiteral("txtPassword"));
        QVERIFY(username && password);
        QTest::keyClicks(username, QString::fromLatin1(kDemo));
        QTest::keyClicks(password, QString::fromLatin1(kDemoPassword));
        QVERIFY(takePicture(kPictures[1]));
        QTest::keyClick(password, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(appwise.authenticated(), kGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(!openSheet<quorvel::LoginViewController>(window), kGuardMs);

        // The top folder, with the shares' row.
        const QString shares = QString::fromStdString(quorvel::localize("SHARES"));
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(remoteTable, shares) >= 0 &&
                                     rowNamed(remoteTable, QString::fromLatin1(kPdfName)) >= 0,
                                 kGuardMs);
        QVERIFY(takePicture(kPictures[2]));

        // Bob's items under the shares.
        clickRow(remoteTable, rowNamed(remoteTable, shares), true);
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(remoteTable, QString::fromLatin1(kBob)) >= 0, kGuardMs);
        clickRow(remoteTable, rowNamed(remoteTable, QString::fromLatin1(kBob)), true);
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(remoteTable, QStringLiteral("Team slides.pdf")) >= 0 &&
                                     rowNamed(remoteTable, QStringLiteral("Budget 2027.txt")) >= 0,
                                 kGuardMs);
        clickRow(remoteTable, rowNamed(remoteTable, QStringLiteral("Team slides.pdf")));
        QVERIFY(takePicture(kPictures[3]));

        // A download held on its fourth block, and an upload the server
        // refuses, in the jobs list.
        const auto& slow = appwise.engine(CommTasks::slowTask);
        // The engine runs one job at a time: the upload fails first.
        standIn().setFault("PUT", "/filesend/store/",
                           devserver::Fault::exception(500, "StorageException", "The store is full"));
        QVERIFY(slow->fileSend_add(writeFile(local.path() / "Notes.txt", "Call the plumber.\n"), std::nullopt));
        QTRY_VERIFY_WITH_TIMEOUT(view->failedJobs() >= 1, kGuardMs);
        // Then every block of the download is held, and let go one at a
        // time once the jobs list has seen the last one arrive: the list
        // times the blocks as a user's would, and the download stays held on
        // its fourth.
        standIn().setFault("GET", "/filerecv/getblock/", devserver::Fault::stalled());
        const auto download = slow->fileReceive_add(held, local.path(), kHeldName);
        QVERIFY(download);
        auto* jobsTable = view->findChild<QTableView*>(QStringLiteral("jobsTable"));
        auto* badge = view->findChild<QLabel*>(QStringLiteral("jobsNumber"));
        QVERIFY(jobsTable && badge);
        std::size_t step = 0;
        for (int block = 0; block <= kBlocksBeforeHold; ++block) {
            // The block asked for after the last step the list has seen.
            QTRY_VERIFY_WITH_TIMEOUT(standIn().stalledRequests() == 1 && stepOf(*slow, *download) > step &&
                                         listSeesStep(*view, *slow, *download),
                                     kGuardMs);
            step = stepOf(*slow, *download);
            if (block < kBlocksBeforeHold) standIn().releaseStalls();
        }
        // The failure turned the list to the failed jobs, which silences its
        // alarm as soon as the tab shows them, and each redraw of the badge
        // turns it there again while the alarm sounds. With nothing left to
        // redraw (the held download does not move): all jobs first, then the
        // tab, and the badge stays red.
        QTRY_VERIFY_WITH_TIMEOUT(fastEngineIdle(), kGuardMs);
        for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
        view->jobsToDisplay(0);
        QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(1).center());
        QTRY_VERIFY_WITH_TIMEOUT(jobsTable->model()->rowCount() == 2 && timeLeftKnown(*view, *download), kGuardMs);
        QVERIFY(takePicture(kPictures[4]));
        // What the picture shows.
        QCOMPARE(view->jobsToList(), quorvel::MainViewController::JobsListItems::all);
        QCOMPARE(jobsTable->model()->rowCount(), 2);
        QVERIFY(badge->isVisible() && view->failedJobs() == 1);
        standIn().clearFaults();
        standIn().releaseStalls();

        // The share sheet on the report, bob trusted, carol looked up.
        QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(0).center());
        // Back to the top folder by the path bar's first button.
        auto* remotePathBar = view->findChild<QWidget*>(QStringLiteral("remotePathView"));
        QVERIFY(remotePathBar);
        const auto levels = remotePathBar->findChildren<QToolButton*>();
        QVERIFY(!levels.isEmpty());
        QTest::mouseClick(levels.front(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(remoteTable, QString::fromLatin1(kPdfName)) >= 0 && fastEngineIdle(),
                                 kGuardMs);
        clickRow(remoteTable, rowNamed(remoteTable, QString::fromLatin1(kPdfName)));
        QTRY_VERIFY_WITH_TIMEOUT(window.toolbarItem(ToolbarItem::tbShare)->isEnabled(), kGuardMs);
        window.toolbarItem(ToolbarItem::tbShare)->trigger();
        quorvel::ShareItemViewController* share = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((share = openSheet<quorvel::ShareItemViewController>(window)) != nullptr, kGuardMs);
        auto* peers = share->findChild<QTableView*>(QStringLiteral("trustedUsersTable"));
        auto* search = share->findChild<QLineEdit*>(QStringLiteral("searchPeer"));
        QVERIFY(peers && search);
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(peers, QString::fromLatin1(kBob)) >= 0, kGuardMs);
        QTest::keyClicks(search, QString::fromLatin1(kCarol));
        QTest::keyClick(search, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(peers, QString::fromLatin1(kCarol)) == 0, kGuardMs);
        QVERIFY(takePicture(kPictures[5]));
        QTest::keyClick(share, Qt::Key_Escape);
        QTRY_VERIFY_WITH_TIMEOUT(!openSheet<quorvel::ShareItemViewController>(window), kGuardMs);

        // The account window on its trusted users, with the user's own code.
        window.toolbarItem(ToolbarItem::tbAccountInformations)->trigger();
        quorvel::UserProfileViewController* account = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((account = openSheet<quorvel::UserProfileViewController>(window)) != nullptr,
                                 kGuardMs);
        auto* accountTabs = account->findChild<QTabWidget*>(QStringLiteral("tabView"));
        QVERIFY(accountTabs);
        int trustsTab = -1;
        for (int i = 0; i < accountTabs->count(); ++i)
            if (accountTabs->tabBar()->tabData(i).toString() == QStringLiteral("Trusts")) trustsTab = i;
        QVERIFY(trustsTab >= 0);
        QTest::mouseClick(accountTabs->tabBar(), Qt::LeftButton, {}, accountTabs->tabBar()->tabRect(trustsTab).center());
        auto* qrCode = account->findChild<QLabel*>(QStringLiteral("qrCodeImageView"));
        auto* trusted = account->findChild<QTableView*>(QStringLiteral("tblTrustedUser"));
        QVERIFY(qrCode && trusted);
        QTRY_VERIFY_WITH_TIMEOUT(!qrCode->pixmap().isNull() && rowNamed(trusted, QString::fromLatin1(kBob)) >= 0,
                                 kGuardMs);
        QVERIFY(takePicture(kPictures[6]));
        account->close();

        // --- the pictures, read back --------------------------------------------------
        for (const QString& name : kPictures) {
            const int colours = distinctColours(name);
            if (colours < 200) QFAIL(qPrintable(name + " has " + QString::number(colours) + " colours only"));
        }
        // demo's record as the stand-in keeps it, for the QR code's check.
        const devserver::User demoRecord = demo.record();
        const nlohmann::json expected{{"peerUUID", demoRecord.uuid},
                                      {"peerUsername", demoRecord.name},
                                      {"pubshkey", devserver::base64Encode(demoRecord.pubshkey)}};
        const QString expectedFile = picturesFolder() + "/demo-record.json";
        writeFile(expectedFile.toStdString(), expected.dump());
        QProcess check;
        check.setProcessChannelMode(QProcess::ForwardedChannels);
        check.start(QStringLiteral("python3"),
                    {QStringLiteral(QUORVEL_SOURCE_DIR "/tests/app/CheckScreenshots.py"), picturesFolder(),
                     expectedFile, QString::number(kScreenWidth), QString::number(kScreenHeight)});
        QVERIFY(check.waitForFinished(kGuardMs));
        QCOMPARE(check.exitStatus(), QProcess::NormalExit);
        QCOMPARE(check.exitCode(), 0);
    }
};

QTEST_MAIN(Screenshots)
#include "Screenshots.moc"
