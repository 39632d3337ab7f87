#pragma once

#include "platform/PulseConnection.h"
#include "platform/WaveInService.h"

#include <memory>
#include <string>

namespace platform {

// One capture device on the sound server: a record stream on a connection of its own.
//
// The stream asks for fragments of about 58 ms and leaves the server's 4 MiB backlog in
// place (about 23 s at 44.1 kHz stereo), so sound that no queued buffer can take yet stays
// with the server and is read as soon as a buffer is queued. It is connected with
// PA_STREAM_DONT_MOVE: when its source goes away it fails instead of going on with another
// source, and WIM_DEVICE_FAILED is posted.
//
// Sound thrown away unread is counted from the stream's timing reports (DroppedBytes), asked
// for every 250 ms while a take runs (more often for a short backlog), in two ways:
// - Thrown away after it entered the stream's queue (PipeWire drops the oldest part of a full
//   queue, and libpulse the newest part of its own full queue on this side): the report's
//   read index runs ahead of what was taken off the stream.
// - Never let into the queue: PulseAudio keeps the stream's queue on the server, and while
//   the whole program stands still (stopped, or its loop thread starved) that queue fills and
//   the server drops what the source captures next, moving no index at all. The source's
//   own clock shows it: the stream time of a report (write index plus what the source and
//   the sink still hold, as pa_stream_get_time counts it) falls behind the time passed. The
//   shortfall between two reports is counted when the server's queue could have run full in
//   between (the sound of that time and what it held before exceed the backlog; libpulse
//   reads the server's sound whenever its loop runs) and it exceeds
//   what the readings' own unevenness and the source's clock drift allow. So the start of a
//   null sink's monitor (the sink's latency, which the stream time includes) and a source
//   that stops sending while the program runs are never counted.
// On PulseAudio the two ways see different sound and both count. PipeWire's pulse server
// drops only from the stream's queue, which the read index shows; its stream time moves in
// whole graph cycles and falls behind a little when it drops a full queue, so its clock is
// not read for losses.
//
// Callbacks (ReadCallback, StateCallback) run on the mainloop thread with the lock held.
// They never block, never allocate and never call into Vocarn's classes: they copy sound
// into queued buffers, mark buffers done and post messages to the notification window.
// The other members run on the user-interface thread and take the lock for their work.
class PulseWaveInDevice final : public WaveInDevice {
public:
    PulseWaveInDevice(std::unique_ptr<PulseConnection> connection, WindowService& windows,
                      WindowHandle notify);
    ~PulseWaveInDevice() override;
    PulseWaveInDevice(const PulseWaveInDevice&) = delete;
    PulseWaveInDevice& operator=(const PulseWaveInDevice&) = delete;

    // Creates the record stream on `source` (the default source when empty), not started.
    // Returns an MMSYSERR_* number.
    // `backlogBytes` is the most the server keeps for the stream (0: the server's default).
    int Connect(const std::string& source, const WaveInFormat& format,
                PulseConnection::Deadline deadline, std::uint32_t backlogBytes = 0);

    int Prepare(WaveInHeader& hdr) override;
    int Unprepare(WaveInHeader& hdr) override;
    int AddBuffer(WaveInHeader& hdr) override;
    int Start() override;
    int Stop() override;
    int Reset() override;
    // The end mark is what the stream holds unread at the moment of the call, as a timing
    // report tells it, plus what the source has captured but not yet sent; the report and
    // the sound are waited for until a short time after the call at most.
    void MarkEnd() override;
    bool FillToEnd() override;
    std::uint64_t SilenceBytes() const override;
    std::uint64_t DroppedBytes() override;

private:
    // A timing report as the source's clock reads it.
    struct ClockReading {
        bool valid = false;
        std::int64_t atUsec = 0;             // when the server took it, on the monotonic clock
        std::int64_t streamUsec = 0;         // stream time of the sound captured by then
        std::uint64_t serverQueuedBytes = 0; // in the stream's queue on the server
    };

    static void ReadCallback(pa_stream* stream, size_t nbytes, void* userdata);
    static void StateCallback(pa_stream* stream, void* userdata);
    static void TimingCallback(pa_stream* stream, void* userdata);
    static void SuspendedCallback(pa_stream* stream, void* userdata);
    static void ClockTimerCallback(pa_mainloop_api* api, pa_time_event* event,
                                   const struct timeval* tv, void* userdata);

    // Lock held. Copies what the server holds into the queued buffers, in queue order,
    // while a buffer is queued; hands back each buffer that becomes full.
    void Fill();
    // Lock held. Marks the buffer at the head of the queue done and posts it.
    void HandBackHead();
    bool StreamReady() const;
    void Cork(bool cork);
    // Lock held. Bytes taken off the stream so far, counting the part of the fragment in
    // hand that has been copied.
    std::uint64_t Position() const { return consumedBytes_ + peekOffset_; }
    // Lock held. The sound the server dropped before it entered the stream's queue since
    // the previous report, in bytes.
    std::uint64_t ReadClock(const pa_timing_info& info);

    std::unique_ptr<PulseConnection> connection_;
    WindowService& windows_;
    WindowHandle notify_;
    pa_stream* stream_ = nullptr;

    // Everything below is guarded by the mainloop lock.
    WaveInHeader* head_ = nullptr; // queued buffers, filled from the head
    WaveInHeader* tail_ = nullptr;
    std::size_t peekOffset_ = 0; // bytes of the server's current fragment already copied
    std::uint64_t silenceBytes_ = 0;
    // Bytes taken off the stream (read or skipped as a gap), and that count when the last
    // timing report came.
    std::uint64_t consumedBytes_ = 0;
    std::uint64_t reportConsumedBytes_ = 0;
    // What the read index shows thrown away from a queue so far, and all that was thrown
    // away, as the reports so far show it.
    std::uint64_t queueDroppedBytes_ = 0;
    std::uint64_t droppedBytes_ = 0;
    ClockReading lastReading_;
    pa_time_event* clockTimer_ = nullptr; // asks for the timing reports while a take runs
    pa_usec_t clockPeriodUsec_ = 250000;
    pa_sample_spec spec_{};
    std::uint32_t backlogBytes_ = 0; // the stream's queue as the server granted it
    bool countClockLoss_ = true;     // false on PipeWire's pulse server
    // The end of the take (MarkEnd): the stream position up to which sound is still taken,
    // and until when it is waited for.
    bool endMarked_ = false;
    std::uint64_t endPosition_ = 0;
    PulseConnection::Deadline endDeadline_{};
    bool connected_ = false; // Connect succeeded
    bool started_ = false;   // between Start and Stop/Reset
    bool failureReported_ = false;
    bool shutdown_ = false; // being destroyed: callbacks do nothing
};

} // namespace platform
