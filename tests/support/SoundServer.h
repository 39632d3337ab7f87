#pragma once

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Helpers for tests that use the private sound server of the test run (PULSE_SERVER).

// Which server scripts/sound-server started for the run (VOCARN_TEST_SERVER): "pulseaudio"
// or "pipewire" (PipeWire's PulseAudio service); "pulseaudio" when unset.
std::string TestServer();
bool OnPipeWire();

// Runs pactl with `args`; its output, or empty after reporting a test failure.
QByteArray Pactl(const QStringList& args);

struct ServerSource {
    int index;
    std::string name;
    std::string description;
    bool monitor;
};

// The server's sources as pactl reports them, in Vocarn's device order: input sources,
// then monitors, each by index.
std::vector<ServerSource> SourcesInDeviceOrder();

// The device number of the source called `name`; -1 (and a test failure) when absent.
std::int32_t DeviceIndexOf(const std::string& name);

// The volume of each channel of the source called `name` as pactl reports it: the raw
// value and its percent text ("150%").
std::vector<std::pair<int, std::string>> SourceVolumes(const std::string& name);

// Puts the source's volume back to 100 % however the test ends.
class FullVolumeAfterwards {
public:
    explicit FullVolumeAfterwards(std::string name) : name_(std::move(name)) {}
    ~FullVolumeAfterwards();
    FullVolumeAfterwards(const FullVolumeAfterwards&) = delete;
    FullVolumeAfterwards& operator=(const FullVolumeAfterwards&) = delete;

private:
    std::string name_;
};

// The names of the sources this process's record streams read, as the server sees them.
std::vector<std::string> RecordedSources();

// A module loaded into the server (a device plugged in) until Unload or the end of the
// object.
class LoadedModule {
public:
    explicit LoadedModule(const QStringList& args); // "module-null-sink", "sink_name=..."
    ~LoadedModule() { Unload(); }
    LoadedModule(const LoadedModule&) = delete;
    LoadedModule& operator=(const LoadedModule&) = delete;

    bool ok() const { return !number_.isEmpty(); }
    void Unload();

private:
    QByteArray number_;
};

// The arguments of pactl load-module that plug in an input source called `name` that gives
// silence: PulseAudio's null source; PipeWire's PulseAudio service has none and makes a null
// sink of the input class instead.
QStringList NullSourceModule(const std::string& name);

// Points PULSE_SERVER at `address` for the life of the object.
class ServerOverride {
public:
    explicit ServerOverride(const std::string& address);
    ~ServerOverride();
    ServerOverride(const ServerOverride&) = delete;
    ServerOverride& operator=(const ServerOverride&) = delete;

private:
    std::string saved_;
    bool hadValue_ = false;
};
