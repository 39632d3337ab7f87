#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <limits>
#include <string>
#include <thread>
#include <vector>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

// Feeds a known stereo signal, 16-bit at 44100 Hz, to a source of the test run's sound server
// (scripts/sound-server) while a test records that source, so that any lost, doubled or
// reordered frame shows.
//
// PulseAudio: the frames go into the pipe source's FIFO (VOCARN_TEST_PIPE), 441 every 10 ms,
// in real time, from a thread of the feeder's own. The pipe source delivers what is written
// and nothing else: the first frame recorded is the first frame written.
// PipeWire: the frames are played into a null sink of their own (VOCARN_TEST_RAMP_SINK), and
// its monitor is recorded. The server asks for them as it plays them, half a second ahead,
// so the feeding keeps up however busy the machine is for less than that. The monitor
// delivers silence before the first frame and after the last; the frames follow half a
// second of silence, by which time the server has linked both channels of the recording
// stream and of the feeder's own.
class RampFeeder {
public:
    // Frame k of the signal, left and right.
    using Frame = std::array<std::int16_t, 2> (*)(std::uint32_t k);

    explicit RampFeeder(Frame frame);
    ~RampFeeder();
    RampFeeder(const RampFeeder&) = delete;
    RampFeeder& operator=(const RampFeeder&) = delete;

    // Connected to the FIFO or the server; otherwise a test failure says why.
    bool ok() const { return fd_ >= 0 || stream_ != nullptr; }
    // The source that records the signal, by name.
    const std::string& Source() const { return source_; }
    // The source gives silence before the first frame and after the last (a monitor).
    bool SilenceAround() const { return stream_ != nullptr; }

    // Feeds frames 0, 1, ... until `frames` are fed or Stop.
    void Start(std::uint32_t frames = std::numeric_limits<std::uint32_t>::max());
    // Ends the feeding; returns once every frame fed is with the server (on PipeWire:
    // played into the sink, so its monitor has delivered it). Reports a failure when the
    // sink ran dry while the frames were being played, which would show as silence inside
    // the signal that no recorder put there.
    void Stop();
    // Every one of Start's `frames` is fed, as Stop would leave it.
    bool Done() const { return done_; }
    // Frames fed so far.
    std::uint32_t Written() const { return written_; }

private:
    void WriteToFifo(std::uint32_t frames);
    // Mainloop thread, lock held: plays what the server asks for, up to `bytes`.
    void Play(std::size_t bytes);
    void Drain();
    static void StateCallback(pa_context* context, void* userdata);
    static void StreamStateCallback(pa_stream* stream, void* userdata);
    static void WriteCallback(pa_stream* stream, std::size_t bytes, void* userdata);
    static void UnderflowCallback(pa_stream* stream, void* userdata);
    static void DrainCallback(pa_stream* stream, int success, void* userdata);

    Frame frame_;
    std::string source_;
    std::atomic<bool> done_{false};
    std::atomic<std::uint32_t> written_{0};

    // PulseAudio
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};

    // PipeWire; all but the loop are guarded by its lock.
    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    bool started_ = false;         // Start was called
    bool ended_ = false;           // no more frames: the limit is reached or Stop was called
    bool drained_ = false;         // everything written is played
    std::uint32_t leadIn_ = 0;     // frames of silence still to play before frame 0
    std::uint32_t limit_ = 0;      // Start's `frames`
    std::uint32_t underflows_ = 0; // times the sink ran dry while frames were due
    std::vector<std::int16_t> chunk_;
};
