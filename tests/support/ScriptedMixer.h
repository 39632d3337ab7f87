#pragma once

#include "platform/Mixer.h"

#include <cstdint>
#include <string>
#include <vector>

// What a scripted mixer holds; tests set it up and read it back.
struct ScriptedMixerState {
    struct Line {
        std::string name;
        std::int32_t type = 0;
        std::vector<std::int32_t> channelVolumes{0};
    };
    bool opens = true;          // false: the device's mixer cannot be opened
    bool refusesSelect = false; // SelectLine fails
    std::vector<Line> lines;
    std::int32_t selected = 0;
};

// A mixer over a ScriptedMixerState that the test keeps; every open and close is appended
// to `log` as "mixer open <device>" / "mixer close <device>".
class ScriptedMixer final : public platform::Mixer {
public:
    ScriptedMixer(ScriptedMixerState& state, std::vector<std::string>& log, std::int32_t device);
    ~ScriptedMixer() override;

    std::int32_t LineCount() override;
    std::string LineName(std::int32_t index) override;
    std::int32_t LineType(std::int32_t index) override;
    std::int32_t SelectedLine() override;
    bool SelectLine(std::int32_t index) override;
    std::int32_t Volume() override;
    void SetVolume(std::int32_t volume) override;

private:
    const ScriptedMixerState::Line* At(std::int32_t index) const;

    ScriptedMixerState& state_;
    std::vector<std::string>& log_;
    std::int32_t device_;
};
