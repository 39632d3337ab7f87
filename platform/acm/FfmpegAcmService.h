#pragma once

#include "platform/acm/AcmService.h"

namespace platform {

// The conversion streams of Vocarn, over FFmpeg.
class FfmpegAcmService final : public AcmService {
public:
    std::unique_ptr<AcmStream> open(std::span<const std::uint8_t> source,
                                    std::span<const std::uint8_t> destination) override;
    // AcmFormats::convertibleFrom, less the formats whose encoder this FFmpeg lacks.
    std::vector<AcmFormatChoice> convertibleFormats(std::span<const std::uint8_t> source) override;
};

} // namespace platform
