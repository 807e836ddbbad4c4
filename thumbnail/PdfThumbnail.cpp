// PDF pages through poppler.

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "thumbnail/RegularFile.h"
#include "thumbnail/ThumbnailImage.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {

namespace {

// poppler reports every damaged object on standard error; a document that
// gives no thumbnail is no event for the user.
void silencePoppler() {
    static std::once_flag once;
    std::call_once(
        once, [] { poppler::set_debug_error_function([](const std::string&, void*) {}, nullptr); });
}

// The rendered page as RGB, straight from poppler's 32-bit pixels.
std::optional<ThumbnailImage> pictureOf(const poppler::image& rendered) {
    if (!rendered.is_valid() || rendered.format() != poppler::image::format_argb32) {
        return std::nullopt;
    }
    const ImageSize size{rendered.width(), rendered.height()};
    if (!withinPictureLimits(size.width, size.height)) return std::nullopt;
    const auto width = static_cast<std::size_t>(size.width);
    Bytes rgb(width * static_cast<std::size_t>(size.height) * 3);
    std::uint8_t* out = rgb.data();
    for (int y = 0; y < size.height; ++y) {
        const char* in =
            rendered.const_data() + static_cast<std::ptrdiff_t>(rendered.bytes_per_row()) * y;
        for (std::size_t x = 0; x < width; ++x, in += 4) {
            std::uint32_t argb = 0;
            std::memcpy(&argb, in, sizeof argb);
            *out++ = static_cast<std::uint8_t>(argb >> 16);
            *out++ = static_cast<std::uint8_t>(argb >> 8);
            *out++ = static_cast<std::uint8_t>(argb);
        }
    }
    return ThumbnailImage::make(size, rgb);
}

}  // namespace

ThumbnailResult createPDFThumbnail(const std::filesystem::path& url) {
    silencePoppler();
    const auto file = RegularFile::open(url);
    if (!file) return {};
    std::unique_ptr<poppler::document> document(
        poppler::document::load_from_file(file->reopenPath().string()));
    if (!document || document->is_locked() || document->pages() < 1) return {};
    std::unique_ptr<poppler::page> page(document->create_page(0));
    if (!page) return {};

    // The renderer draws the crop box (the media box unless the document
    // trims it), turned by the page's own rotation.
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    const bool sideways = page->orientation() == poppler::page::landscape ||
                          page->orientation() == poppler::page::seascape;
    const double width = sideways ? box.height() : box.width();
    const double height = sideways ? box.width() : box.height();
    const auto fitted = fittedSize(width, height, kPageThumbnailBox);
    if (!fitted) return {};

    poppler::page_renderer renderer;
    renderer.set_paper_color(0xffffffff);
    renderer.set_image_format(poppler::image::format_argb32);
    renderer.set_render_hint(poppler::page_renderer::antialiasing);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
    const double resolution =
        72.0 * std::min(kPageThumbnailBox / width, kPageThumbnailBox / height);
    auto picture = pictureOf(renderer.render_page(page.get(), resolution, resolution));
    // The renderer rounds the page's sides its own way; the box decides.
    if (picture && !(picture->size() == *fitted)) picture = picture->copy(*fitted);
    if (!picture) return {};
    return ThumbnailResult::fromJpeg(picture->jpegData(kThumbnailJpegQuality));
}

}  // namespace ostrelcomm
