#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The mixer of one capture device: the input lines that can feed it (microphone, line in,
// ...), which of them is recorded, and the recording volume.
//
// Lines run 0 .. LineCount() - 1. Volumes run 0 .. 65535, where 65535 is the device's
// full (unamplified) level; a device set above its full level (in the desktop's mixer)
// reads above 65535, on the same scale. When the device cannot be asked (it went away, the sound
// server ended) the members give their empty results: 0, an empty name, false, no change.
// Destroying the object closes the mixer.
class Mixer {
public:
    virtual ~Mixer() = default;
    virtual std::int32_t LineCount() = 0;
    // The line's name; empty for an unknown line.
    virtual std::string LineName(std::int32_t index) = 0;
    // The line's type code as the device reports it; 0 when it reports none.
    virtual std::int32_t LineType(std::int32_t index) = 0;
    // The line being recorded; -1 when it cannot be told.
    virtual std::int32_t SelectedLine() = 0;
    // Records line `index` (0 .. LineCount() - 1) from now on. False when the device
    // refuses.
    virtual bool SelectLine(std::int32_t index) = 0;
    // The selected line's volume, its first channel's when the channels differ; above 65535
    // for a volume above the full level.
    virtual std::int32_t Volume() = 0;
    // Sets every channel of the selected line to `volume` (clamped to 0 .. 65535).
    virtual void SetVolume(std::int32_t volume) = 0;
};

// The volume `volume` sets, in whole percent of the full level, as the desktop's mixer
// shows it. The sound server counts the full level in 0x10000 steps: a volume sets the
// nearest step (halves to even), and the desktop prints s steps as
// (s * 100 + 0x8000) / 0x10000 percent, so 19660 steps (what "30%" sets) show 30%, and
// 65535 shows 100%, 32768 50%, 0 0%. Volumes below 0 count as 0.
std::int32_t VolumePercent(std::int32_t volume);

} // namespace platform
