#pragma once

#include <QMetaObject>
#include <QPointer>

#include <memory>
#include <optional>

#include "app/account/CameraProvider.h"

class QCamera;
class QMediaCaptureSession;
class QVideoSink;
class QVideoWidget;

namespace quorvel {

// The camera through Qt Multimedia: the default video input in a capture
// session whose frames reach the handler as grey images; the preview is a
// video widget that fills its place, cropping rather than leaving bars.
// Camera failures, at start or later, come with Qt's own description.
class QtCameraProvider final : public CameraProvider {
public:
    QtCameraProvider();
    ~QtCameraProvider() override;
    QtCameraProvider(const QtCameraProvider&) = delete;
    QtCameraProvider& operator=(const QtCameraProvider&) = delete;

    std::optional<CameraDevice> defaultDevice() override;
    std::optional<QString> start(FrameHandler frames, ErrorHandler errors) override;
    void stop() override;
    QWidget* previewWidget(QWidget* parent) override;

private:
    QVideoSink* frameSink();

    std::unique_ptr<QMediaCaptureSession> session_;
    // Where frames come from when no preview was asked for.
    std::unique_ptr<QVideoSink> ownSink_;
    QPointer<QVideoWidget> preview_;
    std::unique_ptr<QCamera> camera_;
    QMetaObject::Connection frames_;
};

}  // namespace quorvel
