// The main view's transfers on screen against the stand-in server: a
// finished download of an own picture writes its hash and thumbnail back
// (read back with the tests' own oracle), a shared file never is, whatever
// the pane shows when it ends; malformed download reports give one alert
// each; a download into the local folder on show lists it; a folder copy
// moves the spinner; a multi-file upload fills the strip, and its end,
// abort and failure close or keep it.

#include <QBuffer>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <any>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AppTestSupport.h"
#include "RemoteRecords.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Formatters.h"
#include "app/Extensions/Localize.h"
#include "app/utils/AppNotifications.h"
#include "app/utils/Appwise.h"
#include "app/utils/CopyDirBridge.h"
#include "app/utils/RemoteTags.h"
#include "app/utils/RunOnMain.h"
#include "app/window/MainViewController.h"
#include "devserver/Fault.h"
#include "jobs/CommJobs.h"
#include "jobs/JobType.h"
#include "support/MediaFixtures.h"
#include "support/NotificationRecorder.h"
#include "tree/RemoteDirInfo.h"
#include "tree/RemoteItemMetadata.h"
#include "xfer/XferNotifications.h"

using namespace apptest;
using ostrelcomm::JobType;
using ostrelcomm::UserInfo;
using quorvel::Appwise;
using quorvel::CommTasks;
using quorvel::MainViewController;
namespace xfer = ostrelcomm::xfer;
namespace fs = std::filesystem;

namespace {

constexpr auto kGuard = std::chrono::milliseconds(kStandInGuardMs);
constexpr char kModifyExecute[] = "PUT /file/modify_execute/";
constexpr char kCommError[] = "Comm libraries error";
constexpr char kBadResult[] = "remoteFileDownload returned a bad type as 'Result'.\nOperation will be aborted.";
constexpr char kBarrier[] = "Barrier";

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }

template <class T>
T* child(const MainViewController& view, const char* name) {
    return view.findChild<T*>(QString::fromLatin1(name));
}

std::string pngPicture() {
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

fs::path writeFile(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
    return path;
}

// What sha256sum says of a file.
std::string sha256sum(const fs::path& file) {
    const auto [status, output] = testsupport::runProgram({"sha256sum", file.string()});
    if (status != 0) return "sha256sum failed";
    return std::string(output.begin(), output.end()).substr(0, 64);
}

int countOf(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

std::vector<std::string> requestLines(const StandInAccount& account) {
    return lines(testsupport::requestsOf(standIn(), account.user()));
}

std::size_t jobsOf(const ostrelcomm::SrvComm& engine, JobType type) {
    std::size_t count = 0;
    for (const auto& [id, job] : engine.queue()->getJobsList())
        if (job.jobType == type) ++count;
    return count;
}

bool hasFile(const MainViewController& view, const std::string& name) {
    if (!view.directoryItems()) return false;
    for (const auto& item : *view.directoryItems())
        if (item.url.filename() == name) return true;
    return false;
}

// A download report posted on the slow engine's own center, as its jobs
// post them.
void postDownload(Appwise& appwise, UserInfo userInfo) {
    appwise.engine(CommTasks::slowTask)->notifications()->post(xfer::kRemoteFileDownloadNotification,
                                                                 std::move(userInfo));
}

// Posts a report with a word of no meaning and waits for its alert: every
// report posted before it has been handled then.
bool handledSoFar(Appwise& appwise, const RecordingAlertPresenter& alerts) {
    postDownload(appwise, {{"Result", std::string(kBarrier)}});
    return QTest::qWaitFor(
        [&] {
            const auto shown = alerts.shown();
            return !shown.empty() && shown.back().informativeText.contains(QLatin1String(kBarrier));
        },
        kStandInGuardMs);
}

// The top of the user's tree as the browser keeps it, each item's thumbnail
// size made `thumbnailsize`.
ostrelcomm::tree::DirInfoPayload topListing(Appwise& appwise, std::uint64_t thumbnailsize) {
    const auto listing = folderListing(appwise, "root");
    if (!listing) return nullptr;
    auto copy = std::make_shared<ostrelcomm::RemoteDirInfo>(*listing);
    for (auto& item : copy->content) item.thumbnailsize = thumbnailsize;
    return copy;
}

ostrelcomm::RemoteItemMetadata someMetadata() {
    return namedMetadata("report.txt");
}

// One report of the uploader and how the view showed it right after.
struct StripShot {
    std::string result;
    std::int64_t item = 0;
    std::int64_t total = 0;
    std::int64_t bytesSent = 0;
    std::int64_t bytesToSend = 0;
    std::int64_t rate = 0;
    std::string error;
    QString progress;
    QString badge;
    int barValue = 0;
    int barMaximum = 0;
    bool stripShown = false;
};

// Follows the uploader's reports: observed on Appwise's center after the
// view's own observer, so each look is queued right behind the view's
// drawing of the same report.
class StripWatch {
public:
    StripWatch(Appwise& appwise, MainViewController& view)
        : center_(appwise.notifications()), shots_(std::make_shared<std::vector<StripShot>>()) {
        token_ = center_->addObserver(
            xfer::kMultipleLocalFileSendNotification,
            [shots = shots_, view = QPointer<MainViewController>(&view)](const ostrelcomm::Notification& n) {
                StripShot shot;
                const auto get = [&](const char* key) {
                    const auto* value = ostrelcomm::userInfoValue<std::int64_t>(n.userInfo, key);
                    return value ? *value : std::int64_t{-1};
                };
                if (const auto* result = ostrelcomm::userInfoValue<std::string>(n.userInfo, xfer::kResultKey))
                    shot.result = *result;
                if (const auto* error = ostrelcomm::userInfoValue<std::string>(n.userInfo, xfer::kErrorKey))
                    shot.error = *error;
                shot.item = get(xfer::kItemKey);
                shot.total = get(xfer::kTotalKey);
                shot.bytesSent = get(xfer::kBytesSentKey);
                shot.bytesToSend = get(xfer::kBytesToSendKey);
                shot.rate = get(xfer::kXferRateKey);
                quorvel::runOnMain([shots, view, shot]() mutable {
                    if (!view) return;
                    shot.progress = child<QLabel>(*view, "sendingFilesProgress")->text();
                    shot.badge = child<QLabel>(*view, "jobsNumber")->text();
                    const auto* bar = child<QProgressBar>(*view, "sendingFileProgressBar");
                    shot.barValue = bar->value();
                    shot.barMaximum = bar->maximum();
                    shot.stripShown = !child<QWidget>(*view, "sendingFileInfo")->isHidden();
                    shots->push_back(shot);
                });
            });
    }
    ~StripWatch() { center_->removeObserver(token_); }
    StripWatch(const StripWatch&) = delete;
    StripWatch& operator=(const StripWatch&) = delete;

    const std::vector<StripShot>& shots() const { return *shots_; }
    std::optional<StripShot> last(const std::string& result) const {
        for (auto it = shots_->rbegin(); it != shots_->rend(); ++it)
            if (it->result == result) return *it;
        return std::nullopt;
    }

private:
    std::shared_ptr<ostrelcomm::NotificationCenter> center_;
    std::shared_ptr<std::vector<StripShot>> shots_;
    ostrelcomm::NotificationCenter::Token token_{};
};

// The upload as the view starts it: the transfer flagged, the strip open,
// the files sent into the remote folder on show.
void startUpload(Appwise& appwise, MainViewController& view, const fs::path& base,
                 const std::vector<fs::path>& files) {
    appwise.setFileXferInProgress(true);
    appwise.notifications()->post(quorvel::kFileXferInProgressNotification);
    auto* strip = child<QWidget>(view, "sendingFileInfo");
    strip->setFixedHeight(80);
    strip->show();
    const auto& uploader = view.multipleLocalToRemote();
    uploader->clearSource();
    for (const auto& file : files) uploader->appendToSource(file);
    uploader->startTransfer(base, appwise.remotePath(),
                            ostrelcomm::MultipleLocalFileSend::ConflictingBehaviours::skipIfEqual);
}

// A Sending report posted by hand on Appwise's center.
UserInfo sendingReport(std::int64_t item, std::int64_t total, std::int64_t remaining, std::int64_t sent,
                       std::int64_t toSend) {
    return {{xfer::kResultKey, std::string(xfer::kSending)},
            {xfer::kBaseDestinationUUIDKey, std::string("elsewhere")},
            {xfer::kItemKey, item},
            {xfer::kTotalKey, total},
            {xfer::kRemainingTimeKey, remaining},
            {xfer::kBytesSentKey, sent},
            {xfer::kBytesToSendKey, toSend},
            {xfer::kXferRateKey, std::int64_t{2048}}};
}

}  // namespace

class MainViewTransfersTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { standIn(); }

    void init() {
        alerts = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("transfers"), alerts, Terms::accepted));
    }

    void cleanup() {
        standIn().releaseStalls();
        standIn().clearFaults();
    }

    // The user's own picture, stored without hash or thumbnail, downloaded
    // from its folder on show: one modification stores the hash of what was
    // written and a thumbnail.
    void anOwnPictureGetsItsHashAndThumbnailBack() {
        StandInAccount account("xfer-own");
        const std::string uuid = account.storeFile("picture.png", pngPicture());
        QVERIFY(!uuid.empty());
        QVERIFY(logIn(*appwise, account));
        const auto listing = folderListing(*appwise, "root");
        QVERIFY(listing && listing->content.size() == 1);
        QCOMPARE(listing->content.front().thumbnailsize, std::uint64_t{0});
        QVERIFY(!account.storedMetadata(uuid)->contains("filehash-SHA256"));

        MainViewController view;
        view.commRelatedObservers();
        appwise->setRemoteDirectoryInfo(listing);
        TemporaryFolder downloads;
        QVERIFY(downloads.isValid());
        LogCapture log;
        const auto& slow = appwise->engine(CommTasks::slowTask);
        view.recordDownloadRequest(uuid, false);
        QVERIFY(slow->fileReceive_add(uuid, downloads.path(), "picture.png"));

        QTRY_VERIFY_WITH_TIMEOUT(countOf(requestLines(account), kModifyExecute) == 1 && engineIdle(*slow),
                                 kStandInGuardMs);
        const std::string hash = sha256sum(downloads.path() / "picture.png");
        const auto stored = account.storedMetadata(uuid);
        QVERIFY(stored);
        QCOMPARE(stored->value("filehash-SHA256", std::string()), hash);
        QCOMPARE(stored->value("name", std::string()), std::string("picture.png"));
        QVERIFY(log.contains("File hash updated: " + hash));
        const auto relisted = listFolder(*appwise, "root");
        QCOMPARE(relisted.size(), std::size_t{1});
        QVERIFY(relisted.front().thumbnailsize > 0);
        QCOMPARE(countOf(requestLines(account), kModifyExecute), 1);
        QVERIFY(alerts->shown().empty());
    }

    // "Received" reports written by hand: the metadata alone is written
    // back; a listed thumbnail without metadata, or a report without
    // "uuid", sends nothing.
    void receivedReportsWriteBackOnlyWhatTheyCarry_data() {
        QTest::addColumn<std::uint64_t>("thumbnailsize");
        QTest::addColumn<bool>("withMetadata");
        QTest::addColumn<bool>("withUuid");
        QTest::addColumn<int>("modifications");
        QTest::newRow("a thumbnail, no metadata") << std::uint64_t{120} << false << true << 0;
        QTest::newRow("metadata without uuid") << std::uint64_t{0} << true << false << 0;
        QTest::newRow("metadata and a thumbnail") << std::uint64_t{120} << true << true << 1;
    }
    void receivedReportsWriteBackOnlyWhatTheyCarry() {
        QFETCH(std::uint64_t, thumbnailsize);
        QFETCH(bool, withMetadata);
        QFETCH(bool, withUuid);
        QFETCH(int, modifications);
        StandInAccount account("xfer-hand");
        QVERIFY(logIn(*appwise, account));
        const std::string uuid = account.file("report.txt");
        TemporaryFolder downloads;
        const auto file = writeFile(downloads.path() / "report.txt", "not a picture");
        MainViewController view;
        view.commRelatedObservers();
        appwise->setRemoteDirectoryInfo(topListing(*appwise, thumbnailsize));
        QVERIFY(appwise->remoteDirectoryInfo());

        xfer::RemoteFileDownloadPayload payload{{xfer::kDownloadLocalURLKey, file.string()},
                                                {xfer::kComputedFileHashKey, std::string(64, 'a')}};
        if (withUuid) payload[xfer::kUUIDKey] = uuid;
        if (withMetadata) payload[xfer::kMetadataKey] = someMetadata();
        postDownload(*appwise, {{"Result", std::string(xfer::kReceived)}, {"CustomData", payload}});
        QVERIFY(handledSoFar(*appwise, *alerts));

        const auto& slow = *appwise->engine(CommTasks::slowTask);
        QCOMPARE(jobsOf(slow, JobType::fileModify), static_cast<std::size_t>(modifications));
        QCOMPARE(alerts->shown().size(), std::size_t{1});
    }

    // A shared file asked for under the shares node and finished once the
    // user is back in an own folder is never modified.
    void aSharedFileFinishedElsewhereIsNotWrittenBack() {
        StandInAccount owner("xfer-owner");
        StandInAccount reader("xfer-reader");
        const std::string uuid = owner.storeFile("shared.txt", "words of another user");
        QVERIFY(owner.grant(uuid, reader));
        QVERIFY(logIn(*appwise, reader));
        TemporaryFolder downloads;
        appwise->setLocalPath(downloads.path());
        appwise->remotePath().append(quorvel::localize("SHARES"), quorvel::kSharesNodeUUID);
        appwise->remotePath().append(owner.user(), owner.owner());
        MainViewController view;
        view.commRelatedObservers();

        devserver::Fault held = devserver::Fault::stalled();
        held.times = 1;
        standIn().setFault("GET", "/filerecv/getblock/", held);
        const auto& slow = appwise->engine(CommTasks::slowTask);
        view.recordDownloadRequest(uuid, true);
        QVERIFY(slow->fileReceive_add(uuid, downloads.path(), "shared.txt"));
        QVERIFY(standIn().waitForStalledRequests(1, kGuard));
        // Back at the top of the own tree, the own listing on show.
        appwise->remotePath().truncatePath(0);
        QVERIFY(!appwise->remotePath().compareNode(quorvel::kSharesNodeUUID, 0));
        appwise->setRemoteDirectoryInfo(topListing(*appwise, 0));
        standIn().releaseStalls();

        // The report is handled once the file shows in the local table.
        QTRY_VERIFY_WITH_TIMEOUT(hasFile(view, "shared.txt"), kStandInGuardMs);
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*slow), kStandInGuardMs);
        QCOMPARE(jobsOf(*slow, JobType::fileModify), std::size_t{0});
        for (const auto& line : requestLines(reader)) QVERIFY2(line.find("/file/modify") == std::string::npos, line.c_str());
    }

    // Each malformed report gives one alert with its text and changes
    // nothing; the running words give none.
    void downloadReportsAndTheirAlerts_data() {
        QTest::addColumn<int>("shape");
        QTest::addColumn<QString>("alert");
        const QString badData = "remoteFileDownload returned bad 'customData'.\nOperation will be aborted.";
        const QString badURL = "remoteFileDownload returned bad 'localURL'.\nOperation will be aborted.";
        QTest::newRow("no Result") << 0 << QString(kBadResult);
        QTest::newRow("a number as Result") << 1 << QString(kBadResult);
        QTest::newRow("Weird")
            << 2 << QString("remoteFileDownload returned an unexpected 'Result': Weird.\nOperation will be aborted.");
        QTest::newRow("Received without CustomData") << 3 << badData;
        QTest::newRow("CustomData not a dictionary") << 4 << badData;
        QTest::newRow("localURL a number") << 5 << badURL;
        QTest::newRow("Downloading") << 6 << QString();
        QTest::newRow("Error") << 7 << QString();
        QTest::newRow("Aborted") << 8 << QString();
    }
    void downloadReportsAndTheirAlerts() {
        QFETCH(int, shape);
        QFETCH(QString, alert);
        TemporaryFolder downloads;
        appwise->setLocalPath(downloads.path());
        const auto file = writeFile(downloads.path() / "report.txt", "words");
        MainViewController view;
        // The listing the view made at load is not the one looked for.
        view.setLocalFiles(std::nullopt);
        view.reloadLocalFileList();
        view.commRelatedObservers();
        // Registered once, however often asked.
        view.observeRemoteFileDownload();
        xfer::RemoteFileDownloadPayload payload{{xfer::kUUIDKey, std::string("0b6ba5b5-0c1a-4a58-9d70-1b2c3d4e5f60")},
                                                {xfer::kMetadataKey, someMetadata()},
                                                {xfer::kDownloadLocalURLKey, file.string()}};
        const std::string received(xfer::kReceived);
        const std::vector<UserInfo> reports = {
            {{"CustomData", payload}},
            {{"Result", std::int64_t{7}}, {"CustomData", payload}},
            {{"Result", std::string("Weird")}, {"CustomData", payload}},
            {{"Result", received}},
            {{"Result", received}, {"CustomData", std::string("not a dictionary")}},
            {{"Result", received},
             {"CustomData", xfer::RemoteFileDownloadPayload{{xfer::kUUIDKey, payload.at(xfer::kUUIDKey)},
                                                            {xfer::kMetadataKey, someMetadata()},
                                                            {xfer::kDownloadLocalURLKey, std::int64_t{5}}}}},
            {{"Result", std::string(xfer::kDownloading)}, {"CustomData", payload}},
            {{"Result", std::string(xfer::kError)}},
            {{"Result", std::string(xfer::kAborted)}},
        };
        LogCapture log;
        postDownload(*appwise, reports.at(static_cast<std::size_t>(shape)));
        QVERIFY(handledSoFar(*appwise, *alerts));

        const auto shown = alerts->shown();
        QCOMPARE(shown.size(), std::size_t{alert.isEmpty() ? 1u : 2u});
        if (!alert.isEmpty()) {
            QCOMPARE(shown.front().messageText, QString(kCommError));
            QCOMPARE(shown.front().informativeText, alert);
            QVERIFY(shown.front().onMainThread);
        }
        QVERIFY(appwise->engine(CommTasks::slowTask)->queue()->getJobsList().empty());
        QVERIFY(!view.localFiles());
        QVERIFY(log.lines().empty());
    }

    // Only a download into the local folder on show (however its path is
    // written) lists the folder again.
    void aDownloadIntoTheFolderOnShowIsListed_data() {
        QTest::addColumn<bool>("intoFolderOnShow");
        QTest::newRow("the folder on show") << true;
        QTest::newRow("another folder") << false;
    }
    void aDownloadIntoTheFolderOnShowIsListed() {
        QFETCH(bool, intoFolderOnShow);
        StandInAccount account("xfer-local");
        const std::string uuid = account.storeFile("listed.txt", "a line to list");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder onShow;
        TemporaryFolder other;
        appwise->setLocalPath(onShow.path() / "." / "");
        MainViewController view;
        // The listing the view made at load is not the one looked for.
        view.setLocalFiles(std::nullopt);
        view.reloadLocalFileList();
        view.commRelatedObservers();
        LogCapture log;
        const fs::path destination = intoFolderOnShow ? onShow.path() : other.path();
        view.recordDownloadRequest(uuid, false);
        QVERIFY(appwise->engine(CommTasks::slowTask)->fileReceive_add(uuid, destination, "listed.txt"));

        if (intoFolderOnShow) {
            QTRY_VERIFY_WITH_TIMEOUT(hasFile(view, "listed.txt"), kStandInGuardMs);
        } else {
            // Its hash is logged before the folder is compared.
            const auto hashLogged = [&log] {
                const auto lines = log.lines();
                return std::any_of(lines.begin(), lines.end(),
                                   [](const std::string& line) { return line.starts_with("File hash updated: "); });
            };
            QTRY_VERIFY_WITH_TIMEOUT(hashLogged(), kStandInGuardMs);
            QVERIFY(!view.localFiles());
            QVERIFY(!view.directoryItems());
        }
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::slowTask)), kStandInGuardMs);
    }

    // A copy report's share, drawn on the spinner; a malformed total leaves
    // none.
    void copyReportsSetTheShare_data() {
        QTest::addColumn<qint64>("copied");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<float>("share");
        QTest::newRow("3 of 4") << qint64{3} << qint64{4} << 0.75F;
        QTest::newRow("malformed: 0 of 0") << qint64{0} << qint64{0} << -1.0F;
        QTest::newRow("a negative total") << qint64{2} << qint64{-3} << -1.0F;
    }
    void copyReportsSetTheShare() {
        QFETCH(qint64, copied);
        QFETCH(qint64, total);
        QFETCH(float, share);
        MainViewController view;
        view.commRelatedObservers();
        view.setActiveSlowJobProgress(0.5F);
        emit view.copyDirBridge().itemCopied(copied, total);
        QCOMPARE(view.activeSlowJobProgress(), share);
        const int percent = qRound(share * 100);
        auto* spinner = child<QProgressBar>(view, "progressSpinner");
        if (percent >= 0) {
            QTRY_COMPARE(spinner->value(), percent);
            QCOMPARE(spinner->maximum(), 100);
            QVERIFY(!spinner->isHidden());
        }
        emit view.copyDirBridge().copyError();
        QCOMPARE(view.activeSlowJobProgress(), -1.0F);
        QTRY_VERIFY(spinner->isHidden());
    }

    // A real copy of a folder and its three files: a quarter at each item;
    // the copy failing at its second file leaves no share.
    void aFolderCopyMovesTheSpinner_data() {
        QTest::addColumn<bool>("failing");
        QTest::newRow("whole") << false;
        QTest::newRow("failing at its second file") << true;
    }
    void aFolderCopyMovesTheSpinner() {
        QFETCH(bool, failing);
        StandInAccount account("xfer-copy");
        const std::string source = account.folder("F");
        for (const char* name : {"a", "b", "c"}) account.file(name, source);
        const std::string destination = account.folder("D");
        QVERIFY(logIn(*appwise, account));
        MainViewController view;
        view.commRelatedObservers();
        std::vector<int> shares;
        bool ended = false;
        QObject receiver;
        QObject::connect(&view.copyDirBridge(), &quorvel::CopyDirBridge::itemCopied, &receiver,
                         [&] { shares.push_back(qRound(view.activeSlowJobProgress() * 100)); });
        QObject::connect(&view.copyDirBridge(), &quorvel::CopyDirBridge::copyCompleted, &receiver,
                         [&] { ended = !failing; });
        QObject::connect(&view.copyDirBridge(), &quorvel::CopyDirBridge::copyError, &receiver,
                         [&] { ended = failing; });
        auto* spinner = child<QProgressBar>(view, "progressSpinner");
        std::vector<int> drawn;
        QObject::connect(spinner, &QProgressBar::valueChanged, &receiver, [&](int value) {
            if (spinner->maximum() == 100 && value > 0) drawn.push_back(value);
        });

        if (failing) {
            devserver::Fault held = devserver::Fault::stalled();
            held.times = 1;
            standIn().setFault("PUT", "/file/copy_execute/", held);
        }
        view.copyDirJob()->copy("F", source, destination);
        if (failing) {
            // The first file is held; the next one is refused.
            QVERIFY(standIn().waitForStalledRequests(1, kGuard));
            standIn().setFault("PUT", "/file/copy_execute/",
                               devserver::Fault::exception(500, "InjectedFault", "no copy today"));
            standIn().releaseStalls();
        }

        QTRY_VERIFY_WITH_TIMEOUT(ended, kStandInGuardMs);
        QCOMPARE(shares, failing ? (std::vector<int>{25, 50}) : (std::vector<int>{25, 50, 75, 100}));
        QCOMPARE(view.activeSlowJobProgress(), -1.0F);
        // Every share drawn was one of those, in order.
        QVERIFY(std::is_sorted(drawn.begin(), drawn.end()));
        for (const int value : drawn) QVERIFY(std::find(shares.begin(), shares.end(), value) != shares.end());
        QTRY_VERIFY(spinner->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::slowTask)), kStandInGuardMs);
    }

    // Two files of 10 and 30 bytes: the strip counts them, its bar stands
    // for the 40 bytes; the end closes the strip and lists the folder on
    // show again, once.
    void anUploadFillsAndClosesTheStrip() {
        StandInAccount account("xfer-upload");
        const std::string folder = account.folder("Up");
        QVERIFY(logIn(*appwise, account));
        appwise->remotePath().append("Up", folder);
        TemporaryFolder local;
        const auto small = writeFile(local.path() / "small.bin", std::string(10, 's'));
        const auto large = writeFile(local.path() / "large.bin", std::string(30, 'l'));
        MainViewController view;
        view.observeMultipleLocalFileSend();
        StripWatch watch(*appwise, view);
        testsupport::NotificationRecorder transfers(appwise->notifications(),
                                                    {quorvel::kFileXferInProgressNotification});
        const auto& fast = *appwise->engine(CommTasks::fastTask);
        const std::size_t listingsBefore = jobsOf(fast, JobType::getFolderInfo);
        // The folders the fast engine listed for the main window.
        std::vector<std::string> listed;
        QObject receiver;
        QObject::connect(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::queryRemoteDirectoryContent,
                         &receiver, [&](const quorvel::DirectoryContentEvent& event) {
                             if (event.source != quorvel::kMainWindowSource || !event.data || !*event.data) return;
                             const auto& informations = (*event.data)->informations;
                             listed.push_back(informations ? informations->uuid : std::string("unnamed"));
                         });

        startUpload(*appwise, view, local.path(), {small, large});
        QTRY_VERIFY_WITH_TIMEOUT(watch.last(xfer::kCompleted).has_value(), kStandInGuardMs);

        std::vector<std::int64_t> items;
        for (const auto& shot : watch.shots()) {
            if (shot.result != xfer::kSending) continue;
            if (items.empty() || items.back() != shot.item) items.push_back(shot.item);
            QCOMPARE(shot.total, std::int64_t{2});
            QCOMPARE(shot.bytesToSend, std::int64_t{40});
            QCOMPARE(shot.progress, localized("SendingMultipleFileProgress")
                                        .arg(shot.item)
                                        .arg(shot.total)
                                        .arg(quorvel::Formatters::byteCount(shot.rate)));
            QCOMPARE(shot.badge, QString::number(shot.total - shot.item + 1));
            QCOMPARE(shot.barMaximum, 1000);
            QCOMPARE(shot.barValue, static_cast<int>(shot.bytesSent * 1000 / 40));
        }
        QCOMPARE(items, (std::vector<std::int64_t>{1, 2}));

        QVERIFY(child<QWidget>(view, "sendingFileInfo")->isHidden());
        QCOMPARE(child<QLabel>(view, "sendingFileRemainingTime")->text(), localized("All files sent"));
        QVERIFY(!appwise->fileXferInProgress());
        QCOMPARE(transfers.all().size(), std::size_t{2});
        QVERIFY(child<QLabel>(view, "jobsNumber")->isHidden());
        QVERIFY(child<QProgressBar>(view, "progressSpinner")->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(fast), kStandInGuardMs);
        QCOMPARE(jobsOf(fast, JobType::getFolderInfo), listingsBefore + 1);
        QTRY_COMPARE_WITH_TIMEOUT(listed, std::vector<std::string>{folder}, kStandInGuardMs);
        QCOMPARE(account.namesIn(folder), (std::vector<std::string>{"large.bin", "small.bin"}));
    }

    // Aborted while a block is held: the strip says so and stays open for
    // its Close button.
    void anAbortedUploadKeepsTheStripOpen() {
        StandInAccount account("xfer-abort");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder local;
        const auto file = writeFile(local.path() / "held.bin", std::string(50, 'h'));
        MainViewController view;
        view.observeMultipleLocalFileSend();
        StripWatch watch(*appwise, view);
        devserver::Fault held = devserver::Fault::stalled();
        held.times = 1;
        standIn().setFault("PUT", "/filesend/store/", held);

        startUpload(*appwise, view, local.path(), {file});
        QVERIFY(standIn().waitForStalledRequests(1, kGuard));
        // What the strip's button does while the upload runs.
        view.multipleLocalToRemote()->setAbortOperation(true);
        standIn().releaseStalls();

        QTRY_VERIFY_WITH_TIMEOUT(watch.last(xfer::kAborted).has_value(), kStandInGuardMs);
        QCOMPARE(child<QLabel>(view, "sendingFileRemainingTime")->text(), localized("Aborted by user"));
        QCOMPARE(child<QPushButton>(view, "sendingFileActionButton")->text(), localized("Close"));
        QVERIFY(!child<QWidget>(view, "sendingFileInfo")->isHidden());
        QVERIFY(!appwise->fileXferInProgress());
        QVERIFY(child<QLabel>(view, "jobsNumber")->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::slowTask)), kStandInGuardMs);
    }

    // A refused upload: the strip says so and the uploader's text is logged.
    void aRefusedUploadSaysSo() {
        StandInAccount account("xfer-refused");
        QVERIFY(logIn(*appwise, account));
        TemporaryFolder local;
        const auto file = writeFile(local.path() / "refused.bin", std::string(20, 'r'));
        MainViewController view;
        view.observeMultipleLocalFileSend();
        StripWatch watch(*appwise, view);
        LogCapture log;
        standIn().setFault("PUT", "/filesend/store/",
                           devserver::Fault::exception(500, "InternalServerError", "Disk full"));

        startUpload(*appwise, view, local.path(), {file});
        QTRY_VERIFY_WITH_TIMEOUT(watch.last(xfer::kError).has_value(), kStandInGuardMs);
        const std::string error = watch.last(xfer::kError)->error;
        QVERIFY(!error.empty());
        QCOMPARE(child<QLabel>(view, "sendingFileRemainingTime")->text(), localized("Error sending files"));
        QCOMPARE(child<QPushButton>(view, "sendingFileActionButton")->text(), localized("Close"));
        QVERIFY(log.contains("Error: " + error));
        QVERIFY(!appwise->fileXferInProgress());
        QTRY_VERIFY_WITH_TIMEOUT(engineIdle(*appwise->engine(CommTasks::slowTask)), kStandInGuardMs);
    }

    // Reports posted by hand: the time left as the split words it, the
    // items still to send, and a bar that holds runs beyond 2 GiB.
    void theStripOfOneReport_data() {
        QTest::addColumn<qint64>("remaining");
        QTest::addColumn<qint64>("item");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("sent");
        QTest::addColumn<qint64>("toSend");
        QTest::addColumn<QString>("timeLeft");
        QTest::addColumn<QString>("badge");
        QTest::addColumn<int>("bar");
        constexpr qint64 GiB = qint64{1} << 30;
        QTest::newRow("3,725 s") << qint64{3725} << qint64{1} << qint64{2} << qint64{10} << qint64{40}
                                 << "1 h 2 min 5 s left" << "2" << 250;
        QTest::newRow("60 s") << qint64{60} << qint64{2} << qint64{2} << qint64{40} << qint64{40} << "1 min left"
                              << "1" << 1000;
        QTest::newRow("0 s: not measured yet") << qint64{0} << qint64{3} << qint64{10} << qint64{0} << qint64{40}
                                               << "..." << "8" << 0;
        QTest::newRow("beyond 2 GiB") << qint64{7200} << qint64{1} << qint64{1} << 3 * GiB << 6 * GiB << "2 h left"
                                      << "1" << 500;
    }
    void theStripOfOneReport() {
        QFETCH(qint64, remaining);
        QFETCH(qint64, item);
        QFETCH(qint64, total);
        QFETCH(qint64, sent);
        QFETCH(qint64, toSend);
        QFETCH(QString, timeLeft);
        QFETCH(QString, badge);
        QFETCH(int, bar);
        MainViewController view;
        view.observeMultipleLocalFileSend();
        appwise->notifications()->post(xfer::kMultipleLocalFileSendNotification,
                                       sendingReport(item, total, remaining, sent, toSend));
        auto* timeLabel = child<QLabel>(view, "sendingFileRemainingTime");
        QTRY_COMPARE(timeLabel->text(), timeLeft);
        QCOMPARE(child<QLabel>(view, "jobsNumber")->text(), badge);
        QVERIFY(!child<QLabel>(view, "jobsNumber")->isHidden());
        QCOMPARE(child<QProgressBar>(view, "sendingFileProgressBar")->value(), bar);
        QCOMPARE(child<QProgressBar>(view, "progressSpinner")->value(), bar);
        QCOMPARE(child<QPushButton>(view, "sendingFileActionButton")->text(), localized("Cancel"));
        QCOMPARE(child<QLabel>(view, "sendingFilesProgress")->text(),
                 localized("SendingMultipleFileProgress").arg(item).arg(total).arg(quorvel::Formatters::byteCount(std::int64_t{2048})));
        // No listing for a Sending report.
        QVERIFY(appwise->engine(CommTasks::fastTask)->queue()->getJobsList().empty());
    }

    // A Sending report missing a value draws nothing and says which.
    void aSendingReportMissingAValueDrawsNothing() {
        MainViewController view;
        view.observeMultipleLocalFileSend();
        LogCapture log;
        UserInfo report = sendingReport(1, 2, 5, 1, 2);
        report.erase(xfer::kBytesToSendKey);
        appwise->notifications()->post(xfer::kMultipleLocalFileSendNotification, report);
        QTRY_VERIFY(log.contains("Cannot get XferRate"));
        QCOMPARE(child<QLabel>(view, "sendingFileRemainingTime")->text(), QString());
        QVERIFY(child<QLabel>(view, "jobsNumber")->isHidden());
    }

private:
    std::shared_ptr<RecordingAlertPresenter> alerts;
    Appwise* appwise = nullptr;
};

QTEST_MAIN(MainViewTransfersTest)
#include "MainViewTransfers_test.moc"
