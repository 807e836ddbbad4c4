// The QR code reader of the camera's frames: what it reads in an image, one
// frame at a time on its own queue with the frames that come meanwhile
// dropped, and frames handed in from several threads, also after the reader
// is gone. Runs under ThreadSanitizer: no widget, and no image crosses a
// thread.

#include <QImage>
#include <QPainter>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/account/QrCodeReader.h"
#include "app/account/QrCodeWriter.h"
#include "support/WorkerGate.h"

using quorvel::QrCodeReader;

Q_DECLARE_METATYPE(std::vector<std::string>)

namespace {

// `text` as a QR image of 150 pixels.
QImage codeOf(const std::string& text) {
    const auto image = quorvel::QrCodeWriter::image(
        ostrelcomm::ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), 1);
    if (!image) qFatal("No QR code for %s", text.c_str());
    return *image;
}

// The images on white, left to right, in a frame of `width` pixels or more,
// in `format`. Frames stay small (Qt converts an image of more than 128 KiB
// on its own thread pool, whose hand-overs ThreadSanitizer cannot follow);
// the camera test reads a full-size frame.
QImage frameOf(const std::vector<QImage>& images, int width = 0, QImage::Format format = QImage::Format_RGB32) {
    int used = 10;
    int height = 0;
    for (const QImage& image : images) {
        used += image.width() + 10;
        height = std::max(height, image.height());
    }
    QImage frame(std::max(width, used), height + 20, format);
    frame.fill(Qt::white);
    QPainter painter(&frame);
    int x = 10;
    for (const QImage& image : images) {
        painter.drawImage(x, 10, image);
        x += image.width() + 10;
    }
    return frame;
}

// What a reader found, for a test thread to wait on.
class Findings {
public:
    void add(std::vector<std::string> texts) {
        std::lock_guard lock(mutex_);
        found_.push_back(std::move(texts));
        changed_.notify_all();
    }
    bool waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return found_.size() >= count; });
    }
    std::vector<std::vector<std::string>> all() const {
        std::lock_guard lock(mutex_);
        return found_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::string>> found_;
};

// Hands `frame` in until the reader takes it: it takes one as soon as the
// frame before is done.
bool offerUntilTaken(QrCodeReader& reader, const QImage& frame) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!reader.offer(frame)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace

class QrCodeReaderTest : public QObject {
    Q_OBJECT

private slots:
    void whatAnImageHolds_data() {
        QTest::addColumn<QImage>("image");
        QTest::addColumn<std::vector<std::string>>("texts");
        const std::string code = R"({"peerUUID":"u","peerUsername":"n","pubshkey":"AAAA"})";
        QTest::newRow("a code alone") << codeOf(code) << std::vector<std::string>{code};
        QTest::newRow("in colour") << frameOf({codeOf(code)}) << std::vector<std::string>{code};
        QTest::newRow("grey") << frameOf({codeOf(code)}, 0, QImage::Format_Grayscale8)
                              << std::vector<std::string>{code};
        QTest::newRow("two codes") << frameOf({codeOf("first"), codeOf("second")}, 0, QImage::Format_Grayscale8)
                                   << std::vector<std::string>{"first", "second"};
        QTest::newRow("raw bytes") << codeOf("caf\xC3\xA9 \xFF") << std::vector<std::string>{"caf\xC3\xA9 \xFF"};
        QTest::newRow("no code") << frameOf({}, 300) << std::vector<std::string>{};
        QTest::newRow("no image") << QImage() << std::vector<std::string>{};
    }
    void whatAnImageHolds() {
        QFETCH(QImage, image);
        QFETCH(std::vector<std::string>, texts);
        std::vector<std::string> read = QrCodeReader::read(image);
        std::sort(read.begin(), read.end());
        QCOMPARE(read, texts);
    }

    // A frame that comes while one is read is dropped; once that one is
    // done, the next is read. A frame without a code frees the reader too.
    void oneFrameAtATime() {
        testsupport::WorkerGate gate;
        Findings findings;
        std::atomic<int> calls{0};
        QrCodeReader reader([&](std::vector<std::string> texts) {
            if (++calls == 1) gate.arriveAndWait();
            findings.add(std::move(texts));
        });
        // A failed check leaves before the gate opens: the reader waits for it.
        const auto release = qScopeGuard([&] { gate.open(); });
        const QImage first = codeOf("first");
        const QImage dropped = codeOf("dropped");
        const QImage blank = frameOf({}, 200);
        const QImage last = codeOf("last");

        QVERIFY(reader.offer(first));
        QVERIFY(gate.waitForArrivals(1));
        QVERIFY(!reader.offer(dropped));
        gate.open();
        QVERIFY(offerUntilTaken(reader, blank));
        QVERIFY(offerUntilTaken(reader, last));
        QVERIFY(findings.waitFor(2));
        QCOMPARE(findings.all(), (std::vector<std::vector<std::string>>{{"first"}, {"last"}}));
    }

    // Going while a frame is read: the reader waits for it, whose codes
    // still come once; frames handed in afterwards are dropped.
    void goingWhileAFrameIsRead() {
        testsupport::WorkerGate gate;
        Findings findings;
        auto reader = std::make_unique<QrCodeReader>([&](std::vector<std::string> texts) {
            gate.arriveAndWait();
            findings.add(std::move(texts));
        });
        const auto release = qScopeGuard([&] { gate.open(); });
        const auto handler = reader->frameHandler();
        handler(codeOf("read"));
        QVERIFY(gate.waitForArrivals(1));
        std::thread going([&] { reader.reset(); });
        gate.open();
        going.join();
        QCOMPARE(findings.all(), (std::vector<std::vector<std::string>>{{"read"}}));

        handler(codeOf("late"));
        QCOMPARE(findings.all().size(), std::size_t{1});
    }

    // Cameras hand frames in from threads of their own: each frame is read
    // or dropped whole.
    void framesFromSeveralThreads() {
        Findings findings;
        QrCodeReader reader([&](std::vector<std::string> texts) { findings.add(std::move(texts)); });
        const auto handler = reader.frameHandler();
        std::vector<std::thread> cameras;
        for (int camera = 0; camera < 4; ++camera) {
            cameras.emplace_back([&handler, camera] {
                const QImage frame = codeOf("camera " + std::to_string(camera));
                for (int i = 0; i < 25; ++i) handler(frame);
            });
        }
        for (auto& camera : cameras) camera.join();
        QVERIFY(findings.waitFor(1));
        for (const auto& texts : findings.all()) {
            QCOMPARE(texts.size(), std::size_t{1});
            QVERIFY2(texts[0].rfind("camera ", 0) == 0, texts[0].c_str());
        }
    }
};

QTEST_GUILESS_MAIN(QrCodeReaderTest)
#include "QrCodeReader_test.moc"
