#include "platform/media/FfmpegAudioFileWriter.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
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
struct CodecFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct SwrFree {
    void operator()(SwrContext* s) const { swr_free(&s); }
};
struct FifoFree {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};

// The codec and container of a type.
struct TypeNames {
    const char* codec;
    const char* muxer;
};
TypeNames NamesOf(AudioFileType type) {
    switch (type) {
    case AudioFileType::Flac:
        return {"flac", "flac"};
    case AudioFileType::Opus:
        return {"libopus", "opus"};
    case AudioFileType::Mp3:
        return {"libmp3lame", "mp3"};
    }
    return {"flac", "flac"};
}

// The codec's sample format nearest to 16-bit: 16-bit interleaved or planar, else float.
AVSampleFormat PickSampleFormat(const AVCodec& codec) {
    const AVSampleFormat* formats = codec.sample_fmts;
    for (const AVSampleFormat wanted :
         {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P, AV_SAMPLE_FMT_FLT, AV_SAMPLE_FMT_FLTP}) {
        for (const AVSampleFormat* f = formats; f != nullptr && *f != AV_SAMPLE_FMT_NONE; ++f) {
            if (*f == wanted) {
                return wanted;
            }
        }
    }
    return formats != nullptr ? formats[0] : AV_SAMPLE_FMT_S16;
}

// The rate the codec writes for `rate`: Opus always 48000 Hz; a codec with a list of rates
// the lowest listed one at or above it (else its highest); any other codec the rate itself.
int PickRate(const AVCodec& codec, AudioFileType type, int rate) {
    if (type == AudioFileType::Opus) {
        return 48000;
    }
    const int* rates = codec.supported_samplerates;
    if (rates == nullptr) {
        return rate;
    }
    int best = 0;
    int highest = 0;
    for (const int* r = rates; *r != 0; ++r) {
        highest = std::max(highest, *r);
        if (*r >= rate && (best == 0 || *r < best)) {
            best = *r;
        }
    }
    return best != 0 ? best : highest;
}

} // namespace

struct FfmpegAudioFileWriter::Parts {
    std::unique_ptr<AVFormatContext, FormatFree> format;
    std::unique_ptr<AVIOContext, IoFree> io;
    std::unique_ptr<AVCodecContext, CodecFree> codec;
    std::unique_ptr<SwrContext, SwrFree> swr;
    std::unique_ptr<AVAudioFifo, FifoFree> fifo;
    std::unique_ptr<AVFrame, FrameFree> frame;
    std::unique_ptr<AVPacket, PacketFree> packet;
    AVStream* stream = nullptr;
    // The resampler's output for one chunk of input, in the codec's sample format.
    std::uint8_t** staging = nullptr;
    int stagingCapacity = 0;
    int frameSize = 0;
    bool smallLastFrame = false;

    ~Parts() {
        if (staging != nullptr) {
            av_freep(&staging[0]);
            av_freep(&staging);
        }
    }
};

std::unique_ptr<AudioFileWriter> MakeFfmpegAudioFileWriter() {
    return std::make_unique<FfmpegAudioFileWriter>();
}

FfmpegAudioFileWriter::FfmpegAudioFileWriter() = default;

FfmpegAudioFileWriter::~FfmpegAudioFileWriter() {
    Release();
}

void FfmpegAudioFileWriter::Release() {
    parts_.reset();
    fd_ = -1;
}

int FfmpegAudioFileWriter::FileRate() const {
    return parts_ && parts_->codec ? parts_->codec->sample_rate : 0;
}

int FfmpegAudioFileWriter::Open(int fd, const AudioFileSettings& settings, int rate, int channels,
                                const AudioFileTags& tags) {
    Release();
    if (fd < 0 || rate <= 0 || (channels != 1 && channels != 2)) {
        return 7;
    }
    fd_ = fd;
    channels_ = channels;
    inputRate_ = rate;
    pts_ = 0;
    writeFailed_ = false;
    parts_ = std::make_unique<Parts>();
    int result = OpenCodec(settings, rate, channels);
    if (result == 0) {
        result = OpenBuffers(rate, channels);
    }
    if (result == 0) {
        result = OpenContainer(settings, tags);
    }
    if (result != 0) {
        Release();
    }
    return result;
}

int FfmpegAudioFileWriter::OpenCodec(const AudioFileSettings& settings, int rate, int channels) {
    const AVCodec* codec = avcodec_find_encoder_by_name(NamesOf(settings.type).codec);
    if (codec == nullptr) {
        return 7;
    }
    parts_->codec.reset(avcodec_alloc_context3(codec));
    AVCodecContext* c = parts_->codec.get();
    if (c == nullptr) {
        return 7;
    }
    c->sample_fmt = PickSampleFormat(*codec);
    c->sample_rate = PickRate(*codec, settings.type, rate);
    av_channel_layout_default(&c->ch_layout, channels);
    c->time_base = AVRational{1, c->sample_rate};
    if (settings.type == AudioFileType::Flac) {
        c->compression_level = std::clamp(settings.compressionLevel, 0, 8);
    } else {
        c->bit_rate = settings.bitRate;
    }
    const AVOutputFormat* muxer = av_guess_format(NamesOf(settings.type).muxer, nullptr, nullptr);
    if (muxer == nullptr) {
        return 7;
    }
    if ((muxer->flags & AVFMT_GLOBALHEADER) != 0) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (avcodec_open2(c, codec, nullptr) < 0) {
        return 7;
    }
    parts_->frameSize = c->frame_size > 0 ? c->frame_size : 4096;
    parts_->smallLastFrame = (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0 ||
                             (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    return 0;
}

int FfmpegAudioFileWriter::OpenBuffers(int rate, int channels) {
    AVCodecContext* c = parts_->codec.get();
    AVChannelLayout in{};
    av_channel_layout_default(&in, channels);
    SwrContext* swr = nullptr;
    const int made = swr_alloc_set_opts2(&swr, &c->ch_layout, c->sample_fmt, c->sample_rate, &in,
                                         AV_SAMPLE_FMT_S16, rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    parts_->swr.reset(swr);
    if (made < 0 || swr_init(swr) < 0) {
        return 7;
    }
    // One second of input at a time, converted, fits the staging buffer.
    parts_->stagingCapacity = swr_get_out_samples(swr, rate) + parts_->frameSize;
    int lineSize = 0;
    if (av_samples_alloc_array_and_samples(&parts_->staging, &lineSize, channels,
                                           parts_->stagingCapacity, c->sample_fmt, 0) < 0) {
        parts_->staging = nullptr;
        return 7;
    }
    parts_->fifo.reset(av_audio_fifo_alloc(c->sample_fmt, channels, parts_->stagingCapacity * 2));
    parts_->frame.reset(av_frame_alloc());
    parts_->packet.reset(av_packet_alloc());
    AVFrame* frame = parts_->frame.get();
    if (!parts_->fifo || frame == nullptr || !parts_->packet) {
        return 7;
    }
    frame->nb_samples = parts_->frameSize;
    frame->format = c->sample_fmt;
    frame->sample_rate = c->sample_rate;
    if (av_channel_layout_copy(&frame->ch_layout, &c->ch_layout) < 0 ||
        av_frame_get_buffer(frame, 0) < 0) {
        return 7;
    }
    return 0;
}

int FfmpegAudioFileWriter::OpenContainer(const AudioFileSettings& settings,
                                         const AudioFileTags& tags) {
    AVFormatContext* format = nullptr;
    if (avformat_alloc_output_context2(&format, nullptr, NamesOf(settings.type).muxer, nullptr) <
        0) {
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
        avcodec_parameters_from_context(parts_->stream->codecpar, parts_->codec.get()) < 0) {
        return 7;
    }
    parts_->stream->time_base = parts_->codec->time_base;
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
    if (writeFailed_) {
        return 10;
    }
    const std::size_t frames = samples.size() / static_cast<std::size_t>(channels_);
    std::size_t done = 0;
    while (done < frames) {
        // At most one second of input per conversion, which the staging buffer holds.
        const int chunk = static_cast<int>(
            std::min<std::size_t>(frames - done, static_cast<std::size_t>(inputRate_)));
        const auto* in = reinterpret_cast<const std::uint8_t*>(samples.data() + done * channels_);
        const int converted =
            swr_convert(parts_->swr.get(), parts_->staging, parts_->stagingCapacity, &in, chunk);
        if (converted < 0) {
            return 9;
        }
        if (const int result = Queue(converted); result != 0) {
            return result;
        }
        done += static_cast<std::size_t>(chunk);
    }
    return 0;
}

int FfmpegAudioFileWriter::Queue(int converted) {
    if (converted > 0 &&
        av_audio_fifo_write(parts_->fifo.get(), reinterpret_cast<void**>(parts_->staging),
                            converted) < converted) {
        return 9;
    }
    while (av_audio_fifo_size(parts_->fifo.get()) >= parts_->frameSize) {
        if (const int result = EncodeFrame(parts_->frameSize); result != 0) {
            return result;
        }
    }
    return 0;
}

int FfmpegAudioFileWriter::EncodeFrame(int samples) {
    AVFrame* frame = parts_->frame.get();
    if (av_frame_make_writable(frame) < 0) {
        return 9;
    }
    frame->nb_samples = samples;
    if (av_audio_fifo_read(parts_->fifo.get(), reinterpret_cast<void**>(frame->data), samples) <
        samples) {
        return 9;
    }
    frame->pts = pts_;
    pts_ += samples;
    if (avcodec_send_frame(parts_->codec.get(), frame) < 0) {
        return 9;
    }
    return Drain();
}

int FfmpegAudioFileWriter::Drain() {
    AVPacket* packet = parts_->packet.get();
    for (;;) {
        const int got = avcodec_receive_packet(parts_->codec.get(), packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
            return 0;
        }
        if (got < 0) {
            return 9;
        }
        packet->stream_index = parts_->stream->index;
        av_packet_rescale_ts(packet, parts_->codec->time_base, parts_->stream->time_base);
        // Everything before this packet is on disk, in whole frames or pages: a write that
        // fails part way is cut back to here, so the file ends on a whole one.
        const std::int64_t before = avio_tell(parts_->format->pb);
        const int written = av_write_frame(parts_->format.get(), packet);
        av_packet_unref(packet);
        if (written < 0 || writeFailed_) {
            writeFailed_ = true;
            if (before >= 0 && ::ftruncate(fd_, static_cast<off_t>(before)) == 0) {
                ::lseek(fd_, static_cast<off_t>(before), SEEK_SET);
            }
            return 10;
        }
    }
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
    int result = 0;
    if (result == 0) {
        // What the resampler holds, then the last, partly filled frame (padded with silence
        // where the codec takes whole frames only), then what the codec holds.
        const int converted =
            swr_convert(parts_->swr.get(), parts_->staging, parts_->stagingCapacity, nullptr, 0);
        result = converted < 0 ? 9 : Queue(converted);
    }
    const int left = av_audio_fifo_size(parts_->fifo.get());
    if (result == 0 && left > 0) {
        if (!parts_->smallLastFrame) {
            av_samples_set_silence(parts_->staging, 0, parts_->frameSize - left, channels_,
                                   parts_->codec->sample_fmt);
            av_audio_fifo_write(parts_->fifo.get(), reinterpret_cast<void**>(parts_->staging),
                                parts_->frameSize - left);
        }
        result = EncodeFrame(av_audio_fifo_size(parts_->fifo.get()));
    }
    if (result == 0 && avcodec_send_frame(parts_->codec.get(), nullptr) >= 0) {
        result = Drain();
    }
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
