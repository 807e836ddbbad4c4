// PDF pages through poppler's core, whose renderer can draw a page's media
// box (poppler's C++ wrapper draws only the crop box).

#include <Error.h>
#include <GlobalParams.h>
#include <PDFDoc.h>
#include <Page.h>
#include <SplashOutputDev.h>
#include <Stream.h>
#include <fcntl.h>
#include <goo/gfile.h>
#include <splash/SplashBitmap.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/RegularFile.h"
#include "thumbnail/ThumbnailImage.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {

namespace {

// The rendered page as packed RGB.
std::optional<ThumbnailImage> pictureOf(SplashBitmap* bitmap) {
    if (bitmap == nullptr || bitmap->getMode() != splashModeRGB8) return std::nullopt;
    const ImageSize size{bitmap->getWidth(), bitmap->getHeight()};
    if (!withinPictureLimits(size.width, size.height)) return std::nullopt;
    const auto rowBytes = static_cast<std::size_t>(size.width) * 3;
    Bytes rgb(rowBytes * static_cast<std::size_t>(size.height));
    const SplashColorPtr data = bitmap->getDataPtr();
    const int rowSize = bitmap->getRowSize();
    if (data == nullptr || rowSize < static_cast<int>(rowBytes)) return std::nullopt;
    for (int y = 0; y < size.height; ++y) {
        std::memcpy(rgb.data() + rowBytes * static_cast<std::size_t>(y),
                    data + static_cast<std::ptrdiff_t>(rowSize) * y, rowBytes);
    }
    return ThumbnailImage::make(size, rgb);
}

}  // namespace

// poppler's settings are one object for the process; its reports about
// damaged objects are no event for the user.
void setUpPoppler() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!globalParams) globalParams = std::make_unique<GlobalParams>();
        setErrorCallback([](ErrorCategory, Goffset, const char*) {});
    });
}

ThumbnailResult createPDFThumbnail(RegularFile file) {
    setUpPoppler();
    // poppler reads through a descriptor of its own, which it closes.
    const int own = ::fcntl(file.descriptor(), F_DUPFD_CLOEXEC, 0);
    if (own < 0) return {};
    const std::unique_ptr<GooFile> input = GooFile::open(own);
    if (!input) {
        ::close(own);
        return {};
    }
    // The document owns its stream; the stream reads the file above, which
    // outlives the document.
    auto document = std::make_unique<PDFDoc>(new FileStream(input.get(), 0, false, input->size(), Object(objNull)));
    if (!document->isOk() || document->getNumPages() < 1) return {};
    Page* page = document->getPage(1);
    if (page == nullptr) return {};

    // The media box, turned by the page's own rotation.
    const PDFRectangle* box = page->getMediaBox();
    const bool sideways = page->getRotate() == 90 || page->getRotate() == 270;
    const double boxWidth = box->x2 - box->x1;
    const double boxHeight = box->y2 - box->y1;
    const double width = sideways ? boxHeight : boxWidth;
    const double height = sideways ? boxWidth : boxHeight;
    const auto fitted = fittedSize(width, height, kPageThumbnailBox);
    if (!fitted) return {};

    SplashColor paper{255, 255, 255};
    SplashOutputDev renderer(splashModeRGB8, 4, false, paper);
    renderer.setFontAntialias(true);
    renderer.setVectorAntialias(true);
    renderer.startDoc(document.get());
    const double resolution = 72.0 * std::min(kPageThumbnailBox / width, kPageThumbnailBox / height);
    document->displayPageSlice(&renderer, 1, resolution, resolution, 0, true, false, false, -1, -1, -1, -1);
    auto picture = pictureOf(renderer.getBitmap());
    // The renderer rounds the page's sides its own way; the box decides.
    if (picture && !(picture->size() == *fitted)) picture = picture->copy(*fitted);
    if (!picture) return {};
    return ThumbnailResult::fromJpeg(picture->jpegData(kThumbnailJpegQuality));
}

ThumbnailResult createPDFThumbnail(const std::filesystem::path& url) {
    auto file = RegularFile::open(url);
    if (!file) return {};
    return createPDFThumbnail(std::move(*file));
}

}  // namespace ostrelcomm
