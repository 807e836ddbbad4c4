// The "Trusts" tab of the account window against the stand-in server: the
// user's own trust code as a QR image that other readers (zbarimg, Python's
// JSON) read back, the camera found at load, codes read from a scripted
// camera's frames (QR images made by the qrencode tool) up to the trust the
// server stores, the removal of a trusted user from its context menu, and
// the Qt camera of this machine, which has none.

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "AccountWindowSupport.h"
#include "AppTestSupport.h"
#include "FakeCameraProvider.h"
#include "StandInTestSupport.h"
#include "app/Extensions/Image.h"
#include "app/Extensions/Localize.h"
#include "app/account/QrCodeReader.h"
#include "app/account/QrCodeWriter.h"
#include "app/account/QtCameraProvider.h"
#include "app/account/UserProfileViewController.h"
#include "app/utils/Appwise.h"
#include "app/utils/EngineBridge.h"
#include "app/window/SceneFactory.h"
#include "jobs/CommJobs.h"
#include "jobs/JobType.h"
#include "shares/TrustCode.h"
#include "support/EngineRequests.h"

using namespace apptest;
using quorvel::Appwise;
using quorvel::CameraPosition;
using quorvel::CommTasks;
using quorvel::UserProfileViewController;

Q_DECLARE_METATYPE(std::optional<CameraPosition>)

namespace {

constexpr int kGuardMs = kStandInGuardMs;
constexpr int kTrustsTab = 3;

// A new account on the stand-in, as the server keeps it.
devserver::User makeUser(const std::string& stem) { return StandInAccount(stem).account(); }

void drainMainQueue() {
    for (int round = 0; round < 4; ++round) QCoreApplication::sendPostedEvents();
}

QString localized(const char* key) { return QString::fromStdString(quorvel::localize(key)); }
QString qs(const std::string& text) { return QString::fromStdString(text); }

// Standard base64, by Qt.
QString base64Of(const std::vector<std::uint8_t>& bytes) {
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char*>(bytes.data()), static_cast<qsizetype>(bytes.size())).toBase64());
}

// Runs a tool of the machine and gives its standard output; the test fails
// when the tool cannot run or ends in failure.
QByteArray runTool(const QString& program, const QStringList& arguments, const QByteArray& input = {}) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(kGuardMs)) qFatal("%s did not start", qPrintable(program));
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(kGuardMs)) qFatal("%s did not end", qPrintable(program));
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        qFatal("%s failed: %s", qPrintable(program), process.readAllStandardError().constData());
    return process.readAllStandardOutput();
}

// A trust code's text as Python's JSON writes it, for the user given, as
// the user's own code; its user name left out with `withName` false.
QByteArray pythonTrustCode(const devserver::User& user, bool withName = true) {
    return runTool(QStringLiteral("python3"),
                   {QStringLiteral("-c"),
                    QStringLiteral("import json, sys\n"
                                   "code = {'peerUUID': sys.argv[1], 'peerUsername': sys.argv[2], "
                                   "'pubshkey': sys.argv[3]}\n"
                                   "if sys.argv[4] == 'no': del code['peerUsername']\n"
                                   "sys.stdout.write(json.dumps(code))"),
                    qs(user.uuid), qs(user.name), base64Of(user.pubshkey),
                    withName ? QStringLiteral("yes") : QStringLiteral("no")});
}

// `text` as a QR image drawn by the qrencode tool, at its lowest error
// correction.
QImage qrencodeImage(const QByteArray& text) {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("code.png"));
    runTool(QStringLiteral("qrencode"), {QStringLiteral("-l"), QStringLiteral("L"), QStringLiteral("-o"), file},
            text);
    QImage image(file);
    if (image.isNull()) qFatal("qrencode wrote no image");
    return image;
}

// Two images side by side, three times their size, on white in a camera's
// full-size frame (wider than what is read: read scaled down).
QImage sideBySide(const QImage& left, const QImage& right) {
    QImage frame(1920, 1080, QImage::Format_RGB32);
    frame.fill(Qt::white);
    QPainter painter(&frame);
    painter.drawImage(60, 60, left.scaled(left.size() * 3));
    painter.drawImage(120 + left.width() * 3, 60, right.scaled(right.size() * 3));
    return frame;
}

// Every pixel pure black or pure white.
bool blackOnWhiteOnly(const QImage& image) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        for (int x = 0; x < grey.width(); ++x)
            if (line[x] != 0 && line[x] != 255) return false;
    }
    return true;
}

// The pixels of an image, whatever its format and pixel ratio.
QImage premultiplied(const QImage& image) {
    QImage pixels = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    pixels.setDevicePixelRatio(1);
    return pixels;
}

// The account window, with the outlets these tests read.
struct OpenWindow : AccountWindow {
    using AccountWindow::AccountWindow;

    QPushButton* addButton() const { return outlet<QPushButton>("btnAddTrustedUser"); }
    QLabel* cameraImage() const { return outlet<QLabel>("imgCameraAvailability"); }
    QTableView* table() const { return outlet<QTableView>("tblTrustedUser"); }
    void showTab(int index) const { outlet<QTabWidget>("tabView")->setCurrentIndex(index); }
    void clickAdd() const { QTest::mouseClick(addButton(), Qt::LeftButton); }
    QStringList rows() const {
        QStringList names;
        auto* model = table()->model();
        for (int row = 0; row < model->rowCount(); ++row) names << model->data(model->index(row, 0)).toString();
        return names;
    }
    // A right click on `widget`, as the platform sends it.
    void rightClick(QWidget* widget) const {
        const QPoint position(5, 5);
        QContextMenuEvent event(QContextMenuEvent::Mouse, position, widget->mapToGlobal(position));
        QApplication::sendEvent(widget, &event);
    }
    QMenu* menu() const { return sheet->findChild<QMenu*>(QStringLiteral("trustedUserMenu")); }
    // The add button as the user sees it: idle or reading.
    bool looksIdle() const {
        return !sheet->captureInProgress() && addButton()->text() == localized("Add trusted user") &&
               !addButton()->isChecked() && !cameraImage()->isHidden();
    }
    bool looksReading() const {
        return sheet->captureInProgress() && addButton()->text() == localized("Reading...") &&
               addButton()->isChecked() && cameraImage()->isHidden();
    }
};

}  // namespace

class TrustedUsersTabTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // Before any engine makes its first HTTPS session.
        standIn();
    }

    void init() {
        presenter = std::make_shared<RecordingAlertPresenter>();
        appwise = &Appwise::installShared(makeAppwise(uniqueSuite("trusted-users"), presenter, Terms::accepted));
        fast = appwise->engine(CommTasks::fastTask).get();
        camera = std::make_shared<FakeCamera>();
        cameraInstall = std::make_unique<FakeCameraInstall>(camera);
    }

    void cleanup() {
        cameraInstall.reset();
        standIn().clearFaults();
        standIn().releaseStalls();
    }

    // The user's own code, as the window draws it (at its pixel ratio, 1
    // here) and at ratio 2: a square of 150 device-independent pixels, black
    // modules on white without a grey pixel, that zbarimg reads back to the
    // JSON object Python finds to hold exactly the user's identifier, name
    // and key as the server has them.
    void theOwnCodeReadsBackWithOtherReaders_data() {
        QTest::addColumn<qreal>("ratio");
        QTest::newRow("ratio 1, in the window") << qreal(1);
        QTest::newRow("ratio 2") << qreal(2);
    }
    void theOwnCodeReadsBackWithOtherReaders() {
        QFETCH(qreal, ratio);
        const devserver::User user = logIn("own-code");
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QImage image = w.sheet->trustCodeQRLight();
        QVERIFY(!image.isNull());
        QCOMPARE(w.sheet->devicePixelRatioF(), qreal(1));
        QCOMPARE(premultiplied(w.outlet<QLabel>("qrCodeImageView")->pixmap().toImage()), premultiplied(image));
        if (ratio != 1) {
            const auto text = ostrelcomm::TrustCode::generate(user.uuid, user.name, user.pubshkey);
            QVERIFY(text);
            const auto drawn = quorvel::QrCodeWriter::image(
                ostrelcomm::ByteView(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()), ratio);
            QVERIFY(drawn);
            image = *drawn;
        }

        QCOMPARE(image.devicePixelRatio(), ratio);
        QCOMPARE(image.size(), QSize(150, 150) * ratio);
        QVERIFY(blackOnWhiteOnly(image));
        QTemporaryDir folder;
        const QString file = folder.filePath(QStringLiteral("own.png"));
        QVERIFY(image.save(file));
        const QByteArray scanned =
            runTool(QStringLiteral("zbarimg"), {QStringLiteral("--raw"), QStringLiteral("-q"), file});
        const QByteArray fields = runTool(
            QStringLiteral("python3"),
            {QStringLiteral("-c"),
             QStringLiteral("import json, sys\n"
                            "code = json.loads(sys.stdin.read())\n"
                            "assert sorted(code) == ['peerUUID', 'peerUsername', 'pubshkey'], sorted(code)\n"
                            "print(code['peerUUID']); print(code['peerUsername']); print(code['pubshkey'])")},
            scanned);
        QCOMPARE(QString::fromUtf8(fields),
                 qs(user.uuid) + "\n" + qs(user.name) + "\n" + base64Of(user.pubshkey) + "\n");
    }

    // A name outside ASCII gives no code to draw: the image shown stays, the
    // empty one at first.
    void aNameOutsideAsciiKeepsTheImageShown() {
        const devserver::User user = logIn("accent");
        OpenWindow w;
        // Before the profile: nothing drawn yet, and nothing after.
        QVERIFY(w.sheet->trustCodeQRLight().isNull());
        w.sheet->drawTrustCodeImage(user.uuid, "Zo\xC3\xA9", user.pubshkey);
        QVERIFY(w.sheet->trustCodeQRLight().isNull());
        QVERIFY(w.outlet<QLabel>("qrCodeImageView")->pixmap().isNull());

        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        const QImage own = w.sheet->trustCodeQRLight();
        QVERIFY(!own.isNull());
        w.sheet->drawTrustCodeImage(user.uuid, "Zo\xC3\xA9", user.pubshkey);
        QCOMPARE(w.sheet->trustCodeQRLight(), own);
        QCOMPARE(premultiplied(w.outlet<QLabel>("qrCodeImageView")->pixmap().toImage()), premultiplied(own));
        const auto read = quorvel::QrCodeReader::read(own);
        QCOMPARE(read.size(), std::size_t{1});
        QCOMPARE(ostrelcomm::TrustCode(read.front()).peerUsername(), user.name);
    }

    void theCameraAtLoad_data() {
        QTest::addColumn<std::optional<CameraPosition>>("position");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("image");
        QTest::addColumn<QString>("line");
        const QString available = UserProfileViewController::kCameraAvailableImage;
        QTest::newRow("none") << std::optional<CameraPosition>() << false
                              << QString(UserProfileViewController::kCameraNotAvailableImage)
                              << QString(UserProfileViewController::kNoCameraLog);
        QTest::newRow("front") << std::optional(CameraPosition::front) << true << available
                               << QString(UserProfileViewController::kFrontCameraLog);
        QTest::newRow("back") << std::optional(CameraPosition::back) << true << available
                              << QString(UserProfileViewController::kBackCameraLog);
        QTest::newRow("unspecified") << std::optional(CameraPosition::unspecified) << true << available
                                     << QString(UserProfileViewController::kUnspecifiedCameraLog);
    }
    void theCameraAtLoad() {
        QFETCH(std::optional<CameraPosition>, position);
        QFETCH(bool, usable);
        QFETCH(QString, image);
        QFETCH(QString, line);
        logIn("camera");
        camera->device = position ? std::optional(quorvel::CameraDevice{"Fake", *position}) : std::nullopt;
        LogCapture log;
        OpenWindow w;
        QCOMPARE(w.addButton()->isEnabled(), usable);
        QCOMPARE(premultiplied(w.cameraImage()->pixmap().toImage()), premultiplied(quorvel::namedImage(image)));
        QCOMPARE(w.cameraImage()->pixmap().deviceIndependentSize(), QSizeF(24, 24));
        QVERIFY2(log.contains(line.toStdString()), qPrintable(line));
        QVERIFY(w.looksIdle());
        QCOMPARE(camera->starts, 0);
    }

    // A camera that will not start, or fails while it reads: its
    // description in the "Camera unavailable" alert, and the tab idle.
    void aCameraFailureLeavesTheTabIdle_data() {
        QTest::addColumn<bool>("atStart");
        QTest::newRow("at start") << true;
        QTest::newRow("while reading") << false;
    }
    void aCameraFailureLeavesTheTabIdle() {
        QFETCH(bool, atStart);
        logIn("camera-failure");
        const QString description = QStringLiteral("The camera is <b>busy</b>");
        if (atStart) camera->startFailure = description;
        OpenWindow w;
        w.showTab(kTrustsTab);
        w.clickAdd();
        if (!atStart) {
            QVERIFY(w.looksReading());
            camera->fail(description);
        }
        drainMainQueue();

        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), std::size_t{1});
        QCOMPARE(shown[0].messageText, localized("Camera unavailable"));
        QCOMPARE(shown[0].informativeText, description);
        QVERIFY(shown[0].icon == quorvel::AlertIcon::information);
        QCOMPARE(shown[0].window, static_cast<QWidget*>(w.sheet.data()));
        QVERIFY(w.looksIdle());
        QVERIFY(!camera->running);
        QVERIFY(w.addButton()->isEnabled());
    }

    // The add button starts reading and, pressed again, stops.
    void theAddButtonToggles() {
        logIn("toggle");
        OpenWindow w;
        w.showTab(kTrustsTab);
        QVERIFY(w.looksIdle());
        w.clickAdd();
        QVERIFY(w.looksReading());
        QVERIFY(camera->running);
        QVERIFY(w.outlet<QWidget>("fakeCameraPreview")->isVisible());
        w.clickAdd();
        QVERIFY(w.looksIdle());
        QVERIFY(!camera->running);
        // And again: each press alternates.
        w.clickAdd();
        QVERIFY(w.looksReading());
        w.clickAdd();
        QVERIFY(w.looksIdle());
        QCOMPARE(camera->starts, 2);
        QVERIFY(presenter->shown().empty());
    }

    // A code read from a frame stops the reading and is checked: another
    // user's code is offered for trust (only the name is checked), one's
    // own and unreadable texts are refused; "Ok" adds the trust on the
    // server and the list shows it, anything else sends nothing.
    void aCodeReadFromTheCamera_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("trusted");
        const QString valid = localized("ValidTrustCode");
        const QString invalid = localized("InvalidTrustCode");
        // "%1" stands for the peer's name.
        const QString offer = localized("ValidTrustCodeMsg");
        QTest::newRow("peer, Ok") << "peer" << valid << offer << 0 << true;
        QTest::newRow("peer, Cancel") << "peer" << valid << offer << 1 << false;
        QTest::newRow("peer without identifier") << "no identifier" << valid << offer << 1 << false;
        QTest::newRow("own code") << "own" << invalid << localized("TrustYourselfMsg") << 0 << false;
        QTest::newRow("a word") << "hello" << invalid << localized("InvalidTrustCodeMsg") << 0 << false;
        QTest::newRow("no name") << "no name" << invalid << localized("InvalidTrustCodeMsg") << 0 << false;
    }
    void aCodeReadFromTheCamera() {
        QFETCH(QString, kind);
        QFETCH(QString, title);
        QFETCH(QString, message);
        QFETCH(int, answer);
        QFETCH(bool, trusted);
        const devserver::User user = logIn("scan");
        const devserver::User peer = makeUser("peer");
        QByteArray text;
        if (kind == "peer") text = pythonTrustCode(peer);
        if (kind == "no identifier") {
            devserver::User unnamed = peer;
            unnamed.uuid.clear();
            text = pythonTrustCode(unnamed);
        }
        if (kind == "own") text = pythonTrustCode(user);
        if (kind == "hello") text = "hello";
        if (kind == "no name") text = pythonTrustCode(peer, false);
        const QImage frame = qrencodeImage(text);

        QSignalSpy lists(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::trustsList);
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QTRY_COMPARE_WITH_TIMEOUT(lists.count(), 1, kGuardMs);
        lists.clear();
        const std::size_t before = testsupport::requestsOf(standIn(), user.name).size();
        w.showTab(kTrustsTab);
        w.clickAdd();
        camera->handFrame(frame);
        QTRY_COMPARE_WITH_TIMEOUT(presenter->shown().size(), std::size_t{1}, kGuardMs);
        QVERIFY(w.looksIdle());
        QVERIFY(!camera->running);

        const auto shown = presenter->shown().front();
        QVERIFY(shown.question);
        QCOMPARE(shown.messageText, title);
        QCOMPARE(shown.informativeText, title == localized("ValidTrustCode") ? message.arg(qs(peer.name)) : message);
        QCOMPARE(shown.buttons, title == localized("ValidTrustCode")
                                    ? (std::vector<QString>{localized("Ok"), localized("Cancel")})
                                    : std::vector<QString>{});
        QVERIFY(shown.icon == quorvel::AlertIcon::information);
        QCOMPARE(shown.window, static_cast<QWidget*>(w.sheet.data()));

        QVERIFY(presenter->answerPending(answer));
        if (trusted) {
            QTRY_COMPARE_WITH_TIMEOUT(w.rows(), QStringList{qs(peer.name)}, kGuardMs);
            const auto stored = standIn().trusts().list(user.uuid);
            QCOMPARE(stored.size(), std::size_t{1});
            QCOMPARE(stored[0].peerUUID, peer.uuid);
            QVERIFY(stored[0].pubshkey == peer.pubshkey);
            QCOMPARE(testsupport::requestLines(requestsSince(user.name, before)),
                     (std::vector<std::string>{"PUT /trustedpeers/add/", "GET /trustedpeers/list/"}));
            QCOMPARE(w.sheet->trusts().size(), std::size_t{1});
            QCOMPARE(w.sheet->trusts()[0].peerUUID(), peer.uuid);
        } else {
            drainMainQueue();
            for (const auto& [id, job] : fast->queue()->getJobsList())
                QVERIFY(job.jobType != ostrelcomm::JobType::addTrustedUser);
            QVERIFY(requestsSince(user.name, before).empty());
            QVERIFY(standIn().trusts().list(user.uuid).empty());
            QCOMPARE(lists.count(), 0);
        }
        QCOMPARE(presenter->shown().size(), std::size_t{1});
    }

    // One full-size frame with two codes: two questions, the second only once
    // the first is answered.
    void twoCodesInOneFrameAreCheckedOneAfterTheOther() {
        logIn("two-codes");
        const devserver::User first = makeUser("first");
        const devserver::User second = makeUser("second");
        const QImage frame = sideBySide(qrencodeImage(pythonTrustCode(first)), qrencodeImage(pythonTrustCode(second)));
        OpenWindow w;
        w.showTab(kTrustsTab);
        w.clickAdd();
        camera->handFrame(frame);
        QTRY_COMPARE_WITH_TIMEOUT(presenter->shown().size(), std::size_t{1}, kGuardMs);
        drainMainQueue();
        QCOMPARE(presenter->shown().size(), std::size_t{1});
        QCOMPARE(presenter->pendingCount(), std::size_t{1});
        QVERIFY(w.looksIdle());

        QVERIFY(presenter->answerPending(1));
        QCOMPARE(presenter->shown().size(), std::size_t{2});
        QStringList named;
        for (const auto& shown : presenter->shown()) {
            QCOMPARE(shown.messageText, localized("ValidTrustCode"));
            named << shown.informativeText;
        }
        const QString offer = localized("ValidTrustCodeMsg");
        named.sort();
        QStringList expected{offer.arg(qs(first.name)), offer.arg(qs(second.name))};
        expected.sort();
        QCOMPARE(named, expected);
        QVERIFY(presenter->answerPending(1));
        drainMainQueue();
        QCOMPARE(presenter->shown().size(), std::size_t{2});
    }

    // What a capture that stopped still delivers is dropped unseen: a frame
    // handed in after the stop, one of an earlier capture while a new one
    // reads, and the codes of a frame that was being read when it stopped.
    void framesOfAStoppedCaptureAreDropped() {
        logIn("late-frames");
        const devserver::User peer = makeUser("late-peer");
        const QImage frame = qrencodeImage(pythonTrustCode(peer));
        LogCapture log;
        OpenWindow w;
        w.showTab(kTrustsTab);

        w.clickAdd();
        w.clickAdd();
        camera->handFrame(frame, 0);
        drainMainQueue();
        QVERIFY(presenter->shown().empty());

        w.clickAdd();
        QVERIFY(w.looksReading());
        camera->handFrame(frame, 0);
        drainMainQueue();
        QVERIFY(presenter->shown().empty());
        QVERIFY(w.looksReading());

        // Read while the capture stops: the stop waits for the reading, whose
        // codes then find the capture over.
        camera->handFrame(frame, 1);
        w.clickAdd();
        drainMainQueue();
        QVERIFY(presenter->shown().empty());
        QVERIFY(w.looksIdle());

        // The capture after them reads as usual.
        w.clickAdd();
        camera->handFrame(frame, 2);
        QTRY_COMPARE_WITH_TIMEOUT(presenter->shown().size(), std::size_t{1}, kGuardMs);
        for (const std::string& line : log.lines()) QVERIFY2(line.find(peer.name) == std::string::npos, line.c_str());
    }

    // A code whose key is not the peer's: the server refuses the trust, and
    // its text comes in the one communication-error alert.
    void aRefusedTrustShowsTheServersText() {
        const devserver::User user = logIn("refused");
        const devserver::User peer = makeUser("refused-peer");
        devserver::User forged = peer;
        forged.pubshkey = makeUser("other-key").pubshkey;
        const QImage frame = qrencodeImage(pythonTrustCode(forged));
        OpenWindow w;
        QTRY_VERIFY_WITH_TIMEOUT(w.filled(), kGuardMs);
        QSignalSpy creations(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::trustCreationTerminated);
        w.showTab(kTrustsTab);
        w.clickAdd();
        camera->handFrame(frame);
        QTRY_COMPARE_WITH_TIMEOUT(presenter->shown().size(), std::size_t{1}, kGuardMs);
        QVERIFY(presenter->answerPending(0));
        QTRY_COMPARE_WITH_TIMEOUT(creations.count(), 1, kGuardMs);
        drainMainQueue();

        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), std::size_t{2});
        QVERIFY(!shown[1].question);
        QCOMPARE(shown[1].messageText, QStringLiteral("Communication error"));
        QCOMPARE(shown[1].informativeText, QStringLiteral("pubshkey is not the peer's key"));
        QVERIFY(standIn().trusts().list(user.uuid).empty());
    }

    // "Remove" in the row's menu asks first; "Remove" there deletes the trust
    // by the trusted user's identifier, and the list is asked for again,
    // also when the server refuses the removal.
    void removingATrustedUser_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<bool>("refused");
        QTest::newRow("Remove") << 1 << false;
        QTest::newRow("Remove, refused") << 1 << true;
        QTest::newRow("Cancel") << 0 << false;
    }
    void removingATrustedUser() {
        QFETCH(int, answer);
        QFETCH(bool, refused);
        const devserver::User user = logIn("remove");
        const devserver::User peer = makeUser("removed-peer");
        const std::string trustUUID = "trust-" + peer.name;
        standIn().trusts().add(user.uuid, devserver::Trust{trustUUID, peer.uuid, peer.name, peer.pubshkey});
        if (refused)
            standIn().setFault("DELETE", "/trustedpeers/remove/",
                              devserver::Fault::exception(500, "InternalServerException", "Not today"));
        OpenWindow w;
        QTRY_COMPARE_WITH_TIMEOUT(w.rows(), QStringList{qs(peer.name)}, kGuardMs);
        drainMainQueue();
        const std::size_t before = testsupport::requestsOf(standIn(), user.name).size();
        QSignalSpy lists(&appwise->bridge(CommTasks::fastTask), &quorvel::EngineBridge::trustsList);

        w.showTab(kTrustsTab);
        w.table()->selectRow(0);
        w.rightClick(w.table()->viewport());
        QMenu* menu = w.menu();
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions()[0]->text(), localized("Remove"));
        menu->actions()[0]->trigger();
        menu->close();

        const auto shown = presenter->shown();
        QCOMPARE(shown.size(), std::size_t{1});
        QCOMPARE(shown[0].messageText, localized("ItemDeleteTitle"));
        QCOMPARE(shown[0].informativeText, localized("TrustDeleteMsg").arg(qs(peer.name)));
        QCOMPARE(shown[0].buttons, (std::vector<QString>{localized("Cancel"), localized("Remove")}));
        QVERIFY(shown[0].icon == quorvel::AlertIcon::information);
        QVERIFY(presenter->answerPending(answer));

        if (answer == 0) {
            drainMainQueue();
            for (const auto& [id, job] : fast->queue()->getJobsList())
                QVERIFY(job.jobType != ostrelcomm::JobType::removeTrust);
            QVERIFY(requestsSince(user.name, before).empty());
            QCOMPARE(w.rows(), QStringList{qs(peer.name)});
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(lists.count(), 1, kGuardMs);
        drainMainQueue();
        const auto requests = requestsSince(user.name, before);
        QCOMPARE(testsupport::requestLines(requests),
                 (std::vector<std::string>{"DELETE /trustedpeers/remove/", "GET /trustedpeers/list/"}));
        QCOMPARE(requests[0].values("x-sb-trusted-user-uuid"), std::vector<std::string>{peer.uuid});
        QCOMPARE(w.rows(), refused ? QStringList{qs(peer.name)} : QStringList{});
        QCOMPARE(standIn().trusts().list(user.uuid).size(), static_cast<std::size_t>(refused ? 1 : 0));
        QCOMPARE(presenter->shown().size(), std::size_t{1});
    }

    // The menu is for a selected row of the trusted users only.
    void noMenuElsewhere() {
        const devserver::User user = logIn("no-menu");
        const devserver::User peer = makeUser("menu-peer");
        standIn().trusts().add(user.uuid, devserver::Trust{"trust-" + peer.name, peer.uuid, peer.name, peer.pubshkey});
        OpenWindow w;
        QTRY_COMPARE_WITH_TIMEOUT(w.rows(), QStringList{qs(peer.name)}, kGuardMs);

        w.showTab(kTrustsTab);
        w.rightClick(w.table()->viewport());
        QVERIFY(!w.menu());

        w.table()->selectRow(0);
        w.showTab(0);
        w.rightClick(w.outlet<QLabel>("lblUsername"));
        QVERIFY(!w.menu());

        // The same click on the trusted users' tab does open it.
        w.showTab(kTrustsTab);
        w.rightClick(w.table()->viewport());
        QVERIFY(w.menu());
        w.menu()->close();
        QVERIFY(presenter->shown().empty());
    }

    // This machine has no camera: Qt's provider says so at once, the window
    // with it offers no reading, and a start says why it cannot.
    void theQtCameraOfThisMachine() {
        if (!QDir(QStringLiteral("/dev")).entryList({QStringLiteral("video*")}, QDir::System).isEmpty())
            QSKIP("This machine has a camera");
        quorvel::QtCameraProvider qtCamera;
        QVERIFY(!qtCamera.defaultDevice());
        const auto failure = qtCamera.start([](const QImage&) { QFAIL("A frame without a camera"); },
                                            [](const QString&) {});
        QVERIFY(failure);
        QVERIFY(!failure->isEmpty());
        qtCamera.stop();

        cameraInstall.reset();
        logIn("qt-camera");
        LogCapture log;
        OpenWindow w;
        QVERIFY(!w.addButton()->isEnabled());
        QVERIFY(log.contains(UserProfileViewController::kNoCameraLog));
    }

private:
    // A new account on the stand-in, logged in on both engines as the login
    // sheet leaves them, the application holding the name.
    devserver::User logIn(const std::string& stem) {
        const StandInAccount account(stem);
        if (!apptest::logIn(*appwise, account)) qFatal("%s could not log in", account.user().c_str());
        return account.account();
    }

    static std::vector<devserver::RecordedRequest> requestsSince(const std::string& user, std::size_t from) {
        auto requests = testsupport::requestsOf(standIn(), user);
        requests.erase(requests.begin(),
                       requests.begin() + static_cast<std::ptrdiff_t>(std::min(from, requests.size())));
        return requests;
    }

    std::shared_ptr<RecordingAlertPresenter> presenter;
    Appwise* appwise = nullptr;
    ostrelcomm::SrvComm* fast = nullptr;
    std::shared_ptr<FakeCamera> camera;
    std::unique_ptr<FakeCameraInstall> cameraInstall;
};

QTEST_MAIN(TrustedUsersTabTest)
#include "TrustedUsersTab_test.moc"
