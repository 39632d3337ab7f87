#include "platform/media/FfmpegAudioCodec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/mem.h>
#include <libswresample/swresample.h>
}

#include <algorithm>
#include <cerrno>
#include <utility>

namespace platform {

namespace {

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

// The encoder of a type.
const char* CodecName(AudioFileType type) {
    switch (type) {
    case AudioFileType::Flac:
        return "flac";
    case AudioFileType::Opus:
        return "libopus";
    case AudioFileType::Mp3:
        return "libmp3lame";
    }
    return "flac";
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

struct FfmpegAudioCodec::Parts {
    std::unique_ptr<AVCodecContext, CodecFree> codec;
    std::unique_ptr<SwrContext, SwrFree> swr;
    std::unique_ptr<AVAudioFifo, FifoFree> fifo;
    std::unique_ptr<AVFrame, FrameFree> frame;
    std::unique_ptr<AVPacket, PacketFree> packet;
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

FfmpegAudioCodec::FfmpegAudioCodec() = default;

FfmpegAudioCodec::~FfmpegAudioCodec() = default;

int FfmpegAudioCodec::Open(const AudioFileSettings& settings, int rate, int channels,
                           bool globalHeader, Sink sink) {
    parts_ = std::make_unique<Parts>();
    sink_ = std::move(sink);
    channels_ = channels;
    inputRate_ = rate;
    pts_ = 0;
    const AVCodec* codec = avcodec_find_encoder_by_name(CodecName(settings.type));
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
    if (globalHeader) {
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    if (avcodec_open2(c, codec, nullptr) < 0) {
        return 7;
    }
    parts_->frameSize = c->frame_size > 0 ? c->frame_size : 4096;
    parts_->smallLastFrame = (codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0 ||
                             (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    return OpenBuffers(rate, channels);
}

int FfmpegAudioCodec::OpenBuffers(int rate, int channels) {
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

int FfmpegAudioCodec::Write(std::span<const std::int16_t> samples) {
    if (!parts_ || !parts_->codec) {
        return 9;
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

int FfmpegAudioCodec::Queue(int converted) {
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

int FfmpegAudioCodec::EncodeFrame(int samples) {
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

int FfmpegAudioCodec::Drain() {
    AVPacket* packet = parts_->packet.get();
    for (;;) {
        const int got = avcodec_receive_packet(parts_->codec.get(), packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
            return 0;
        }
        if (got < 0) {
            return 9;
        }
        const int sunk = sink_(*packet);
        av_packet_unref(packet);
        if (sunk != 0) {
            return sunk;
        }
    }
}

int FfmpegAudioCodec::Finish() {
    if (!parts_ || !parts_->codec) {
        return 9;
    }
    const int converted =
        swr_convert(parts_->swr.get(), parts_->staging, parts_->stagingCapacity, nullptr, 0);
    int result = converted < 0 ? 9 : Queue(converted);
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
    if (result == 0) {
        result = avcodec_send_frame(parts_->codec.get(), nullptr) < 0 ? 9 : Drain();
    }
    return result;
}

AVCodecContext* FfmpegAudioCodec::Context() const {
    return parts_ ? parts_->codec.get() : nullptr;
}

} // namespace platform
