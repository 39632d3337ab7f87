#include "platform/acm/FfmpegAcmEncoder.h"

#include "platform/acm/AcmFormats.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/opt.h>
}

namespace platform {

namespace {

// Frames of codecs that take any number of samples (A-law, u-law) are cut at this size.
constexpr int VariableFrameSamples = 4096;
// The resampler writes this many samples at a time into the staging buffer.
constexpr int StagingSamples = 8192;

const char* encoderName(std::uint16_t tag) {
    switch (tag) {
    case AcmFormats::TagALaw:
        return "pcm_alaw";
    case AcmFormats::TagMuLaw:
        return "pcm_mulaw";
    case AcmFormats::TagImaAdpcm:
        return "adpcm_ima_wav";
    case AcmFormats::TagMsAdpcm:
        return "adpcm_ms";
    case AcmFormats::TagGsm610:
        return "libgsm_ms";
    case AcmFormats::TagMpegLayer3:
        return "libmp3lame";
    default:
        return nullptr;
    }
}

// The codec's input format closest to the recording's samples: interleaved 16-bit, else
// planar 16-bit (MPEG Layer-3 takes that without widening every sample), else the codec's
// first.
AVSampleFormat inputFormatOf(const AVCodec* codec) {
    if (!codec->sample_fmts) {
        return AV_SAMPLE_FMT_S16;
    }
    for (const AVSampleFormat wanted : {AV_SAMPLE_FMT_S16, AV_SAMPLE_FMT_S16P}) {
        for (const AVSampleFormat* f = codec->sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f) {
            if (*f == wanted) {
                return *f;
            }
        }
    }
    return codec->sample_fmts[0];
}

} // namespace

void FfmpegAcmEncoder::ContextFree::operator()(AVCodecContext* c) const {
    avcodec_free_context(&c);
}
void FfmpegAcmEncoder::FifoFree::operator()(AVAudioFifo* f) const {
    av_audio_fifo_free(f);
}
void FfmpegAcmEncoder::FrameFree::operator()(AVFrame* f) const {
    av_frame_free(&f);
}
void FfmpegAcmEncoder::PacketFree::operator()(AVPacket* p) const {
    av_packet_free(&p);
}

std::unique_ptr<FfmpegAcmEncoder> FfmpegAcmEncoder::open(const WaveFormat& destination) {
    // Only the exact record Vocarn makes for this type, rate and channel count (and bit
    // rate) is accepted: its block align and extra bytes are what the codec will write.
    const std::int32_t bitrate = static_cast<std::int32_t>(destination.avgBytesPerSec * 8);
    const auto expected = AcmFormats::record(
        destination.formatTag, static_cast<std::int32_t>(destination.samplesPerSec),
        static_cast<std::int16_t>(destination.channels), bitrate);
    const char* name = encoderName(destination.formatTag);
    if (!name || !expected || !(*expected == destination)) {
        return nullptr;
    }
    const AVCodec* codec = avcodec_find_encoder_by_name(name);
    if (!codec) {
        return nullptr;
    }

    std::unique_ptr<FfmpegAcmEncoder> enc(new FfmpegAcmEncoder());
    enc->context_.reset(avcodec_alloc_context3(codec));
    AVCodecContext* ctx = enc->context_.get();
    if (!ctx) {
        return nullptr;
    }
    const int rate = static_cast<int>(destination.samplesPerSec);
    ctx->sample_rate = rate;
    ctx->time_base = AVRational{1, rate};
    av_channel_layout_default(&ctx->ch_layout, destination.channels);
    ctx->sample_fmt = inputFormatOf(codec);
    AVDictionary* options = nullptr;
    switch (destination.formatTag) {
    case AcmFormats::TagImaAdpcm:
    case AcmFormats::TagMsAdpcm:
        av_dict_set_int(&options, "block_size", destination.blockAlign, 0);
        break;
    case AcmFormats::TagGsm610:
        // GSM is an 8000 Hz codec; other rates keep its 65-byte blocks per 320 samples.
        if (rate != 8000) {
            ctx->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
            ctx->bit_rate = std::int64_t{rate} * 65 * 8 / 320;
        }
        break;
    case AcmFormats::TagMpegLayer3:
        ctx->bit_rate = bitrate;
        break;
    default:
        break;
    }
    const int opened = avcodec_open2(ctx, codec, &options);
    av_dict_free(&options);
    if (opened < 0) {
        return nullptr;
    }

    enc->sampleFormat_ = ctx->sample_fmt;
    enc->variableFrames_ =
        ctx->frame_size <= 0 || (codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE) != 0;
    enc->frameSize_ = enc->variableFrames_ ? VariableFrameSamples : ctx->frame_size;
    const int channels = destination.channels;
    switch (destination.formatTag) {
    case AcmFormats::TagALaw:
    case AcmFormats::TagMuLaw:
        enc->maxPacketBytes_ = std::int64_t{enc->frameSize_} * channels;
        break;
    case AcmFormats::TagMpegLayer3:
        // A frame is frame_size / 8 * bit rate / rate bytes, plus a padding byte.
        enc->maxPacketBytes_ = std::int64_t{enc->frameSize_} * bitrate / 8 / rate + 2;
        break;
    default:
        enc->maxPacketBytes_ = destination.blockAlign;
        break;
    }

    enc->fifo_.reset(
        av_audio_fifo_alloc(enc->sampleFormat_, channels, enc->frameSize_ + StagingSamples));
    enc->frame_.reset(av_frame_alloc());
    enc->packet_.reset(av_packet_alloc());
    if (!enc->fifo_ || !enc->frame_ || !enc->packet_) {
        return nullptr;
    }
    AVFrame* frame = enc->frame_.get();
    frame->format = enc->sampleFormat_;
    frame->sample_rate = rate;
    frame->nb_samples = enc->frameSize_;
    if (av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout) < 0 ||
        av_frame_get_buffer(frame, 0) < 0) {
        return nullptr;
    }

    const bool planar = av_sample_fmt_is_planar(enc->sampleFormat_) != 0;
    const int planes = planar ? channels : 1;
    const int planeBytes =
        StagingSamples * av_get_bytes_per_sample(enc->sampleFormat_) * (planar ? 1 : channels);
    enc->stagingCapacity_ = StagingSamples;
    enc->stagingBytes_.assign(static_cast<std::size_t>(planeBytes) * planes, 0);
    for (int p = 0; p < planes; ++p) {
        enc->staging_.push_back(enc->stagingBytes_.data() +
                                static_cast<std::size_t>(p) * planeBytes);
    }
    // The pending store is reserved once; it only fills when a destination was too small.
    enc->pending_.reserve(static_cast<std::size_t>(enc->maxPacketBytes_) * 4);
    return enc;
}

FfmpegAcmEncoder::~FfmpegAcmEncoder() = default;

std::int64_t FfmpegAcmEncoder::maxOutputBytes(std::int64_t samples) const {
    // Held samples (under one frame) and up to three frames of codec delay.
    const std::int64_t frames = (samples + frameSize_ - 1) / frameSize_ + 4;
    return frames * maxPacketBytes_;
}

void FfmpegAcmEncoder::append(const std::uint8_t* data, int size, Output& out) {
    const int fits = std::min(size, out.room - out.used);
    if (fits > 0) {
        std::memcpy(out.at + out.used, data, static_cast<std::size_t>(fits));
        out.used += fits;
    }
    if (fits < size) {
        pending_.insert(pending_.end(), data + std::max(fits, 0), data + size);
    }
}

void FfmpegAcmEncoder::deliverPending(Output& out) {
    const std::size_t waiting = pending_.size() - pendingAt_;
    const std::size_t fits =
        std::min(waiting, static_cast<std::size_t>(std::max(out.room - out.used, 0)));
    if (fits > 0) {
        std::memcpy(out.at + out.used, pending_.data() + pendingAt_, fits);
        out.used += static_cast<std::int32_t>(fits);
        pendingAt_ += fits;
    }
    if (pendingAt_ == pending_.size()) {
        pending_.clear();
        pendingAt_ = 0;
    }
}

bool FfmpegAcmEncoder::add(int samples, Output& out) {
    if (finished_) {
        return samples == 0; // the codec has been drained: no more input
    }
    if (samples > 0 && av_audio_fifo_write(fifo_.get(), reinterpret_cast<void**>(staging_.data()),
                                           samples) < samples) {
        return false;
    }
    const int whole = variableFrames_ ? 1 : frameSize_;
    while (av_audio_fifo_size(fifo_.get()) >= whole) {
        if (!encode(std::min(av_audio_fifo_size(fifo_.get()), frameSize_), out)) {
            return false;
        }
    }
    return true;
}

bool FfmpegAcmEncoder::finish(Output& out) {
    if (finished_) {
        return true;
    }
    finished_ = true;
    const int held = av_audio_fifo_size(fifo_.get());
    if (held > 0 && !encode(held, out)) {
        return false;
    }
    if (avcodec_send_frame(context_.get(), nullptr) < 0) {
        return false;
    }
    return drain(out);
}

bool FfmpegAcmEncoder::encode(int samples, Output& out) {
    AVFrame* frame = frame_.get();
    frame->nb_samples = frameSize_;
    if (av_frame_make_writable(frame) < 0) {
        return false;
    }
    if (av_audio_fifo_read(fifo_.get(), reinterpret_cast<void**>(frame->data), samples) < samples) {
        return false;
    }
    frame->nb_samples = samples;
    frame->pts = nextPts_;
    nextPts_ += samples;
    if (avcodec_send_frame(context_.get(), frame) < 0) {
        return false;
    }
    return drain(out);
}

bool FfmpegAcmEncoder::drain(Output& out) {
    AVPacket* packet = packet_.get();
    for (;;) {
        const int got = avcodec_receive_packet(context_.get(), packet);
        if (got == AVERROR(EAGAIN) || got == AVERROR_EOF) {
            return true;
        }
        if (got < 0) {
            return false;
        }
        append(packet->data, packet->size, out);
        av_packet_unref(packet);
    }
}

} // namespace platform
