#pragma once

#include "platform/Bytes.h"
#include "platform/RegularFile.h"
#include "thumbnail/ThumbnailResult.h"

namespace ostrelcomm {

// The four bytes a TIFF file (classic or big) begins with.
bool isTiff(ByteView head);

// The first picture of a TIFF file through libtiff, which reads strips and
// tiles of every compression it knows, turned as its orientation tag says.
// Called by createImageThumbnail for TIFF content.
ThumbnailResult createTiffThumbnail(RegularFile file);

}  // namespace ostrelcomm
