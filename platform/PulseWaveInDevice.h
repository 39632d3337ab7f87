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
// source, and WIM_DEVICE_FAILED is posted. Sound the server throws away because the
// backlog is full is counted from the stream's timing reports (DroppedBytes).
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
    static void ReadCallback(pa_stream* stream, size_t nbytes, void* userdata);
    static void StateCallback(pa_stream* stream, void* userdata);
    static void TimingCallback(pa_stream* stream, void* userdata);

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
    // What the server dropped as of its last timing report.
    std::uint64_t queueDroppedBytes_ = 0;
    pa_sample_spec spec_{};
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
