#pragma once

#include <optional>
#include <string_view>

namespace ostrelcomm {

// The kinds of content a thumbnail is made of; each has its own maker. The
// names travel on the thumbnail program's command line.
// clang-format off
#define OSTRELCOMM_THUMBNAIL_KINDS(X) X(image) X(video) X(pdf)
// clang-format on

enum class ThumbnailKind {
#define OSTRELCOMM_ENUM_CASE(name) name,
    OSTRELCOMM_THUMBNAIL_KINDS(OSTRELCOMM_ENUM_CASE)
#undef OSTRELCOMM_ENUM_CASE
};

constexpr std::string_view name(ThumbnailKind kind) {
    switch (kind) {
#define OSTRELCOMM_NAME_CASE(n) \
    case ThumbnailKind::n:      \
        return #n;
        OSTRELCOMM_THUMBNAIL_KINDS(OSTRELCOMM_NAME_CASE)
#undef OSTRELCOMM_NAME_CASE
    }
    return {};
}

constexpr std::optional<ThumbnailKind> thumbnailKindNamed(std::string_view text) {
#define OSTRELCOMM_MATCH_CASE(n) \
    if (text == #n) return ThumbnailKind::n;
    OSTRELCOMM_THUMBNAIL_KINDS(OSTRELCOMM_MATCH_CASE)
#undef OSTRELCOMM_MATCH_CASE
    return std::nullopt;
}

}  // namespace ostrelcomm
