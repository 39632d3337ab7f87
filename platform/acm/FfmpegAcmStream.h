#pragma once

#include "platform/acm/AcmStream.h"
#include "platform/acm/WaveFormat.h"

#include <cstdint>
#include <memory>

struct SwrContext;

namespace platform {

// A conversion stream over libswresample: 16-bit PCM at any rate with 1 or 2 channels
// into PCM (8 or 16 bit) or IEEE float (32 bit) at any rate with 1 or 2 channels. The
// resampler consumes every whole input frame it is offered; what its filter still holds
// comes out with later input or with the End conversion, so nothing is lost between
// blocks and the total output of a recording is in * out_rate / in_rate frames.
// Mono becomes stereo by copying the channel; stereo becomes mono as the mean of both.
class FfmpegAcmStream final : public AcmStream {
public:
    // nullptr when the pair of formats is not one this stream converts.
    static std::unique_ptr<FfmpegAcmStream> open(const WaveFormat& source,
                                                 const WaveFormat& destination);
    ~FfmpegAcmStream() override;

    bool size(std::int32_t sourceBytes, std::int32_t& destinationBytes) override;
    bool prepareHeader(AcmStreamHeader& header) override;
    bool convert(AcmStreamHeader& header, AcmConvert how) override;
    bool unprepareHeader(AcmStreamHeader& header) override;

private:
    struct SwrFree {
        void operator()(SwrContext* s) const;
    };

    FfmpegAcmStream() = default;

    std::unique_ptr<SwrContext, SwrFree> swr_;
    std::int32_t inRate_ = 0;
    std::int32_t outRate_ = 0;
    std::int32_t inBlockAlign_ = 0;
    std::int32_t outBlockAlign_ = 0;

    const AcmStreamHeader* prepared_ = nullptr;
    std::int32_t preparedSourceLength_ = 0;
    std::int32_t preparedDestinationLength_ = 0;
};

} // namespace platform
