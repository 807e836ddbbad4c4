// Pictures and video frames through FFmpeg (TIFF pictures through libtiff).
// The file is read through our own descriptor, and the demuxer may open
// nothing else: a playlist or a reference inside hostile content cannot reach
// other files or the network.

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include "platform/SystemLog.h"
#include "platform/RegularFile.h"
#include "thumbnail/FfmpegLog.h"
#include "thumbnail/PngChunkLimits.h"
#include "thumbnail/TiffThumbnail.h"
#include "thumbnail/ThumbnailImage.h"
#include "thumbnail/ThumbnailMakers.h"

namespace ostrelcomm {

namespace {

constexpr int kIoBufferSize = 64 * 1024;
// Packets read before giving up on a first frame: enough for a stream cut in
// the middle of a group of pictures, bounded for one that never decodes.
constexpr int kMaxPacketsRead = 4096;
constexpr std::size_t kRowAlignment = 64;

std::string ffmpegError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The file under FFmpeg's reads, with what is left of the input allowed.
struct InputFile {
    RegularFile file;
    std::int64_t unread = kMaxMediaInputBytes;
    bool overrun = false;
};

int readFile(void* opaque, std::uint8_t* buffer, int size) {
    auto* input = static_cast<InputFile*>(opaque);
    if (input->unread <= 0) {
        // An error, not the end: at the end a demuxer hands over what it has
        // gathered as if it were whole.
        input->overrun = true;
        return AVERROR(EFBIG);
    }
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(size, input->unread));
    for (;;) {
        const ssize_t got = ::read(input->file.descriptor(), buffer, wanted);
        if (got > 0) {
            input->unread -= got;
            return static_cast<int>(got);
        }
        if (got == 0) return AVERROR_EOF;
        if (errno != EINTR) return AVERROR(errno);
    }
}

std::int64_t seekFile(void* opaque, std::int64_t offset, int whence) {
    auto* input = static_cast<InputFile*>(opaque);
    if (whence & AVSEEK_SIZE) {
        const std::int64_t size = input->file.size();
        return size < 0 ? AVERROR(EIO) : size;
    }
    const off_t position = ::lseek(input->file.descriptor(), offset, whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : position;
}

int refuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
    return AVERROR(EPERM);
}

// Where the decoder asks for a picture buffer: a size beyond the limits is
// refused before any pixel memory is taken.
int limitedBuffer(AVCodecContext* decoder, AVFrame* frame, int flags) {
    if (!withinPictureLimits(frame->width, frame->height)) {
        *static_cast<bool*>(decoder->opaque) = true;
        return AVERROR(ERANGE);
    }
    return avcodec_default_get_buffer2(decoder, frame, flags);
}

struct FrameFree {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct DecoderFree {
    void operator()(AVCodecContext* decoder) const { avcodec_free_context(&decoder); }
};
struct SwsFree {
    void operator()(SwsContext* context) const { sws_freeContext(context); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameFree>;

// One opened media file: our descriptor under FFmpeg's demuxer.
class MediaInput {
  public:
    explicit MediaInput(RegularFile file) : input_{std::move(file)} {}
    ~MediaInput() {
        avformat_close_input(&format_);
        if (io_ != nullptr) {
            av_freep(&io_->buffer);
            avio_context_free(&io_);
        }
    }
    MediaInput(const MediaInput&) = delete;
    MediaInput& operator=(const MediaInput&) = delete;

    // 0 or an FFmpeg error code.
    int open() {
        if (!input_.file.rewind()) return AVERROR(EIO);
        auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
        if (buffer == nullptr) return AVERROR(ENOMEM);
        io_ = avio_alloc_context(buffer, kIoBufferSize, 0, &input_, readFile, nullptr, seekFile);
        if (io_ == nullptr) {
            av_free(buffer);
            return AVERROR(ENOMEM);
        }
        format_ = avformat_alloc_context();
        if (format_ == nullptr) return AVERROR(ENOMEM);
        format_->pb = io_;
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;
        format_->io_open = refuseNestedOpen;
        // On failure the context is freed and the pointer cleared; the I/O
        // context stays ours.
        return avformat_open_input(&format_, nullptr, nullptr, nullptr);
    }

    AVFormatContext* format() const { return format_; }
    // True once FFmpeg asked for more than one thumbnail may read.
    bool overrun() const { return input_.overrun; }

  private:
    InputFile input_;
    AVIOContext* io_ = nullptr;
    AVFormatContext* format_ = nullptr;
};

// The first video stream that has a decoder, cover pictures aside; -1 when
// there is none yet (some containers announce their streams as they go).
int firstVideoStream(const AVFormatContext& format) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* stream = format.streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) == 0 &&
            avcodec_find_decoder(stream->codecpar->codec_id) != nullptr) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// A side the container gives beyond the limits; an unknown side (0) passes.
bool declaredTooLarge(const AVCodecParameters& parameters) {
    const std::int64_t width = parameters.width > 0 ? parameters.width : 1;
    const std::int64_t height = parameters.height > 0 ? parameters.height : 1;
    return !withinPictureLimits(width, height);
}

// Clockwise quarter turns that show the stream upright, from its display
// matrix; angles that are no multiple of 90 degrees are not applied.
int uprightQuarterTurns(const AVStream& stream) {
    std::size_t size = 0;
    const std::uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (matrix == nullptr || size < 9 * sizeof(std::int32_t)) return 0;
    std::int32_t values[9];
    std::memcpy(values, matrix, sizeof values);
    // The matrix gives the counter-clockwise angle of the picture as stored.
    const double clockwise = -av_display_rotation_get(values);
    if (!std::isfinite(clockwise)) return 0;
    const double turns = clockwise / 90.0;
    const double nearest = std::round(turns);
    if (std::fabs(turns - nearest) * 90.0 > 1.0) return 0;
    return ((static_cast<int>(nearest) % 4) + 4) % 4;
}

// How a still picture is to be shown, from its EXIF orientation (1 to 8),
// which FFmpeg's JPEG decoder hands over with the frame.
Orientation pictureOrientation(const AVFrame& frame) {
    const AVDictionaryEntry* entry = av_dict_get(frame.metadata, "Orientation", nullptr, 0);
    if (entry == nullptr || entry->value == nullptr) return {};
    // A number, right-aligned with blanks.
    std::string_view value(entry->value);
    while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
    if (value.size() != 1 || value[0] < '1' || value[0] > '8') return {};
    return Orientation::fromExif(value[0] - '0');
}

// The size a JPEG's frame header claims, from the start of its bytes;
// nothing before a frame header is found.
std::optional<ImageSize> jpegFrameSize(ByteView bytes) {
    if (bytes.size() < 4 || bytes[0] != 0xff || bytes[1] != 0xd8) return std::nullopt;
    std::size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (bytes[at] != 0xff) return std::nullopt;
        const std::uint8_t marker = bytes[at + 1];
        if (marker == 0xff) {  // fill byte
            ++at;
            continue;
        }
        const std::size_t length = (std::size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        if (length < 2) return std::nullopt;
        const bool frameHeader = marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 &&
                                 marker != 0xcc;
        if (frameHeader) {
            if (length < 7 || at + 9 > bytes.size()) return std::nullopt;
            return ImageSize{(bytes[at + 7] << 8) | bytes[at + 8], (bytes[at + 5] << 8) | bytes[at + 6]};
        }
        if (marker == 0xda || marker == 0xd9) return std::nullopt;  // scan or end before a frame header
        at += 2 + length;
    }
    return std::nullopt;
}

// JPEG's decoder can give the picture at a half, a quarter or an eighth of
// its size straight from the compressed data, which saves nearly all of the
// work and memory of a large photograph. The largest reduction that still
// leaves both sides at least as large as the thumbnail's.
int jpegReduction(ImageSize claimed) {
    const auto fitted = fittedSize(claimed.width, claimed.height, kThumbnailBox);
    if (!fitted) return 0;
    int shift = 0;
    while (shift < 3 && (claimed.width >> (shift + 1)) >= std::max(fitted->width, fitted->height) &&
           (claimed.height >> (shift + 1)) >= std::max(fitted->width, fitted->height)) {
        ++shift;
    }
    return shift;
}

struct FirstFrame {
    FramePtr frame;
    Orientation orientation;
    std::string failure;  // why there is no frame
};

FirstFrame failed(std::string why) {
    FirstFrame result;
    result.failure = std::move(why);
    return result;
}

std::unique_ptr<AVCodecContext, DecoderFree> openDecoder(const AVStream& stream, bool* tooLarge) {
    const AVCodec* codec = avcodec_find_decoder(stream.codecpar->codec_id);
    std::unique_ptr<AVCodecContext, DecoderFree> decoder(avcodec_alloc_context3(codec));
    if (!decoder || avcodec_parameters_to_context(decoder.get(), stream.codecpar) < 0) return {};
    decoder->thread_count = 1;
    decoder->max_pixels = kMaxPicturePixels;
    decoder->pkt_timebase = stream.time_base;
    decoder->get_buffer2 = limitedBuffer;
    decoder->opaque = tooLarge;
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return {};
    return decoder;
}

// Demuxes until the first video stream yields one frame; nothing past it is
// decoded. A still picture is turned as its EXIF orientation says, a video
// frame as its track's display matrix says.
FirstFrame decodeFirstFrame(RegularFile file, bool still) {
    silenceFfmpegLog();
    MediaInput input(std::move(file));
    const char* const kOverrun = "the file is larger than a thumbnail may read";
    if (const int code = input.open(); code < 0) {
        if (input.overrun()) return failed(kOverrun);
        return failed("the file cannot be read as media (" + ffmpegError(code) + ")");
    }
    AVFormatContext* format = input.format();

    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    if (!packet || !frame) return failed("out of memory");

    const char* const kTooLarge = "the picture is larger than the thumbnail limits";
    int streamIndex = -1;
    bool tooLarge = false;
    std::unique_ptr<AVCodecContext, DecoderFree> decoder;
    int lastError = AVERROR_EOF;

    auto receive = [&]() -> bool {
        const int code = avcodec_receive_frame(decoder.get(), frame.get());
        if (code == 0) return true;
        if (code != AVERROR(EAGAIN) && code != AVERROR_EOF) lastError = code;
        return false;
    };
    auto finish = [&]() {
        FirstFrame result;
        result.orientation = still ? pictureOrientation(*frame)
                                   : Orientation{false, uprightQuarterTurns(*format->streams[streamIndex])};
        result.frame = std::move(frame);
        return result;
    };

    for (int read = 0; read < kMaxPacketsRead; ++read) {
        const int code = av_read_frame(format, packet.get());
        if (input.overrun()) return failed(kOverrun);
        if (code < 0) {
            if (code != AVERROR_EOF) lastError = code;
            break;
        }
        std::unique_ptr<AVPacket, decltype(&av_packet_unref)> unref(packet.get(), av_packet_unref);
        if (streamIndex < 0) {
            streamIndex = firstVideoStream(*format);
            if (streamIndex < 0) continue;
            const AVStream& stream = *format->streams[streamIndex];
            if (declaredTooLarge(*stream.codecpar)) return failed(kTooLarge);
            decoder = openDecoder(stream, &tooLarge);
            if (!decoder) return failed("the video track cannot be decoded");
            for (unsigned i = 0; i < format->nb_streams; ++i) {
                if (static_cast<int>(i) != streamIndex) format->streams[i]->discard = AVDISCARD_ALL;
            }
        }
        if (packet->stream_index != streamIndex) continue;
        if (still && decoder->codec_id == AV_CODEC_ID_MJPEG && decoder->frame_number == 0) {
            if (const auto claimed = jpegFrameSize(ByteView(packet->data, static_cast<std::size_t>(packet->size)))) {
                if (!withinPictureLimits(claimed->width, claimed->height)) return failed(kTooLarge);
                decoder->lowres = jpegReduction(*claimed);
            }
        }
        const int sent = avcodec_send_packet(decoder.get(), packet.get());
        if (tooLarge) return failed(kTooLarge);
        if (sent < 0 && sent != AVERROR(EAGAIN)) {
            lastError = sent;  // a damaged packet; a later one may decode
            continue;
        }
        if (receive()) return finish();
        if (tooLarge) return failed(kTooLarge);
    }
    if (!decoder) return failed("the file holds no video track");
    // Frames the decoder still holds back (reordering, a single picture).
    if (avcodec_send_packet(decoder.get(), nullptr) >= 0 && receive()) return finish();
    if (tooLarge) return failed(kTooLarge);
    if (lastError == AVERROR_EOF) return failed("no frame could be decoded");
    return failed("no frame could be decoded (" + ffmpegError(lastError) + ")");
}

// The frame redrawn at the given size as RGB; transparent parts lie on white.
std::optional<ThumbnailImage> copyFrame(const AVFrame& frame, ImageSize size) {
    if (!withinPictureLimits(frame.width, frame.height)) return std::nullopt;
    std::unique_ptr<SwsContext, SwsFree> scaler(sws_getContext(
        frame.width, frame.height, static_cast<AVPixelFormat>(frame.format), size.width,
        size.height, AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
        nullptr, nullptr));
    if (!scaler) return std::nullopt;

    int* inverse = nullptr;
    int* table = nullptr;
    int sourceRange = 0;
    int targetRange = 0;
    int brightness = 0;
    int contrast = 0;
    int saturation = 0;
    if (sws_getColorspaceDetails(scaler.get(), &inverse, &sourceRange, &table, &targetRange,
                                 &brightness, &contrast, &saturation) >= 0) {
        const int* matrix = inverse;
        if (frame.colorspace != AVCOL_SPC_UNSPECIFIED)
            matrix = sws_getCoefficients(frame.colorspace);
        if (frame.color_range == AVCOL_RANGE_JPEG) sourceRange = 1;
        sws_setColorspaceDetails(scaler.get(), matrix, sourceRange, table, targetRange, brightness,
                                 contrast, saturation);
    }

    const std::size_t width = static_cast<std::size_t>(size.width);
    const std::size_t height = static_cast<std::size_t>(size.height);
    const std::size_t stride = (width * 4 + kRowAlignment - 1) / kRowAlignment * kRowAlignment;
    Bytes rgba(stride * height + kRowAlignment);
    std::uint8_t* target[4] = {rgba.data(), nullptr, nullptr, nullptr};
    const int targetStride[4] = {static_cast<int>(stride), 0, 0, 0};
    if (sws_scale(scaler.get(), frame.data, frame.linesize, 0, frame.height, target,
                  targetStride) != size.height) {
        return std::nullopt;
    }

    Bytes rgb(width * height * 3);
    std::uint8_t* out = rgb.data();
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* in = rgba.data() + stride * y;
        for (std::size_t x = 0; x < width; ++x, in += 4) {
            const unsigned alpha = in[3];
            for (int c = 0; c < 3; ++c) {
                *out++ =
                    static_cast<std::uint8_t>((in[c] * alpha + 255 * (255 - alpha) + 127) / 255);
            }
        }
    }
    return ThumbnailImage::make(size, rgb);
}

ThumbnailResult thumbnailOf(const FirstFrame& decoded) {
    const bool sideways = decoded.orientation.sideways();
    const int width = sideways ? decoded.frame->height : decoded.frame->width;
    const int height = sideways ? decoded.frame->width : decoded.frame->height;
    const auto fitted = fittedSize(width, height, kThumbnailBox);
    if (!fitted) return {};
    const ImageSize stored = sideways ? ImageSize{fitted->height, fitted->width} : *fitted;
    auto image = copyFrame(*decoded.frame, stored);
    if (!image) return {};
    return ThumbnailResult::fromJpeg(
        image->oriented(decoded.orientation).jpegData(kThumbnailJpegQuality));
}

}  // namespace

ThumbnailResult createImageThumbnail(RegularFile file) {
    std::uint8_t head[8] = {};
    const ssize_t got = ::pread(file.descriptor(), head, sizeof head, 0);
    if (got >= 4 && isTiff(ByteView(head, static_cast<std::size_t>(got)))) {
        return createTiffThumbnail(std::move(file));
    }
    if (got == sizeof head && isPng(ByteView(head, sizeof head)) && !pngChunksWithinLimits(file)) return {};
    const auto decoded = decodeFirstFrame(std::move(file), true);
    if (!decoded.frame) return {};
    return thumbnailOf(decoded);
}

ThumbnailResult createMovieThumbnail(RegularFile file) {
    const auto decoded = decodeFirstFrame(std::move(file), false);
    if (!decoded.frame) {
        systemLog(kThumbnailErrorPrefix + decoded.failure);
        return {};
    }
    return thumbnailOf(decoded);
}

ThumbnailResult createImageThumbnail(const std::filesystem::path& url) {
    auto file = RegularFile::open(url);
    if (!file) return {};
    return createImageThumbnail(std::move(*file));
}

ThumbnailResult createMovieThumbnail(const std::filesystem::path& url) {
    auto file = RegularFile::open(url);
    if (!file) {
        systemLog(std::string(kThumbnailErrorPrefix) + "the file cannot be opened");
        return {};
    }
    return createMovieThumbnail(std::move(*file));
}

}  // namespace ostrelcomm
