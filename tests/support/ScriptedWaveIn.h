#pragma once

#include "ScriptedMixer.h"
#include "platform/WaveInService.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A capture service driven by the test: a list of device names, failures on demand, a log
// of every device call, and sound fed in by the test on the user-interface thread.
//
// A device's name is its id too. `devices` is what is plugged in now; DeviceCount() takes
// a copy that DeviceName and DeviceId number, as a listing the window shows. Open and
// OpenMixer find the device in `devices` as it is at their call.
//
// Log lines: "open <device> <rate> <channels> <blockAlign> <bytesPerSec>", "prepare <user>",
// "unprepare <user>", "start", "add <user>", "stop", "reset", "close" (user = the header's
// user value), "mixer open <device>", "mixer close <device>"; <device> is the device's
// place in `devices` at the call, -1 for the default input, "gone" for an id no longer
// there. Failed calls are logged too, with " failed" appended.
class ScriptedWaveIn final : public platform::WaveInService {
public:
    class Device;

    std::vector<std::string> devices;
    int openError = 0;      // not 0: Open fails with this number
    int prepareFailAt = -1; // the Prepare call with this count (0 = first) of a device fails
    int startError = 0;     // not 0: Start fails with this number
    std::uint64_t silenceBytes = 0; // what the open device reports as silence written
    std::uint64_t droppedBytes = 0; // what the open device reports the server threw away
    std::vector<std::string> log;
    // Mixers by device; a device without an entry has a mixer without lines. Their opens
    // and closes go to `log` too.
    std::map<std::int32_t, ScriptedMixerState> mixers;

    std::int32_t DeviceCount() override;
    std::string DeviceName(std::int32_t index) override;
    std::string DeviceId(std::int32_t index) override;
    std::unique_ptr<platform::WaveInDevice>
    Open(const std::string& id, const platform::WaveInFormat& format,
         platform::WindowService& windows, platform::WindowHandle notify, int& error) override;
    std::unique_ptr<platform::Mixer> OpenMixer(const std::string& id) override;

    // The open device, null when none is open.
    Device* device() const { return open_; }
    platform::WindowHandle notifyWindow() const { return notify_; }

    // Feeds samples as the sound server would: into the queued buffers in order, handing
    // back each full one. Samples no queued buffer can take are kept (as the server keeps
    // them) and go into the next buffer queued. Nothing is filled before Start or after Stop;
    // after MarkEnd only the samples fed before it are.
    void Feed(std::span<const std::int16_t> samples);
    // Posts the device-failure message as a lost sound server would.
    void Fail(int error);
    // User values of the buffers queued at the open device, in queue order.
    std::vector<std::uintptr_t> Queued() const;

private:
    friend class Device;
    // The place of device `id` in `devices`; -1 for "" (the default), -2 when gone.
    std::int32_t Place(const std::string& id) const;

    std::optional<std::vector<std::string>> listed_; // the listing last taken
    Device* open_ = nullptr;
    platform::WindowHandle notify_ = 0;
};

class ScriptedWaveIn::Device final : public platform::WaveInDevice {
public:
    Device(ScriptedWaveIn& owner, platform::WindowService& windows, platform::WindowHandle notify);
    ~Device() override;

    int Prepare(platform::WaveInHeader& hdr) override;
    int Unprepare(platform::WaveInHeader& hdr) override;
    int AddBuffer(platform::WaveInHeader& hdr) override;
    int Start() override;
    int Stop() override;
    int Reset() override;
    void MarkEnd() override;
    bool FillToEnd() override;
    std::uint64_t SilenceBytes() const override { return owner_.silenceBytes; }
    std::uint64_t DroppedBytes() override { return owner_.droppedBytes; }

private:
    friend class ScriptedWaveIn;
    void Fill();
    void HandBackHead();
    void Log(const std::string& call, const platform::WaveInHeader* hdr, int result);

    ScriptedWaveIn& owner_;
    platform::WindowService& windows_;
    platform::WindowHandle notify_;
    std::deque<platform::WaveInHeader*> queue_;
    std::deque<std::int16_t> pending_; // fed, not yet taken by a buffer
    int prepareCalls_ = 0;
    bool started_ = false;
    bool ended_ = false;      // MarkEnd was called
    std::size_t endLeft_ = 0; // after MarkEnd: samples of pending_ still to be taken
};
