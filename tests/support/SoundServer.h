#pragma once

#include <QByteArray>
#include <QStringList>

#include <cstdint>
#include <string>
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
