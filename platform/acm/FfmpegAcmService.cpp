#include "platform/acm/FfmpegAcmService.h"

#include "platform/acm/FfmpegAcmStream.h"
#include "platform/acm/WaveFormat.h"

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

} // namespace platform
