#include "app/account/QtCameraProvider.h"

#include <QCamera>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>

#include <utility>

namespace quorvel {

namespace {

CameraPosition positionOf(QCameraDevice::Position position) {
    switch (position) {
        case QCameraDevice::FrontFace:
            return CameraPosition::front;
        case QCameraDevice::BackFace:
            return CameraPosition::back;
        case QCameraDevice::UnspecifiedPosition:
            break;
    }
    return CameraPosition::unspecified;
}

}  // namespace

QtCameraProvider::QtCameraProvider() : session_(std::make_unique<QMediaCaptureSession>()) {}

QtCameraProvider::~QtCameraProvider() { stop(); }

std::optional<CameraDevice> QtCameraProvider::defaultDevice() {
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    if (device.isNull()) return std::nullopt;
    return CameraDevice{device.description().toStdString(), positionOf(device.position())};
}

QVideoSink* QtCameraProvider::frameSink() {
    if (preview_) return preview_->videoSink();
    if (!ownSink_) ownSink_ = std::make_unique<QVideoSink>();
    return ownSink_.get();
}

std::optional<QString> QtCameraProvider::start(FrameHandler frames, ErrorHandler errors) {
    stop();
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    if (device.isNull()) return QCamera(device).errorString();
    camera_ = std::make_unique<QCamera>(device);
    if (camera_->error() != QCamera::NoError) {
        QString description = camera_->errorString();
        camera_.reset();
        return description;
    }
    QObject::connect(camera_.get(), &QCamera::errorOccurred, camera_.get(),
                     [errors = std::move(errors)](QCamera::Error, const QString& description) {
                         if (errors) errors(description);
                     });
    session_->setCamera(camera_.get());
    if (preview_)
        session_->setVideoOutput(preview_.data());
    else
        session_->setVideoSink(frameSink());
    // Frames arrive on the camera's own thread: they are made grey there,
    // and the handler decides whether to keep one.
    frames_ = QObject::connect(
        frameSink(), &QVideoSink::videoFrameChanged, frameSink(),
        [frames = std::move(frames)](const QVideoFrame& frame) {
            if (!frames || !frame.isValid()) return;
            const QImage image = frame.toImage().convertToFormat(QImage::Format_Grayscale8);
            if (!image.isNull()) frames(image);
        },
        Qt::DirectConnection);
    camera_->start();
    if (camera_->error() != QCamera::NoError) {
        QString description = camera_->errorString();
        stop();
        return description;
    }
    return std::nullopt;
}

void QtCameraProvider::stop() {
    QObject::disconnect(frames_);
    if (!camera_) return;
    camera_->stop();
    session_->setCamera(nullptr);
    camera_.reset();
}

QWidget* QtCameraProvider::previewWidget(QWidget* parent) {
    if (!preview_) {
        preview_ = new QVideoWidget(parent);
        preview_->setAspectRatioMode(Qt::KeepAspectRatioByExpanding);
    }
    return preview_.data();
}

}  // namespace quorvel
