#include <turbojpeg.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include "thumbnail/FfmpegLog.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {

void warmUpThumbnailMakers() {
    silenceFfmpegLog();
    // The first walk over FFmpeg's codecs runs each one's static set-up,
    // some of which (encoders' capability queries) take milliseconds.
    void* at = nullptr;
    while (av_codec_iterate(&at) != nullptr) {
    }
    at = nullptr;
    while (av_demuxer_iterate(&at) != nullptr) {
    }
    at = nullptr;
    while (av_parser_iterate(&at) != nullptr) {
    }
    tjDestroy(tjInitCompress());
    setUpPoppler();
}

}  // namespace ostrelcomm
