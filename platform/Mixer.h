#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The mixer of one capture device: the input lines that can feed it (microphone, line in,
// ...), which of them is recorded, and the recording volume.
//
// Lines run 0 .. LineCount() - 1. Volumes run 0 .. 65535, where 65535 is the device's
// full (unamplified) level. When the device cannot be asked (it went away, the sound
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
    // The selected line's volume, its first channel's when the channels differ.
    virtual std::int32_t Volume() = 0;
    // Sets every channel of the selected line to `volume` (clamped to 0 .. 65535).
    virtual void SetVolume(std::int32_t volume) = 0;
};

} // namespace platform
