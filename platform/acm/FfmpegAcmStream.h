#pragma once

#include "platform/acm/AcmStream.h"
#include "platform/acm/FfmpegAcmEncoder.h"
#include "platform/acm/WaveFormat.h"

#include <cstdint>
#include <memory>

struct SwrContext;

namespace platform {

// A conversion stream from 16-bit PCM at any rate with 1 or 2 channels into any format of
// AcmFormats. libswresample converts the rate, the channels and the sample format; PCM and
// IEEE float come straight out of it, the other formats pass a libavcodec encoder
// (FfmpegAcmEncoder). Every whole input frame offered is consumed; what the resampler's
// filter or a partial codec block still holds comes out with later input or with the End
// conversion, so nothing is lost between blocks and a recording's output holds
// in * out_rate / in_rate frames (rounded up). Mono becomes stereo by copying the channel;
// stereo becomes mono as the mean of both.
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
    bool convertThroughCodec(AcmStreamHeader& header, AcmConvert how);

    std::unique_ptr<SwrContext, SwrFree> swr_;
    std::unique_ptr<FfmpegAcmEncoder> codec_; // none for PCM and IEEE float
    std::int32_t inRate_ = 0;
    std::int32_t outRate_ = 0;
    std::int32_t inBlockAlign_ = 0;
    std::int32_t outBlockAlign_ = 0;

    const AcmStreamHeader* prepared_ = nullptr;
    std::int32_t preparedSourceLength_ = 0;
    std::int32_t preparedDestinationLength_ = 0;
};

} // namespace platform
