#include "platform/media/FfmpegAudioFileWriter.h"

#include "platform/media/FfmpegAudioCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/mem.h>
}

#include <algorithm>
#include <cerrno>
#include <climits>

#include <unistd.h>

namespace platform {

namespace {

// The I/O context's buffer; it is flushed after every packet anyway.
constexpr int kIoBufferBytes = 65536;
// An Ogg page is closed at least this often (microseconds). The muxer holds the newest page
// back until the next one begins, so a killed take keeps all but the last half second.
constexpr const char* kOggPageDuration = "250000";

struct FormatFree {
    void operator()(AVFormatContext* f) const { avformat_free_context(f); }
};
struct IoFree {
    void operator()(AVIOContext* io) const {
        if (io != nullptr) {
            av_freep(&io->buffer);
        }
        avio_context_free(&io);
    }
};
// The container of a type.
const char* MuxerName(AudioFileType type) {
    switch (type) {
    case AudioFileType::Flac:
        return "flac";
    case AudioFileType::Opus:
        return "opus";
    case AudioFileType::Mp3:
        return "mp3";
    }
    return "flac";
}

} // namespace

struct FfmpegAudioFileWriter::Parts {
    std::unique_ptr<AVFormatContext, FormatFree> format;
    std::unique_ptr<AVIOContext, IoFree> io;
    FfmpegAudioCodec codec;
    AVStream* stream = nullptr;
};

FfmpegAudioFileWriter::FfmpegAudioFileWriter() = default;

FfmpegAudioFileWriter::~FfmpegAudioFileWriter() {
    Release();
}

void FfmpegAudioFileWriter::Release() {
    parts_.reset();
    fd_ = -1;
}

int FfmpegAudioFileWriter::FileRate() const {
    const AVCodecContext* c = parts_ ? parts_->codec.Context() : nullptr;
    return c != nullptr ? c->sample_rate : 0;
}

int FfmpegAudioFileWriter::Open(int fd, const AudioFileSettings& settings, int rate, int channels,
                                const AudioFileTags& tags) {
    Release();
    if (fd < 0 || rate <= 0 || (channels != 1 && channels != 2)) {
        return 7;
    }
    fd_ = fd;
    writeFailed_ = false;
    parts_ = std::make_unique<Parts>();
    const AVOutputFormat* muxer = av_guess_format(MuxerName(settings.type), nullptr, nullptr);
    int result = muxer == nullptr ? 7
                                  : parts_->codec.Open(settings, rate, channels,
                                                       (muxer->flags & AVFMT_GLOBALHEADER) != 0,
                                                       [this](AVPacket& p) { return Mux(p); });
    if (result == 0) {
        result = OpenContainer(settings, tags);
    }
    if (result != 0) {
        Release();
    }
    return result;
}

int FfmpegAudioFileWriter::OpenContainer(const AudioFileSettings& settings,
                                         const AudioFileTags& tags) {
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, MuxerName(settings.type), nullptr) < 0) {
        return 7;
    }
    parts_->format.reset(format);
    auto* buffer = static_cast<unsigned char*>(av_malloc(kIoBufferBytes));
    if (buffer == nullptr) {
        return 7;
    }
    parts_->io.reset(avio_alloc_context(buffer, kIoBufferBytes, 1, this, nullptr,
                                        &FfmpegAudioFileWriter::WritePacket,
                                        &FfmpegAudioFileWriter::Seek));
    if (!parts_->io) {
        av_free(buffer);
        return 7;
    }
    format->pb = parts_->io.get();
    format->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_FLUSH_PACKETS;
    parts_->stream = avformat_new_stream(format, nullptr);
    if (parts_->stream == nullptr ||
        avcodec_parameters_from_context(parts_->stream->codecpar, parts_->codec.Context()) < 0) {
        return 7;
    }
    parts_->stream->time_base = parts_->codec.Context()->time_base;
    // Ogg writes its comment header from the stream's tags, and builds it at the start.
    av_dict_set(&parts_->stream->metadata, "title", tags.title.c_str(), 0);
    av_dict_set(&parts_->stream->metadata, "date", tags.date.c_str(), 0);
    av_dict_set(&parts_->stream->metadata, "encoder", tags.encoder.c_str(), 0);
    AVDictionary* options = nullptr;
    if (settings.type == AudioFileType::Opus) {
        av_dict_set(&options, "page_duration", kOggPageDuration, 0);
    }
    const int initialised = avformat_init_output(format, &options);
    av_dict_free(&options);
    if (initialised < 0) {
        return writeFailed_ ? 10 : 7;
    }
    // FLAC and MP3 write the file's tags with the header; set after the muxer's own start,
    // which names the library as the encoder.
    av_dict_set(&format->metadata, "title", tags.title.c_str(), 0);
    av_dict_set(&format->metadata, "date", tags.date.c_str(), 0);
    av_dict_set(&format->metadata, "encoder", tags.encoder.c_str(), 0);
    if (avformat_write_header(format, nullptr) < 0) {
        return 10;
    }
    avio_flush(format->pb);
    return writeFailed_ ? 10 : 0;
}

int FfmpegAudioFileWriter::Write(std::span<const std::int16_t> samples) {
    if (!parts_ || !parts_->format) {
        return 9;
    }
    return writeFailed_ ? 10 : parts_->codec.Write(samples);
}

int FfmpegAudioFileWriter::Mux(AVPacket& packet) {
    packet.stream_index = parts_->stream->index;
    av_packet_rescale_ts(&packet, parts_->codec.Context()->time_base, parts_->stream->time_base);
    // Everything before this packet is on disk, in whole frames or pages: a write that fails
    // part way is cut back to here, so the file ends on a whole one.
    const std::int64_t before = avio_tell(parts_->format->pb);
    const int written = av_write_frame(parts_->format.get(), &packet);
    if (written >= 0 && !writeFailed_) {
        return 0;
    }
    writeFailed_ = true;
    if (before >= 0 && ::ftruncate(fd_, static_cast<off_t>(before)) == 0) {
        ::lseek(fd_, static_cast<off_t>(before), SEEK_SET);
    }
    return 10;
}

int FfmpegAudioFileWriter::Close() {
    if (!parts_ || !parts_->format) {
        return 0;
    }
    if (writeFailed_) {
        // The disk is full: the file ends on its last whole frame or page as it is. Its
        // header keeps stating no total (FLAC), which the next start's repair states.
        Release();
        return 10;
    }
    int result = parts_->codec.Finish();
    // The trailer brings the header's totals up to date (FLAC).
    if (av_write_trailer(parts_->format.get()) < 0 || writeFailed_) {
        result = 10;
    }
    avio_flush(parts_->format->pb);
    Release();
    return result == 0 ? 0 : 10;
}

int FfmpegAudioFileWriter::WritePacket(void* opaque, std::uint8_t* data, int size) {
    auto* self = static_cast<FfmpegAudioFileWriter*>(opaque);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(self->fd_, data + done, static_cast<std::size_t>(size - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            self->writeFailed_ = true;
            return done > 0 ? done : AVERROR(n < 0 ? errno : ENOSPC);
        }
        done += static_cast<int>(n);
    }
    return done;
}

std::int64_t FfmpegAudioFileWriter::Seek(void* opaque, std::int64_t offset, int whence) {
    auto* self = static_cast<FfmpegAudioFileWriter*>(opaque);
    if (whence == AVSEEK_SIZE) {
        const off_t here = ::lseek(self->fd_, 0, SEEK_CUR);
        const off_t end = ::lseek(self->fd_, 0, SEEK_END);
        ::lseek(self->fd_, here, SEEK_SET);
        return end;
    }
    const off_t at = ::lseek(self->fd_, static_cast<off_t>(offset), whence & ~AVSEEK_FORCE);
    return at < 0 ? AVERROR(errno) : static_cast<std::int64_t>(at);
}

} // namespace platform
