#include "platform/acm/FfmpegAcmService.h"

#include "platform/acm/FfmpegAcmStream.h"
#include "platform/acm/WaveFormat.h"

#include <algorithm>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace platform {

std::unique_ptr<AcmStream> FfmpegAcmService::open(std::span<const std::uint8_t> source,
                                                  std::span<const std::uint8_t> destination) {
    const auto in = WaveFormat::parse(source);
    const auto out = WaveFormat::parse(destination);
    if (!in || !out) {
        return nullptr;
    }
    return FfmpegAcmStream::open(*in, *out);
}

std::vector<AcmFormatChoice>
FfmpegAcmService::convertibleFormats(std::span<const std::uint8_t> source) {
    const auto in = WaveFormat::parse(source);
    if (!in) {
        return {};
    }
    auto choices = AcmFormats::convertibleFrom(*in);
    const bool gsm = avcodec_find_encoder_by_name("libgsm_ms") != nullptr;
    const bool mp3 = avcodec_find_encoder_by_name("libmp3lame") != nullptr;
    std::erase_if(choices, [&](const AcmFormatChoice& c) {
        return (c.tagName == AcmFormats::tagName(AcmFormats::TagGsm610) && !gsm) ||
               (c.tagName == AcmFormats::tagName(AcmFormats::TagMpegLayer3) && !mp3);
    });
    return choices;
}

} // namespace platform
