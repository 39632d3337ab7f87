#pragma once

#include <pulse/pulseaudio.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// A source of the sound server as Vocarn lists it.
struct PulseSource {
    std::uint32_t index = 0;
    std::string name;
    std::string description;
    bool monitor = false; // the monitor of a sink ("what you hear")
};

// One connection to the sound server: a threaded mainloop and a connected context, owned
// together and released in a fixed order (disconnect, unref, stop the loop outside the lock,
// free).
//
// The mainloop thread runs libpulse's callbacks with the mainloop lock held; they must not
// lock or wait. Every call from another thread holds a Lock. Waits for the server (Wait,
// WaitOperation) take a deadline, so a hung server never blocks the caller for longer than
// the time it allows.
//
// A server that lets a wait run out its time is taken for hung: for the next few seconds
// every connection to it and wait for it in the process gives up at once, so that a window
// handler that makes several calls waits for the server once, not once per call. The first
// answer from the server, or the end of that time, ends it. (Servers are told apart by the
// address the environment names, PULSE_SERVER.)
class PulseConnection {
public:
    using Clock = std::chrono::steady_clock;
    using Deadline = Clock::time_point;

    // How long one call from the user-interface thread may wait for the server.
    static constexpr std::chrono::milliseconds callTimeout{1500};
    // How long the server is taken for hung after a wait ran out its time.
    static constexpr std::chrono::milliseconds hungBackoff{3000};

    // Starts a mainloop thread and connects to the server named by the environment (never
    // starting one). Null when the server cannot be reached by the deadline.
    static std::unique_ptr<PulseConnection> Connect(Deadline deadline);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_threaded_mainloop* mainloop() const { return mainloop_; }
    pa_context* context() const { return context_; }

    // Holds the mainloop lock; does nothing on the mainloop thread, which holds it already.
    class Lock {
    public:
        explicit Lock(const PulseConnection& c);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* mainloop_;
    };

    // With the lock held: true while the context is connected and ready.
    bool Good() const;
    // With the lock held, off the mainloop thread: waits until `done` is true, the context
    // leaves the good states, or the deadline passes. Returns done(). Callbacks that change
    // what `done` looks at must call Signal(). `answerDue`: the server owes an answer by the
    // deadline, so a wait that runs out takes it for hung, and a server taken for hung is
    // not waited for; false for a wait on something that may well not come (sound a source
    // has not captured yet), which waits its time in any case.
    bool Wait(const std::function<bool()>& done, Deadline deadline, bool answerDue = true);
    // With the lock held: waits for `op` to finish (cancelling it when the deadline passes)
    // and releases it. True when it finished. A null `op` gives false.
    bool WaitOperation(pa_operation* op, Deadline deadline);
    // Wakes a Wait; for callbacks.
    void Signal();

    // With the lock held: the server's sources, input sources first, then monitors, each in
    // index order. False when the query failed or timed out.
    bool Sources(std::vector<PulseSource>& sources, Deadline deadline);

private:
    PulseConnection() = default;
    // True while the server is taken for hung.
    static bool ServerHung();
    static void NoteHungServer();
    static void ForgetHungServer();

    pa_threaded_mainloop* mainloop_ = nullptr;
    pa_context* context_ = nullptr;
    bool running_ = false;
};

} // namespace platform
