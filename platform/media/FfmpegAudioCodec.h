#pragma once

#include "platform/media/AudioFileWriter.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

struct AVCodecContext;
struct AVPacket;

namespace platform {

// The codec stage of a compressed audio file: brings 16-bit interleaved samples to the
// codec's rate and sample format (libswresample), gathers them into whole codec frames,
// encodes them (flac, libopus, libmp3lame) and hands every packet to the sink.
class FfmpegAudioCodec {
public:
    // Takes a packet (its time stamps in the codec's time base); 0, or the result to stop with.
    using Sink = std::function<int(AVPacket& packet)>;

    FfmpegAudioCodec();
    ~FfmpegAudioCodec();
    FfmpegAudioCodec(const FfmpegAudioCodec&) = delete;
    FfmpegAudioCodec& operator=(const FfmpegAudioCodec&) = delete;

    // The codec of settings' type for rate and channels; globalHeader when the container
    // wants the codec's set-up apart. 0, or 7 when the codec refuses.
    int Open(const AudioFileSettings& settings, int rate, int channels, bool globalHeader,
             Sink sink);
    // 0; 9: the codec failed; or what the sink gave.
    int Write(std::span<const std::int16_t> samples);
    // What the resampler holds, the last partly filled frame (padded with silence where the
    // codec takes whole frames only) and what the codec holds. Same results as Write.
    int Finish();
    AVCodecContext* Context() const;

private:
    struct Parts;

    int OpenBuffers(int rate, int channels);
    // Moves converted samples into the FIFO and encodes every whole frame.
    int Queue(int converted);
    int EncodeFrame(int samples);
    // Hands every packet the codec has ready to the sink.
    int Drain();

    std::unique_ptr<Parts> parts_;
    Sink sink_;
    int channels_ = 0;
    int inputRate_ = 0;
    std::int64_t pts_ = 0;
};

} // namespace platform
