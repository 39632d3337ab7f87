#include "platform/PulseConnection.h"

#include <pulse/rtclock.h>

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <string>
#include <tuple>

namespace platform {

namespace {

void SignalMainloop(pa_threaded_mainloop* mainloop) {
    pa_threaded_mainloop_signal(mainloop, 0);
}

// The server taken for hung (by its address, as the environment names it) and until when.
struct HungServer {
    std::mutex mutex;
    std::string address;
    PulseConnection::Clock::time_point until{};
};

HungServer& hungServer() {
    static HungServer hung;
    return hung;
}

std::string ServerAddress() {
    const char* address = std::getenv("PULSE_SERVER");
    return address != nullptr ? address : "";
}

} // namespace

bool PulseConnection::ServerHung() {
    HungServer& hung = hungServer();
    const std::lock_guard<std::mutex> lock(hung.mutex);
    return Clock::now() < hung.until && hung.address == ServerAddress();
}

void PulseConnection::ForgetHungServer() {
    HungServer& hung = hungServer();
    const std::lock_guard<std::mutex> lock(hung.mutex);
    hung.until = {};
}

void PulseConnection::NoteHungServer() {
    HungServer& hung = hungServer();
    const std::lock_guard<std::mutex> lock(hung.mutex);
    hung.address = ServerAddress();
    hung.until = Clock::now() + hungBackoff;
}

std::unique_ptr<PulseConnection> PulseConnection::Connect(Deadline deadline) {
    if (ServerHung()) {
        return nullptr;
    }
    std::unique_ptr<PulseConnection> c(new PulseConnection);
    c->mainloop_ = pa_threaded_mainloop_new();
    if (c->mainloop_ == nullptr) {
        return nullptr;
    }
    c->context_ = pa_context_new(pa_threaded_mainloop_get_api(c->mainloop_), "Vocarn");
    if (c->context_ == nullptr) {
        return nullptr;
    }
    pa_context_set_state_callback(
        c->context_,
        [](pa_context*, void* userdata) { static_cast<PulseConnection*>(userdata)->Signal(); },
        c.get());
    if (pa_threaded_mainloop_start(c->mainloop_) < 0) {
        return nullptr;
    }
    c->running_ = true;

    Lock lock(*c);
    if (pa_context_connect(c->context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return nullptr;
    }
    c->Wait([&] { return pa_context_get_state(c->context_) == PA_CONTEXT_READY; }, deadline);
    if (pa_context_get_state(c->context_) != PA_CONTEXT_READY) {
        return nullptr;
    }
    return c;
}

PulseConnection::~PulseConnection() {
    if (context_ != nullptr) {
        {
            Lock lock(*this);
            pa_context_set_state_callback(context_, nullptr, nullptr);
            if (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
                pa_context_disconnect(context_);
            }
            pa_context_unref(context_);
        }
        context_ = nullptr;
    }
    if (mainloop_ != nullptr) {
        if (running_) {
            pa_threaded_mainloop_stop(mainloop_); // outside the lock
        }
        pa_threaded_mainloop_free(mainloop_);
    }
}

PulseConnection::Lock::Lock(const PulseConnection& c)
    : mainloop_(pa_threaded_mainloop_in_thread(c.mainloop_) ? nullptr : c.mainloop_) {
    if (mainloop_ != nullptr) {
        pa_threaded_mainloop_lock(mainloop_);
    }
}

PulseConnection::Lock::~Lock() {
    if (mainloop_ != nullptr) {
        pa_threaded_mainloop_unlock(mainloop_);
    }
}

bool PulseConnection::Good() const {
    return pa_context_get_state(context_) == PA_CONTEXT_READY;
}

void PulseConnection::Signal() {
    SignalMainloop(mainloop_);
}

bool PulseConnection::Wait(const std::function<bool()>& done, Deadline deadline, bool answerDue) {
    if (done()) {
        return true;
    }
    const auto remaining =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
    if (remaining.count() <= 0 || (answerDue && ServerHung())) {
        return false;
    }
    // A timer on the loop wakes the wait at the deadline even if the server stays silent.
    pa_time_event* timer = pa_context_rttime_new(
        context_, pa_rtclock_now() + static_cast<pa_usec_t>(remaining.count()),
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
            SignalMainloop(static_cast<pa_threaded_mainloop*>(userdata));
        },
        mainloop_);
    while (!done() && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) &&
           Clock::now() < deadline) {
        pa_threaded_mainloop_wait(mainloop_);
    }
    if (timer != nullptr) {
        pa_threaded_mainloop_get_api(mainloop_)->time_free(timer);
    }
    if (done()) {
        ForgetHungServer(); // it answers
        return true;
    }
    if (answerDue && PA_CONTEXT_IS_GOOD(pa_context_get_state(context_))) {
        NoteHungServer(); // still connected, but silent until the deadline
    }
    return false;
}

bool PulseConnection::WaitOperation(pa_operation* op, Deadline deadline) {
    if (op == nullptr) {
        return false;
    }
    pa_operation_set_state_callback(
        op,
        [](pa_operation*, void* userdata) {
            SignalMainloop(static_cast<pa_threaded_mainloop*>(userdata));
        },
        mainloop_);
    const bool finished =
        Wait([op] { return pa_operation_get_state(op) != PA_OPERATION_RUNNING; }, deadline) &&
        pa_operation_get_state(op) == PA_OPERATION_DONE;
    if (pa_operation_get_state(op) == PA_OPERATION_RUNNING) {
        pa_operation_cancel(op); // its callback will not run any more
    }
    pa_operation_set_state_callback(op, nullptr, nullptr);
    pa_operation_unref(op);
    return finished;
}

bool PulseConnection::Sources(std::vector<PulseSource>& sources, Deadline deadline) {
    struct Query {
        PulseConnection* self;
        std::vector<PulseSource> found;
    } query{this, {}};
    pa_operation* op = pa_context_get_source_info_list(
        context_,
        [](pa_context*, const pa_source_info* info, int eol, void* userdata) {
            auto* q = static_cast<Query*>(userdata);
            if (eol == 0 && info != nullptr) {
                q->found.push_back(PulseSource{info->index, info->name ? info->name : "",
                                               info->description ? info->description : "",
                                               info->monitor_of_sink != PA_INVALID_INDEX});
            }
        },
        &query);
    if (!WaitOperation(op, deadline)) {
        return false;
    }
    std::sort(query.found.begin(), query.found.end(), [](const auto& a, const auto& b) {
        return std::tie(a.monitor, a.index) < std::tie(b.monitor, b.index);
    });
    sources = std::move(query.found);
    return true;
}

} // namespace platform
