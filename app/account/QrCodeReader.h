#pragma once

#include <QImage>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/account/CameraProvider.h"

namespace ostrelcomm {
class SerialQueue;
}

namespace quorvel {

// Reads the QR codes of camera frames, one frame at a time, on a serial
// queue of its own (kQueueLabel), off the thread that hands the frames in: a
// frame that comes while another is read is dropped, so a slow reading never
// piles frames up. A frame wider than kMaximumWidth is read scaled down to it.
//
// Made and destroyed on one thread (the main one); its frame handler may be
// called from any thread, also after the reader is gone (the frame is then
// dropped). Frames are never kept beyond their reading, nor logged.
class QrCodeReader {
public:
    static constexpr char kQueueLabel[] = "qrCodeCameraQueue";
    static constexpr int kMaximumWidth = 1280;

    // The texts of the codes of one frame (never none), in the order they
    // were found, as the raw bytes each code holds; called on the reader's
    // queue.
    using Found = std::function<void(std::vector<std::string> texts)>;

    explicit QrCodeReader(Found found);
    // Frames handed in from then on are dropped; waits for the frame being
    // read, if any.
    ~QrCodeReader();
    QrCodeReader(const QrCodeReader&) = delete;
    QrCodeReader& operator=(const QrCodeReader&) = delete;

    // Hands a frame in, from any thread: true when it is taken to be read,
    // false when it is dropped (a frame is being read, or the reader is
    // going).
    bool offer(const QImage& frame) const;
    // What a camera gives its frames to: offer(), for as long as the reader
    // lives, and a drop afterwards.
    CameraProvider::FrameHandler frameHandler() const;

    // The texts of the QR codes in `image`, read at once on the calling
    // thread, as a frame is read.
    static std::vector<std::string> read(const QImage& image);

private:
    struct State;

    std::shared_ptr<State> state_;
    std::unique_ptr<ostrelcomm::SerialQueue> queue_;
};

}  // namespace quorvel
