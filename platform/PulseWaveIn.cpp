#include "platform/PulseWaveIn.h"

#include "platform/PulseMixer.h"
#include "platform/PulseWaveInDevice.h"

namespace platform {

PulseWaveIn::PulseWaveIn() = default;
PulseWaveIn::~PulseWaveIn() = default;

bool PulseWaveIn::Sources(std::vector<PulseSource>& sources) {
    const auto deadline = PulseConnection::Clock::now() + PulseConnection::callTimeout;
    if (queries_ != nullptr) {
        PulseConnection::Lock lock(*queries_);
        if (queries_->Good() && queries_->Sources(sources, deadline)) {
            return true;
        }
    }
    // No connection yet, or the server went away since: connect (again).
    queries_ = PulseConnection::Connect(deadline);
    if (queries_ == nullptr) {
        return false;
    }
    PulseConnection::Lock lock(*queries_);
    return queries_->Sources(sources, deadline);
}

std::int32_t PulseWaveIn::DeviceCount() {
    std::vector<PulseSource> sources;
    if (!Sources(sources)) {
        sources.clear(); // no server: no devices
    }
    listed_ = std::move(sources);
    return static_cast<std::int32_t>(listed_->size());
}

const PulseSource* PulseWaveIn::Listed(std::int32_t index) {
    if (!listed_) {
        DeviceCount();
    }
    if (index < 0 || static_cast<std::size_t>(index) >= listed_->size()) {
        return nullptr;
    }
    return &(*listed_)[static_cast<std::size_t>(index)];
}

std::string PulseWaveIn::DeviceName(std::int32_t index) {
    const PulseSource* source = Listed(index);
    return source != nullptr ? source->description : std::string();
}

std::string PulseWaveIn::DeviceId(std::int32_t index) {
    const PulseSource* source = Listed(index);
    return source != nullptr ? source->name : std::string();
}

std::unique_ptr<WaveInDevice> PulseWaveIn::Open(const std::string& id, const WaveInFormat& format,
                                                WindowService& windows, WindowHandle notify,
                                                int& error) {
    const auto deadline = PulseConnection::Clock::now() + PulseConnection::callTimeout;
    auto connection = PulseConnection::Connect(deadline);
    if (connection == nullptr) {
        error = MMSYSERR_NODRIVER;
        return nullptr;
    }
    // The stream goes to exactly this source (the default one for ""); a source that is
    // gone fails the connection with MMSYSERR_BADDEVICEID.
    auto opened = std::make_unique<PulseWaveInDevice>(std::move(connection), windows, notify);
    error = opened->Connect(id, format, deadline, backlogBytes_);
    if (error != MMSYSERR_NOERROR) {
        return nullptr;
    }
    return opened;
}

std::unique_ptr<Mixer> PulseWaveIn::OpenMixer(const std::string& id) {
    return PulseMixer::Open(id);
}

} // namespace platform
