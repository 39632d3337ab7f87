#pragma once

#include "platform/acm/WaveFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/samplefmt.h>
}

struct AVAudioFifo;
struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace platform {

// The codec stage of a conversion stream: takes samples already at the output rate and
// channels in the codec's sample format, keeps them until a whole codec frame is there,
// and appends the encoded bytes to the caller's destination. Bytes that do not fit the
// destination are kept and delivered first by the next call. Formats: IMA ADPCM,
// Microsoft ADPCM, A-law, u-law, GSM 6.10, MPEG Layer-3 (records as AcmFormats makes them).
class FfmpegAcmEncoder {
public:
    // Where encoded bytes go: `room` bytes at `at`, `used` of them filled so far.
    struct Output {
        std::uint8_t* at = nullptr;
        std::int32_t room = 0;
        std::int32_t used = 0;
    };

    // nullptr when the record is not one Vocarn writes or the codec refuses it.
    static std::unique_ptr<FfmpegAcmEncoder> open(const WaveFormat& destination);
    ~FfmpegAcmEncoder();
    FfmpegAcmEncoder(const FfmpegAcmEncoder&) = delete;
    FfmpegAcmEncoder& operator=(const FfmpegAcmEncoder&) = delete;

    AVSampleFormat sampleFormat() const { return sampleFormat_; }

    // A buffer of stagingCapacity() samples in the codec's sample format, one plane per
    // channel for planar formats, for the resampler to write into before add().
    std::uint8_t** staging() { return staging_.data(); }
    int stagingCapacity() const { return stagingCapacity_; }

    // The most bytes that `samples` more samples can bring out, held samples and the
    // codec's own delay included.
    std::int64_t maxOutputBytes(std::int64_t samples) const;

    // Delivers bytes kept from an earlier call.
    void deliverPending(Output& out);
    // Adds `samples` samples from staging() and encodes every whole codec frame.
    bool add(int samples, Output& out);
    // Encodes what is held (a last, padded frame) and everything the codec delays. After
    // it the encoder takes no more samples; a second finish only returns true.
    bool finish(Output& out);

private:
    FfmpegAcmEncoder() = default;
    bool encode(int samples, Output& out);
    bool drain(Output& out);
    void append(const std::uint8_t* data, int size, Output& out);

    struct ContextFree {
        void operator()(AVCodecContext* c) const;
    };
    struct FifoFree {
        void operator()(AVAudioFifo* f) const;
    };
    struct FrameFree {
        void operator()(AVFrame* f) const;
    };
    struct PacketFree {
        void operator()(AVPacket* p) const;
    };

    std::unique_ptr<AVCodecContext, ContextFree> context_;
    std::unique_ptr<AVAudioFifo, FifoFree> fifo_;
    std::unique_ptr<AVFrame, FrameFree> frame_;
    std::unique_ptr<AVPacket, PacketFree> packet_;
    AVSampleFormat sampleFormat_ = AV_SAMPLE_FMT_NONE;
    int frameSize_ = 0;           // samples per codec frame
    bool variableFrames_ = false; // any number of samples makes a frame
    std::int64_t maxPacketBytes_ = 0;
    std::int64_t nextPts_ = 0;
    bool finished_ = false;

    std::vector<std::uint8_t*> staging_;
    std::vector<std::uint8_t> stagingBytes_;
    int stagingCapacity_ = 0;

    std::vector<std::uint8_t> pending_;
    std::size_t pendingAt_ = 0;
};

} // namespace platform
