#include "app/account/CameraProvider.h"

#include <utility>

#include "app/account/QtCameraProvider.h"

namespace quorvel {

namespace {

CameraProviderMaker& installedMaker() {
    static CameraProviderMaker maker;
    return maker;
}

}  // namespace

std::unique_ptr<CameraProvider> makeCameraProvider() {
    if (const CameraProviderMaker& maker = installedMaker()) return maker();
    return std::make_unique<QtCameraProvider>();
}

CameraProviderMaker installCameraProviderMaker(CameraProviderMaker maker) {
    return std::exchange(installedMaker(), std::move(maker));
}

}  // namespace quorvel
