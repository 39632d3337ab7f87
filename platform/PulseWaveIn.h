#pragma once

#include "platform/PulseConnection.h"
#include "platform/WaveInService.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// The capture devices of the PulseAudio server (or PipeWire's pulse server): its sources,
// input sources first, then the monitors of its sinks, each in the server's index order;
// a device's name is its source's description and its id the source's name on the server,
// which a source keeps when it is plugged in again. The id "" is the server's default
// source.
//
// Each call waits for the server for at most PulseConnection::callTimeout; without a
// server DeviceCount() is 0 and Open fails with MMSYSERR_NODRIVER. An open device has a
// connection of its own (see PulseWaveInDevice).
class PulseWaveIn final : public WaveInService {
public:
    PulseWaveIn();
    ~PulseWaveIn() override;

    std::int32_t DeviceCount() override;
    std::string DeviceName(std::int32_t index) override;
    std::string DeviceId(std::int32_t index) override;
    std::unique_ptr<WaveInDevice> Open(const std::string& id, const WaveInFormat& format,
                                       WindowService& windows, WindowHandle notify,
                                       int& error) override;
    // A PulseMixer on the source.
    std::unique_ptr<Mixer> OpenMixer(const std::string& id) override;

    // Tests only: devices opened from now on ask the server to keep at most `bytes` of
    // unread sound (0: the server's default, about 23 s at 44.1 kHz stereo), so that a
    // short stall overflows it.
    void setBacklogForTests(std::uint32_t bytes) { backlogBytes_ = bytes; }

private:
    // The server's sources in device order; false when the server cannot be asked.
    bool Sources(std::vector<PulseSource>& sources);
    // Source `index` of the kept list (read first when none was read); null outside it.
    const PulseSource* Listed(std::int32_t index);

    std::unique_ptr<PulseConnection> queries_; // for the device list, made when needed
    // The device list as last read: what the device numbers mean.
    std::optional<std::vector<PulseSource>> listed_;
    std::uint32_t backlogBytes_ = 0;
};

} // namespace platform
