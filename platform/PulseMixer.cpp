#include "platform/PulseMixer.h"

#include <algorithm>
#include <cmath>

namespace platform {

namespace {

constexpr double fullScale = 65535.0; // Vocarn's volume at PA_VOLUME_NORM

// Receives the result of a server call that reports success or failure.
void StoreSuccess(pa_context*, int success, void* userdata) {
    *static_cast<bool*>(userdata) = success != 0;
}

} // namespace

std::int32_t PulseMixer::FromServerVolume(pa_volume_t v) {
    return static_cast<std::int32_t>(std::nearbyint(v * fullScale / PA_VOLUME_NORM));
}

pa_volume_t PulseMixer::ToServerVolume(std::int32_t volume) {
    const double clamped = std::clamp(static_cast<double>(volume), 0.0, fullScale);
    return static_cast<pa_volume_t>(std::nearbyint(clamped * PA_VOLUME_NORM / fullScale));
}

std::unique_ptr<PulseMixer> PulseMixer::Open(const std::string& source) {
    if (source.empty()) {
        return nullptr;
    }
    const auto deadline = PulseConnection::Clock::now() + PulseConnection::callTimeout;
    auto connection = PulseConnection::Connect(deadline);
    if (connection == nullptr) {
        return nullptr;
    }
    std::unique_ptr<PulseMixer> mixer(new PulseMixer(source, std::move(connection)));
    Snapshot s;
    if (!mixer->Query(s)) {
        return nullptr; // no such source (any more)
    }
    return mixer;
}

PulseMixer::PulseMixer(std::string source, std::unique_ptr<PulseConnection> connection)
    : source_(std::move(source)), connection_(std::move(connection)) {}

PulseConnection* PulseMixer::Connection(PulseConnection::Deadline deadline) {
    if (connection_ != nullptr) {
        PulseConnection::Lock lock(*connection_);
        if (connection_->Good()) {
            return connection_.get();
        }
    }
    connection_ = PulseConnection::Connect(deadline);
    return connection_.get();
}

bool PulseMixer::Query(Snapshot& snapshot) {
    const auto deadline = PulseConnection::Clock::now() + PulseConnection::callTimeout;
    PulseConnection* c = Connection(deadline);
    if (c == nullptr) {
        return false;
    }
    struct Result {
        bool found = false;
        Snapshot* into;
    } result{false, &snapshot};
    PulseConnection::Lock lock(*c);
    pa_operation* op = pa_context_get_source_info_by_name(
        c->context(), source_.c_str(),
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
            auto* r = static_cast<Result*>(userdata);
            if (eol != 0 || info == nullptr) {
                return;
            }
            Snapshot& s = *r->into;
            s.description = info->description ? info->description : "";
            s.ports.clear();
            s.active = -1;
            for (std::uint32_t i = 0; i < info->n_ports; ++i) {
                const pa_source_port_info* p = info->ports[i];
                if (p == info->active_port) {
                    s.active = static_cast<std::int32_t>(s.ports.size());
                }
                s.ports.push_back(Port{p->name ? p->name : "", p->description ? p->description : "",
                                       static_cast<std::int32_t>(p->type)});
            }
            s.volume = info->volume.channels > 0 ? info->volume.values[0] : PA_VOLUME_MUTED;
            s.channels = info->volume.channels;
            r->found = true;
        },
        &result);
    return c->WaitOperation(op, deadline) && result.found;
}

std::int32_t PulseMixer::LineCount() {
    Snapshot s;
    if (!Query(s)) {
        return 0;
    }
    return s.ports.empty() ? 1 : static_cast<std::int32_t>(s.ports.size());
}

std::string PulseMixer::LineName(std::int32_t index) {
    Snapshot s;
    if (!Query(s) || index < 0) {
        return {};
    }
    if (s.ports.empty()) {
        return index == 0 ? s.description : std::string();
    }
    return static_cast<std::size_t>(index) < s.ports.size()
               ? s.ports[static_cast<std::size_t>(index)].description
               : std::string();
}

std::int32_t PulseMixer::LineType(std::int32_t index) {
    Snapshot s;
    if (!Query(s) || index < 0 || static_cast<std::size_t>(index) >= s.ports.size()) {
        return 0; // the one line of a source without ports has no type either
    }
    return s.ports[static_cast<std::size_t>(index)].type;
}

std::int32_t PulseMixer::SelectedLine() {
    Snapshot s;
    if (!Query(s)) {
        return -1;
    }
    if (s.ports.empty()) {
        return 0;
    }
    // No active port: the last line, as a device without a line selector reports.
    return s.active >= 0 ? s.active : static_cast<std::int32_t>(s.ports.size()) - 1;
}

bool PulseMixer::SelectLine(std::int32_t index) {
    Snapshot s;
    if (!Query(s) || index < 0) {
        return false;
    }
    if (s.ports.empty()) {
        return index == 0; // the only line is always the one recorded
    }
    if (static_cast<std::size_t>(index) >= s.ports.size()) {
        return false;
    }
    const auto deadline = PulseConnection::Clock::now() + PulseConnection::callTimeout;
    PulseConnection* c = Connection(deadline);
    if (c == nullptr) {
        return false;
    }
    bool success = false;
    PulseConnection::Lock lock(*c);
    pa_operation* op = pa_context_set_source_port_by_name(
        c->context(), source_.c_str(), s.ports[static_cast<std::size_t>(index)].name.c_str(),
        &StoreSuccess, &success);
    return c->WaitOperation(op, deadline) && success;
}

std::int32_t PulseMixer::Volume() {
    Snapshot s;
    return Query(s) ? FromServerVolume(s.volume) : 0;
}

void PulseMixer::SetVolume(std::int32_t volume) {
    Snapshot s;
    if (!Query(s) || s.channels == 0) {
        return;
    }
    const auto deadline = PulseConnection::Clock::now() + PulseConnection::callTimeout;
    PulseConnection* c = Connection(deadline);
    if (c == nullptr) {
        return;
    }
    // The same value on each of the source's channels. (A one-channel volume would keep
    // the balance between channels that differ, scaling the loudest to the value.)
    pa_cvolume cv;
    pa_cvolume_set(&cv, s.channels, ToServerVolume(volume));
    bool success = false;
    PulseConnection::Lock lock(*c);
    c->WaitOperation(pa_context_set_source_volume_by_name(c->context(), source_.c_str(), &cv,
                                                          &StoreSuccess, &success),
                     deadline);
}

} // namespace platform
