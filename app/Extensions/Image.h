#pragma once

#include <QColor>
#include <QImage>
#include <QString>

#include "platform/Bytes.h"

namespace quorvel {

// A template image is a shape drawn in one colour whose opaque pixels take
// the colour of where it is shown. Images carry no such flag of their own, so
// it travels with the image as its text under kTemplateImageKey ("true"), and
// in the image files of the application's resources as that text chunk.
inline constexpr char kTemplateImageKey[] = "Template";

bool isTemplateImage(const QImage& image);
void setTemplateImage(QImage& image, bool isTemplate);

// The application's image of this name (":/images/<name>.png"); a null image
// for a name it does not have.
QImage namedImage(const QString& name);

// A template image in `tintColor`: the colour replaces the image's colour
// wherever the image is opaque, keeps its opacity, and the copy is no longer
// a template. An image that is not a template comes back as it is (the same
// image, not a copy).
QImage tintedImage(const QImage& image, const QColor& tintColor);

// The image with `badge`, tinted in `badgeColor`, over its lower right
// quarter: with w and h its size, the badge is a square of side max(w, h) / 2
// at (w / 2, h / 2), and the result grows to hold a badge that sticks out.
// Sizes are in device-independent pixels; the result keeps the image's
// device pixel ratio.
QImage addBadge(const QImage& image, const QImage& badge, const QColor& badgeColor);

// The largest thumbnail from the server that is decoded, a side.
inline constexpr int kRemoteThumbnailMaxSide = 4096;

// A thumbnail that came with a remote item: bytes another client chose. It is
// decoded only when its header tells its size and that size is at most
// kRemoteThumbnailMaxSide on each side, so a few bytes that claim a huge
// picture never make the program allocate for it; a null image when it is
// refused or does not decode.
QImage remoteThumbnailImage(ostrelcomm::ByteView bytes);

}  // namespace quorvel
