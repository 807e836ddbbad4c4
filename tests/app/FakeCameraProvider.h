#pragma once

// A camera the test scripts, for the windows that read QR codes: which
// device it offers, whether it starts, and the frames it hands in.

#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "app/account/CameraProvider.h"

namespace apptest {

// What the test sets and reads, shared with the provider a window owns. On
// the main thread.
struct FakeCamera {
    std::optional<quorvel::CameraDevice> device = quorvel::CameraDevice{"Fake camera",
                                                                        quorvel::CameraPosition::front};
    // The description start() fails with; none: it starts.
    std::optional<QString> startFailure;

    int starts = 0;
    int stops = 0;
    bool running = false;
    // The handlers of every capture started, oldest first: a camera may still
    // deliver a frame it queued before its capture stopped.
    std::vector<quorvel::CameraProvider::FrameHandler> frameHandlers;
    quorvel::CameraProvider::ErrorHandler errors;

    // Hands `frame` to the handler of the capture `capture` (the latest by
    // default), from a thread of its own as a camera does, running or not.
    void handFrame(const QImage& frame, std::optional<std::size_t> capture = std::nullopt) const {
        if (frameHandlers.empty()) return;
        const auto& handler = frameHandlers.at(capture.value_or(frameHandlers.size() - 1));
        std::thread camera([&] { handler(frame); });
        camera.join();
    }
    // A failure of the running capture, as the camera reports it.
    void fail(const QString& description) const {
        if (errors) errors(description);
    }
};

class FakeCameraProvider : public quorvel::CameraProvider {
public:
    explicit FakeCameraProvider(std::shared_ptr<FakeCamera> camera) : camera_(std::move(camera)) {}

    std::optional<quorvel::CameraDevice> defaultDevice() override { return camera_->device; }
    std::optional<QString> start(FrameHandler frames, ErrorHandler errors) override {
        ++camera_->starts;
        if (camera_->startFailure) return camera_->startFailure;
        camera_->running = true;
        camera_->frameHandlers.push_back(std::move(frames));
        camera_->errors = std::move(errors);
        return std::nullopt;
    }
    void stop() override {
        ++camera_->stops;
        camera_->running = false;
    }
    QWidget* previewWidget(QWidget* parent) override {
        if (!preview_) {
            preview_ = new QWidget(parent);
            preview_->setObjectName(QStringLiteral("fakeCameraPreview"));
        }
        return preview_;
    }

private:
    std::shared_ptr<FakeCamera> camera_;
    QWidget* preview_ = nullptr;
};

// Every account window made while this lives gets `camera`.
class FakeCameraInstall {
public:
    explicit FakeCameraInstall(std::shared_ptr<FakeCamera> camera)
        : previous_(quorvel::installCameraProviderMaker(
              [camera] { return std::make_unique<FakeCameraProvider>(camera); })) {}
    ~FakeCameraInstall() { quorvel::installCameraProviderMaker(std::move(previous_)); }
    FakeCameraInstall(const FakeCameraInstall&) = delete;
    FakeCameraInstall& operator=(const FakeCameraInstall&) = delete;

private:
    quorvel::CameraProviderMaker previous_;
};

}  // namespace apptest
