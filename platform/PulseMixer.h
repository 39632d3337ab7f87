#pragma once

#include "platform/Mixer.h"
#include "platform/PulseConnection.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

// The mixer of a capture device on the sound server: the device's source.
//
// Its lines are the source's ports, in the order the server gives them; a source without
// ports has one line, named after the source (its description), of type 0. A line's name
// is the port's description and its type the port's type code. The selected line is the
// active port, and selecting a line makes its port the active one. The volume is the
// source's volume: 0 .. 65535 maps linearly onto 0 .. PA_VOLUME_NORM (halves to even),
// and a volume above the norm reads above 65535 on the same scale; reads give the first
// channel, writes (at most PA_VOLUME_NORM) put the same value on every channel.
//
// Every member asks the server afresh (ports and volumes change behind Vocarn's back) and
// waits for it at most PulseConnection::callTimeout. The mixer keeps a connection of its
// own and makes a new one when the server has gone and come back.
class PulseMixer final : public Mixer {
public:
    // Opens the mixer of the source named `source`; null when the server has no such
    // source or cannot be reached.
    static std::unique_ptr<PulseMixer> Open(const std::string& source);

    std::int32_t LineCount() override;
    std::string LineName(std::int32_t index) override;
    std::int32_t LineType(std::int32_t index) override;
    std::int32_t SelectedLine() override;
    bool SelectLine(std::int32_t index) override;
    std::int32_t Volume() override;
    void SetVolume(std::int32_t volume) override;

    // Conversions between Vocarn's volume range and the server's.
    static std::int32_t FromServerVolume(pa_volume_t v);
    static pa_volume_t ToServerVolume(std::int32_t volume);

private:
    struct Port {
        std::string name;
        std::string description;
        std::int32_t type = 0;
    };
    struct Snapshot {
        std::string description;
        std::vector<Port> ports;
        std::int32_t active = -1;             // index into ports; -1 when none is active
        pa_volume_t volume = PA_VOLUME_MUTED; // of the first channel
        std::uint8_t channels = 0;
    };

    PulseMixer(std::string source, std::unique_ptr<PulseConnection> connection);
    // The connection, made again when the old one has failed; null without a server.
    PulseConnection* Connection(PulseConnection::Deadline deadline);
    // The source as the server sees it now; false when it cannot be asked.
    bool Query(Snapshot& snapshot);

    std::string source_; // the source's name, which stays when it is plugged in again
    std::unique_ptr<PulseConnection> connection_;
};

} // namespace platform
