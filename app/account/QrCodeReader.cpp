#include "app/account/QrCodeReader.h"

// ZXing 1.4 gives text() as a wide string unless told otherwise; the codes'
// raw bytes are what is read here, but the choice silences its notice.
#define ZX_USE_UTF8 1
#include <ZXing/DecodeHints.h>
#include <ZXing/ReadBarcode.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <utility>

#include "platform/SerialQueue.h"

namespace quorvel {

namespace {

// A frame's grey pixels, copied out of the image it came in: the reader's
// queue never touches an image of the thread that handed it in.
struct GreyFrame {
    int width = 0;
    int height = 0;
    int bytesPerLine = 0;
    std::vector<std::uint8_t> pixels;
};

GreyFrame greyFrameOf(const QImage& image) {
    QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (grey.width() > QrCodeReader::kMaximumWidth)
        grey = grey.scaledToWidth(QrCodeReader::kMaximumWidth, Qt::SmoothTransformation);
    GreyFrame frame;
    if (grey.isNull()) return frame;
    frame.width = grey.width();
    frame.height = grey.height();
    frame.bytesPerLine = static_cast<int>(grey.bytesPerLine());
    frame.pixels.resize(static_cast<std::size_t>(grey.sizeInBytes()));
    std::memcpy(frame.pixels.data(), grey.constBits(), frame.pixels.size());
    return frame;
}

std::vector<std::string> readFrame(const GreyFrame& frame) {
    std::vector<std::string> texts;
    if (frame.width <= 0 || frame.height <= 0) return texts;
    try {
        const ZXing::ImageView view(frame.pixels.data(), frame.width, frame.height, ZXing::ImageFormat::Lum,
                                    frame.bytesPerLine);
        ZXing::DecodeHints hints;
        hints.setFormats(ZXing::BarcodeFormat::QRCode);
        for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
            if (!result.isValid()) continue;
            const ZXing::ByteArray& bytes = result.bytes();
            texts.emplace_back(bytes.begin(), bytes.end());
        }
    } catch (const std::exception&) {
        // A frame the decoder cannot take holds no code worth reporting.
        texts.clear();
    }
    return texts;
}

}  // namespace

struct QrCodeReader::State {
    explicit State(Found f) : found(std::move(f)) {}

    const Found found;
    // A frame is being read: the next ones are dropped until it is done.
    std::atomic<bool> reading{false};
    std::atomic<bool> closed{false};
    std::mutex mutex;
    // Null once the reader is gone.
    ostrelcomm::SerialQueue* queue = nullptr;

    static bool offer(const std::shared_ptr<State>& state, const QImage& image) {
        if (state->closed.load()) return false;
        bool idle = false;
        if (!state->reading.compare_exchange_strong(idle, true)) return false;
        GreyFrame frame = greyFrameOf(image);
        std::lock_guard lock(state->mutex);
        if (!state->queue) {
            state->reading.store(false);
            return false;
        }
        state->queue->async([state, frame = std::move(frame)] {
            std::vector<std::string> texts = readFrame(frame);
            if (!texts.empty() && state->found) state->found(std::move(texts));
            state->reading.store(false);
        });
        return true;
    }
};

QrCodeReader::QrCodeReader(Found found)
    : state_(std::make_shared<State>(std::move(found))),
      queue_(std::make_unique<ostrelcomm::SerialQueue>(kQueueLabel)) {
    state_->queue = queue_.get();
}

QrCodeReader::~QrCodeReader() {
    state_->closed.store(true);
    {
        std::lock_guard lock(state_->mutex);
        state_->queue = nullptr;
    }
    // Lets the frame being read end (its codes still reach `found`).
    queue_.reset();
}

bool QrCodeReader::offer(const QImage& frame) const { return State::offer(state_, frame); }

CameraProvider::FrameHandler QrCodeReader::frameHandler() const {
    return [state = state_](const QImage& frame) { State::offer(state, frame); };
}

std::vector<std::string> QrCodeReader::read(const QImage& image) { return readFrame(greyFrameOf(image)); }

}  // namespace quorvel
