#pragma once

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <string>

class QWidget;

namespace quorvel {

// Where a camera looks from.
enum class CameraPosition { front, back, unspecified };

struct CameraDevice {
    std::string description;
    CameraPosition position = CameraPosition::unspecified;
};

// The machine's camera, as the account window reads QR codes with it. One
// provider per window; made, used and destroyed on the main thread.
class CameraProvider {
public:
    // Gets each frame of a running capture, as a grey image, on whatever
    // thread the camera delivers it. It may still be called for a while
    // after stop() with frames the camera had queued.
    using FrameHandler = std::function<void(const QImage& frame)>;
    // Gets the description of a failure of a running capture, on the main
    // thread.
    using ErrorHandler = std::function<void(const QString& description)>;

    virtual ~CameraProvider() = default;

    // The machine's default camera; none when it has none. Answers within a
    // bounded time.
    virtual std::optional<CameraDevice> defaultDevice() = 0;
    // Starts capturing from the default camera: the description of what went
    // wrong when it cannot, else none, and the frames go to `frames` from
    // then on until stop().
    virtual std::optional<QString> start(FrameHandler frames, ErrorHandler errors) = 0;
    // Stops a running capture; nothing when none runs.
    virtual void stop() = 0;
    // The live picture of the capture, made once inside `parent` (which owns
    // it) on the first call; the same widget on later calls.
    virtual QWidget* previewWidget(QWidget* parent) = 0;
};

// Makes the camera of each new account window.
using CameraProviderMaker = std::function<std::unique_ptr<CameraProvider>()>;

// The camera for a new window: the maker installed, or else the Qt
// Multimedia one.
std::unique_ptr<CameraProvider> makeCameraProvider();
// Installs `maker` (tests bring a fake camera; an empty maker restores the
// Qt one) and gives back the one it replaces. On the main thread.
CameraProviderMaker installCameraProviderMaker(CameraProviderMaker maker);

}  // namespace quorvel
