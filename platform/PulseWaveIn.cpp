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
    return Sources(sources) ? static_cast<std::int32_t>(sources.size()) : 0;
}

std::string PulseWaveIn::DeviceName(std::int32_t index) {
    std::vector<PulseSource> sources;
    if (index < 0 || !Sources(sources) || static_cast<std::size_t>(index) >= sources.size()) {
        return {};
    }
    return sources[static_cast<std::size_t>(index)].description;
}

std::unique_ptr<WaveInDevice> PulseWaveIn::Open(std::int32_t device, const WaveInFormat& format,
                                                WindowService& windows, WindowHandle notify,
                                                int& error) {
    const auto deadline = PulseConnection::Clock::now() + PulseConnection::callTimeout;
    if (device < -1) {
        error = MMSYSERR_BADDEVICEID;
        return nullptr;
    }
    auto connection = PulseConnection::Connect(deadline);
    if (connection == nullptr) {
        error = MMSYSERR_NODRIVER;
        return nullptr;
    }
    std::string source; // empty: the default source
    if (device >= 0) {
        std::vector<PulseSource> sources;
        {
            PulseConnection::Lock lock(*connection);
            if (!connection->Sources(sources, deadline)) {
                error = MMSYSERR_ERROR;
                return nullptr;
            }
        }
        if (static_cast<std::size_t>(device) >= sources.size()) {
            error = MMSYSERR_BADDEVICEID;
            return nullptr;
        }
        source = sources[static_cast<std::size_t>(device)].name;
    }
    auto opened = std::make_unique<PulseWaveInDevice>(std::move(connection), windows, notify);
    error = opened->Connect(source, format, deadline, backlogBytes_);
    if (error != MMSYSERR_NOERROR) {
        return nullptr;
    }
    return opened;
}

std::unique_ptr<Mixer> PulseWaveIn::OpenMixer(std::int32_t device) {
    return PulseMixer::Open(device);
}

} // namespace platform
