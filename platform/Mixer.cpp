#include "platform/Mixer.h"

#include <algorithm>
#include <cmath>

namespace platform {

std::int32_t VolumePercent(std::int32_t volume) {
    constexpr std::int64_t fullSteps = 0x10000; // the server's full level
    const auto steps = static_cast<std::int64_t>(
        std::nearbyint(std::max(volume, 0) * static_cast<double>(fullSteps) / 65535.0));
    return static_cast<std::int32_t>((steps * 100 + fullSteps / 2) / fullSteps);
}

} // namespace platform
