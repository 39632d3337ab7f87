#include "platform/acm/FfmpegAcmStream.h"

#include "platform/acm/AcmFormats.h"

#include <algorithm>
#include <limits>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/samplefmt.h>
#include <libswresample/swresample.h>
}

namespace platform {

namespace {

// The resampler holds back at most its filter length: 32 taps at the lower of the two
// rates by default. Room for this many frames (scaled up for upsampling) on top of the
// exact ratio keeps every conversion's output within the destination size reported.
constexpr std::int64_t FilterRoom = 64;

// The interleaved sample format whose bytes are this record's audio as WAV stores it,
// or AV_SAMPLE_FMT_NONE when the record needs a codec.
AVSampleFormat plainSampleFormat(const WaveFormat& f) {
    if (f.formatTag == AcmFormats::TagPcm && f.bitsPerSample == 8) {
        return AV_SAMPLE_FMT_U8;
    }
    if (f.formatTag == AcmFormats::TagPcm && f.bitsPerSample == 16) {
        return AV_SAMPLE_FMT_S16;
    }
    if (f.formatTag == AcmFormats::TagIeeeFloat && f.bitsPerSample == 32) {
        return AV_SAMPLE_FMT_FLT;
    }
    return AV_SAMPLE_FMT_NONE;
}

// Whether the record is exactly the one Vocarn makes for its type, rate and channels.
bool wellFormed(const WaveFormat& f) {
    const auto made = AcmFormats::record(f.formatTag, static_cast<std::int32_t>(f.samplesPerSec),
                                         static_cast<std::int16_t>(f.channels), f.bitsPerSample);
    return made && *made == f;
}

} // namespace

void FfmpegAcmStream::SwrFree::operator()(SwrContext* s) const {
    swr_free(&s);
}

std::unique_ptr<FfmpegAcmStream> FfmpegAcmStream::open(const WaveFormat& source,
                                                       const WaveFormat& destination) {
    if (plainSampleFormat(source) != AV_SAMPLE_FMT_S16 || !wellFormed(source)) {
        return nullptr;
    }
    std::unique_ptr<FfmpegAcmStream> stream(new FfmpegAcmStream());
    AVSampleFormat outFormat = plainSampleFormat(destination);
    if (outFormat != AV_SAMPLE_FMT_NONE) {
        if (!wellFormed(destination)) {
            return nullptr;
        }
    } else {
        stream->codec_ = FfmpegAcmEncoder::open(destination);
        if (!stream->codec_) {
            return nullptr;
        }
        outFormat = stream->codec_->sampleFormat();
    }
    AVChannelLayout inLayout;
    AVChannelLayout outLayout;
    av_channel_layout_default(&inLayout, source.channels);
    av_channel_layout_default(&outLayout, destination.channels);
    SwrContext* raw = nullptr;
    const int made = swr_alloc_set_opts2(
        &raw, &outLayout, outFormat, static_cast<int>(destination.samplesPerSec), &inLayout,
        AV_SAMPLE_FMT_S16, static_cast<int>(source.samplesPerSec), 0, nullptr);
    stream->swr_.reset(raw);
    if (made < 0 || !raw) {
        return nullptr;
    }
    // The resampler's own mix would lower a copied mono channel by 3 dB; a recorder wants
    // the channel as it was.
    if (source.channels == 1 && destination.channels == 2) {
        const double upmix[2] = {1.0, 1.0};
        if (swr_set_matrix(raw, upmix, 1) < 0) {
            return nullptr;
        }
    } else if (source.channels == 2 && destination.channels == 1) {
        const double downmix[2] = {0.5, 0.5};
        if (swr_set_matrix(raw, downmix, 2) < 0) {
            return nullptr;
        }
    }
    if (swr_init(raw) < 0) {
        return nullptr;
    }
    stream->inRate_ = static_cast<std::int32_t>(source.samplesPerSec);
    stream->outRate_ = static_cast<std::int32_t>(destination.samplesPerSec);
    stream->inBlockAlign_ = source.blockAlign;
    stream->outBlockAlign_ = destination.blockAlign;
    return stream;
}

FfmpegAcmStream::~FfmpegAcmStream() = default;

bool FfmpegAcmStream::size(std::int32_t sourceBytes, std::int32_t& destinationBytes) {
    if (sourceBytes < 0) {
        return false;
    }
    const std::int64_t inFrames = sourceBytes / inBlockAlign_;
    // ceil(in * out / in_rate), plus the filter's held-back frames at the output rate.
    const std::int64_t exact = (inFrames * outRate_ + inRate_ - 1) / inRate_;
    const std::int64_t room = FilterRoom * (1 + (outRate_ + inRate_ - 1) / inRate_);
    const std::int64_t bytes =
        codec_ ? codec_->maxOutputBytes(exact + room) : (exact + room) * outBlockAlign_;
    if (bytes > std::numeric_limits<std::int32_t>::max()) {
        return false;
    }
    destinationBytes = static_cast<std::int32_t>(bytes);
    return true;
}

bool FfmpegAcmStream::prepareHeader(AcmStreamHeader& header) {
    if (prepared_ || !header.source || !header.destination || header.sourceLength < 0 ||
        header.destinationLength < (codec_ ? 1 : outBlockAlign_)) {
        return false;
    }
    prepared_ = &header;
    preparedSourceLength_ = header.sourceLength;
    preparedDestinationLength_ = header.destinationLength;
    return true;
}

bool FfmpegAcmStream::convert(AcmStreamHeader& header, AcmConvert how) {
    header.sourceLengthUsed = 0;
    header.destinationLengthUsed = 0;
    if (&header != prepared_ || header.sourceLength < 0 ||
        header.sourceLength > preparedSourceLength_ || header.destinationLength < 0 ||
        header.destinationLength > preparedDestinationLength_) {
        return false;
    }
    if (codec_) {
        return convertThroughCodec(header, how);
    }
    const int inFrames = header.sourceLength / inBlockAlign_;
    const int room = header.destinationLength / outBlockAlign_;
    const std::uint8_t* in[1] = {header.source};
    std::uint8_t* out[1] = {header.destination};
    // A non-null input with a count of 0 only drains; a null input would flush.
    const int produced = swr_convert(swr_.get(), out, room, in, inFrames);
    if (produced < 0) {
        return false;
    }
    header.sourceLengthUsed = inFrames * inBlockAlign_;
    int total = produced;
    if (how == AcmConvert::End) {
        out[0] = header.destination + static_cast<std::ptrdiff_t>(total) * outBlockAlign_;
        const int flushed = swr_convert(swr_.get(), out, room - total, nullptr, 0);
        if (flushed < 0) {
            header.destinationLengthUsed = total * outBlockAlign_;
            return false;
        }
        total += flushed;
    }
    header.destinationLengthUsed = total * outBlockAlign_;
    return true;
}

bool FfmpegAcmStream::convertThroughCodec(AcmStreamHeader& header, AcmConvert how) {
    FfmpegAcmEncoder::Output out{header.destination, header.destinationLength, 0};
    codec_->deliverPending(out);
    const int inFrames = header.sourceLength / inBlockAlign_;
    const int capacity = codec_->stagingCapacity();
    // Input pieces small enough that the resampler's output fits the staging buffer.
    const int piece = static_cast<int>(
        std::max<std::int64_t>(1, std::int64_t{capacity / 2} * inRate_ / outRate_));
    bool ok = true;
    int done = 0;
    while (ok && done < inFrames) {
        const int n = std::min(piece, inFrames - done);
        const std::uint8_t* in[1] = {header.source +
                                     static_cast<std::ptrdiff_t>(done) * inBlockAlign_};
        const int produced = swr_convert(swr_.get(), codec_->staging(), capacity, in, n);
        ok = produced >= 0 && codec_->add(produced, out);
        if (produced >= 0) {
            done += n;
        }
    }
    if (ok && how == AcmConvert::End) {
        // A flush may take more than one staging buffer.
        for (int produced = capacity; ok && produced > 0;) {
            produced = swr_convert(swr_.get(), codec_->staging(), capacity, nullptr, 0);
            ok = produced >= 0 && codec_->add(std::max(produced, 0), out);
        }
        ok = ok && codec_->finish(out);
    }
    header.sourceLengthUsed = done * inBlockAlign_;
    header.destinationLengthUsed = out.used;
    return ok;
}

bool FfmpegAcmStream::unprepareHeader(AcmStreamHeader& header) {
    if (&header != prepared_) {
        return false;
    }
    prepared_ = nullptr;
    preparedSourceLength_ = 0;
    preparedDestinationLength_ = 0;
    return true;
}

} // namespace platform
