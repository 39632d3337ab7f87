#include "ScriptedMixer.h"

#include <algorithm>

ScriptedMixer::ScriptedMixer(ScriptedMixerState& state, std::vector<std::string>& log,
                             std::int32_t device)
    : state_(state), log_(log), device_(device) {
    log_.push_back("mixer open " + std::to_string(device_));
}

ScriptedMixer::~ScriptedMixer() {
    log_.push_back("mixer close " + std::to_string(device_));
}

const ScriptedMixerState::Line* ScriptedMixer::At(std::int32_t index) const {
    if (index < 0 || index >= static_cast<std::int32_t>(state_.lines.size())) {
        return nullptr;
    }
    return &state_.lines[static_cast<std::size_t>(index)];
}

std::int32_t ScriptedMixer::LineCount() {
    return static_cast<std::int32_t>(state_.lines.size());
}

std::string ScriptedMixer::LineName(std::int32_t index) {
    const auto* line = At(index);
    return line ? line->name : std::string();
}

std::int32_t ScriptedMixer::LineType(std::int32_t index) {
    const auto* line = At(index);
    return line ? line->type : 0;
}

std::int32_t ScriptedMixer::SelectedLine() {
    return state_.lines.empty() ? -1 : state_.selected;
}

bool ScriptedMixer::SelectLine(std::int32_t index) {
    if (state_.refusesSelect || At(index) == nullptr) {
        return false;
    }
    state_.selected = index;
    return true;
}

std::int32_t ScriptedMixer::Volume() {
    const auto* line = At(state_.selected);
    return line && !line->channelVolumes.empty() ? line->channelVolumes.front() : 0;
}

void ScriptedMixer::SetVolume(std::int32_t volume) {
    if (At(state_.selected) != nullptr) {
        auto& channels = state_.lines[static_cast<std::size_t>(state_.selected)].channelVolumes;
        std::fill(channels.begin(), channels.end(), std::clamp(volume, 0, 65535));
    }
}
