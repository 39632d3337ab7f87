#include "platform/PulseWaveInDevice.h"

#include <pulse/rtclock.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {

namespace {
// Fragment the stream asks the server for, in microseconds: about one default buffer
// (10240 bytes at 44.1 kHz stereo).
constexpr pa_usec_t fragmentUsec = 58000;
// How long after the end mark its timing report and the sound still on its way are waited
// for. The source's own latency is about one fragment.
constexpr std::chrono::milliseconds endWait{500};
// How far two readings of the source's clock may fall behind the time passed without sound
// being lost: the unevenness of the readings (a pipe source sends in steps of its writer),
// and 200 ppm of the time between them for a sound card's clock against the system's.
constexpr std::int64_t clockToleranceUsec = 50000;
// The longest time between two timing reports while a take runs.
constexpr pa_usec_t clockPeriodMaxUsec = 250000;
constexpr std::int64_t clockDriftDivisor = 5000;
} // namespace

PulseWaveInDevice::PulseWaveInDevice(std::unique_ptr<PulseConnection> connection,
                                     WindowService& windows, WindowHandle notify)
    : connection_(std::move(connection)), windows_(windows), notify_(notify) {}

PulseWaveInDevice::~PulseWaveInDevice() {
    {
        PulseConnection::Lock lock(*connection_);
        shutdown_ = true;
        if (clockTimer_ != nullptr) {
            pa_threaded_mainloop_get_api(connection_->mainloop())->time_free(clockTimer_);
            clockTimer_ = nullptr;
        }
        if (stream_ != nullptr) {
            pa_stream_set_read_callback(stream_, nullptr, nullptr);
            pa_stream_set_state_callback(stream_, nullptr, nullptr);
            pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
            pa_stream_set_suspended_callback(stream_, nullptr, nullptr);
            if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
                pa_stream_disconnect(stream_);
            }
            pa_stream_unref(stream_);
            stream_ = nullptr;
        }
        head_ = tail_ = nullptr;
    }
    connection_.reset(); // disconnects and stops the loop outside the lock
}

int PulseWaveInDevice::Connect(const std::string& source, const WaveInFormat& format,
                               PulseConnection::Deadline deadline, std::uint32_t backlogBytes) {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = format.samplerate > 0 ? static_cast<std::uint32_t>(format.samplerate) : 0;
    spec.channels = format.channels > 0 && format.channels <= static_cast<int>(PA_CHANNELS_MAX)
                        ? static_cast<std::uint8_t>(format.channels)
                        : 0;
    if (!pa_sample_spec_valid(&spec)) {
        return MMSYSERR_INVALPARAM;
    }
    pa_channel_map map;
    if (pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_WAVEEX) == nullptr) {
        return MMSYSERR_INVALPARAM;
    }

    PulseConnection::Lock lock(*connection_);
    spec_ = spec;
    stream_ = pa_stream_new(connection_->context(), "Vocarn", &spec, &map);
    if (stream_ == nullptr) {
        return MMSYSERR_ERROR;
    }
    pa_stream_set_state_callback(stream_, &PulseWaveInDevice::StateCallback, this);
    pa_stream_set_read_callback(stream_, &PulseWaveInDevice::ReadCallback, this);
    pa_stream_set_latency_update_callback(stream_, &PulseWaveInDevice::TimingCallback, this);
    pa_stream_set_suspended_callback(stream_, &PulseWaveInDevice::SuspendedCallback, this);

    pa_buffer_attr attr;
    attr.maxlength =
        backlogBytes != 0 ? backlogBytes : static_cast<std::uint32_t>(-1); // the server's default
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(fragmentUsec, &spec));
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY |
                                                      PA_STREAM_DONT_MOVE | PA_STREAM_START_CORKED);
    if (pa_stream_connect_record(stream_, source.empty() ? nullptr : source.c_str(), &attr, flags) <
        0) {
        return MMSYSERR_ERROR;
    }
    connection_->Wait([this] { return pa_stream_get_state(stream_) != PA_STREAM_CREATING; },
                      deadline);
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) {
        return pa_context_errno(connection_->context()) == PA_ERR_NOENTITY ? MMSYSERR_BADDEVICEID
                                                                           : MMSYSERR_ERROR;
    }
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(stream_);
    backlogBytes_ = granted != nullptr ? granted->maxlength : attr.maxlength;
    // Reports come at least four times per backlog, so between two of them the server's
    // queue cannot run full while this program runs.
    clockPeriodUsec_ =
        std::min<pa_usec_t>(clockPeriodMaxUsec, pa_bytes_to_usec(backlogBytes_, &spec_) / 4);
    // PipeWire's pulse server keeps no queue of its own before the stream's: all it throws
    // away shows in the read index. Its stream time also moves in whole graph cycles, so the
    // source's clock is left out there. (Unknown when the server does not say in time.)
    bool pipeWire = false;
    connection_->WaitOperation(pa_context_get_server_info(
                                   connection_->context(),
                                   [](pa_context*, const pa_server_info* info, void* userdata) {
                                       *static_cast<bool*>(userdata) =
                                           info != nullptr && info->server_name != nullptr &&
                                           std::strstr(info->server_name, "PipeWire") != nullptr;
                                   },
                                   &pipeWire),
                               deadline);
    countClockLoss_ = !pipeWire;
    connected_ = true;
    return MMSYSERR_NOERROR;
}

bool PulseWaveInDevice::StreamReady() const {
    return stream_ != nullptr && pa_stream_get_state(stream_) == PA_STREAM_READY;
}

void PulseWaveInDevice::Cork(bool cork) {
    if (StreamReady()) {
        if (pa_operation* op = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr)) {
            pa_operation_unref(op); // no need to wait: Fill looks at started_
        }
    }
}

int PulseWaveInDevice::Prepare(WaveInHeader& hdr) {
    if (hdr.data == nullptr || hdr.bufferLength == 0) {
        return MMSYSERR_INVALPARAM;
    }
    PulseConnection::Lock lock(*connection_);
    if ((hdr.flags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    hdr.flags = WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

int PulseWaveInDevice::Unprepare(WaveInHeader& hdr) {
    PulseConnection::Lock lock(*connection_);
    if ((hdr.flags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    hdr.flags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

int PulseWaveInDevice::AddBuffer(WaveInHeader& hdr) {
    PulseConnection::Lock lock(*connection_);
    if ((hdr.flags & WHDR_PREPARED) == 0) {
        return WAVERR_UNPREPARED;
    }
    if ((hdr.flags & WHDR_INQUEUE) != 0) {
        return WAVERR_STILLPLAYING;
    }
    if (!StreamReady()) {
        return MMSYSERR_ERROR;
    }
    hdr.bytesRecorded = 0;
    hdr.flags = (hdr.flags & ~WHDR_DONE) | WHDR_INQUEUE;
    hdr.next = nullptr;
    if (tail_ != nullptr) {
        tail_->next = &hdr;
    } else {
        head_ = &hdr;
    }
    tail_ = &hdr;
    Fill(); // sound the server kept while no buffer was free
    return MMSYSERR_NOERROR;
}

int PulseWaveInDevice::Start() {
    PulseConnection::Lock lock(*connection_);
    if (!StreamReady()) {
        return MMSYSERR_ERROR;
    }
    started_ = true;
    endMarked_ = false;
    lastReading_.valid = false;
    if (clockTimer_ == nullptr) {
        clockTimer_ =
            pa_context_rttime_new(connection_->context(), pa_rtclock_now() + clockPeriodUsec_,
                                  &PulseWaveInDevice::ClockTimerCallback, this);
    }
    Cork(false);
    Fill();
    return MMSYSERR_NOERROR;
}

int PulseWaveInDevice::Stop() {
    PulseConnection::Lock lock(*connection_);
    started_ = false;
    Cork(true);
    return MMSYSERR_NOERROR;
}

int PulseWaveInDevice::Reset() {
    PulseConnection::Lock lock(*connection_);
    started_ = false;
    Cork(true);
    while (head_ != nullptr) {
        HandBackHead();
    }
    return MMSYSERR_NOERROR;
}

void PulseWaveInDevice::MarkEnd() {
    PulseConnection::Lock lock(*connection_);
    endDeadline_ = PulseConnection::Clock::now() + endWait;
    std::uint64_t end = Position();
    if (started_ && StreamReady()) {
        // At least what has reached this side already.
        const size_t local = pa_stream_readable_size(stream_);
        if (local != static_cast<size_t>(-1)) {
            end = std::max(end, consumedBytes_ + local);
        }
        // What the server holds for the stream, and what the source has captured but not
        // sent yet, as of now.
        if (connection_->WaitOperation(pa_stream_update_timing_info(stream_, nullptr, nullptr),
                                       endDeadline_) &&
            StreamReady()) {
            const pa_timing_info* info = pa_stream_get_timing_info(stream_);
            if (info != nullptr && !info->read_index_corrupt && !info->write_index_corrupt &&
                info->read_index >= 0 && info->write_index >= info->read_index) {
                const auto unread =
                    static_cast<std::uint64_t>(info->write_index - info->read_index);
                end = std::max(end, reportConsumedBytes_ + unread +
                                        pa_usec_to_bytes(info->source_usec, &spec_));
            }
        }
    }
    endPosition_ = end;
    endMarked_ = true;
}

bool PulseWaveInDevice::FillToEnd() {
    PulseConnection::Lock lock(*connection_);
    for (;;) {
        Fill();
        if (!endMarked_ || !started_ || !StreamReady() || Position() >= endPosition_) {
            return true;
        }
        if (head_ == nullptr) {
            return false; // the sound waits for a buffer
        }
        if (PulseConnection::Clock::now() >= endDeadline_) {
            return true; // what has not come by now is left out
        }
        // The read callback fills the queued buffers and wakes this wait. Sound that does not
        // come in time says nothing about the server's health.
        const std::uint64_t before = Position();
        connection_->Wait(
            [this, before] { return Position() != before || head_ == nullptr || !StreamReady(); },
            endDeadline_, false);
    }
}

std::uint64_t PulseWaveInDevice::SilenceBytes() const {
    PulseConnection::Lock lock(*connection_);
    return silenceBytes_;
}

std::uint64_t PulseWaveInDevice::DroppedBytes() {
    PulseConnection::Lock lock(*connection_);
    if (StreamReady()) {
        // A fresh timing report: TimingCallback compares it with what was taken.
        connection_->WaitOperation(pa_stream_update_timing_info(stream_, nullptr, nullptr),
                                   PulseConnection::Clock::now() + PulseConnection::callTimeout);
    }
    return droppedBytes_;
}

void PulseWaveInDevice::HandBackHead() {
    WaveInHeader* hdr = head_;
    head_ = hdr->next;
    if (head_ == nullptr) {
        tail_ = nullptr;
    }
    hdr->next = nullptr;
    hdr->flags = (hdr->flags | WHDR_DONE) & ~WHDR_INQUEUE;
    windows_.PostMessage(notify_, MM_WIM_DATA, 0, reinterpret_cast<std::intptr_t>(hdr));
}

void PulseWaveInDevice::Fill() {
    if (!started_ || shutdown_ || !StreamReady()) {
        return;
    }
    // Only peek while a buffer can take the sound: otherwise it stays with the server. Sound
    // past the end mark stays too.
    while (head_ != nullptr && (!endMarked_ || Position() < endPosition_)) {
        const size_t readable = pa_stream_readable_size(stream_);
        if (readable == static_cast<size_t>(-1) || readable == 0) {
            return;
        }
        const void* data = nullptr;
        size_t nbytes = 0;
        if (pa_stream_peek(stream_, &data, &nbytes) < 0 || nbytes == 0) {
            return; // nothing there: nothing to drop
        }
        // A fragment larger than the free space is taken in parts: it stays peeked (not
        // dropped) and peekOffset_ says how much of it has been copied already.
        const size_t left = nbytes - peekOffset_;
        const size_t room = head_->bufferLength - head_->bytesRecorded;
        size_t take = std::min(left, room);
        if (endMarked_) {
            take = std::min(take, static_cast<size_t>(endPosition_ - Position()));
        }
        std::uint8_t* to = head_->data + head_->bytesRecorded;
        if (data != nullptr) {
            std::memcpy(to, static_cast<const std::uint8_t*>(data) + peekOffset_, take);
        } else {
            std::memset(to, 0, take); // a hole in the stream: silence, counted
            silenceBytes_ += take;
        }
        head_->bytesRecorded += static_cast<std::uint32_t>(take);
        peekOffset_ += take;
        if (peekOffset_ == nbytes) {
            pa_stream_drop(stream_);
            peekOffset_ = 0;
            consumedBytes_ += nbytes;
        }
        if (head_->bytesRecorded == head_->bufferLength) {
            HandBackHead();
        }
    }
}

void PulseWaveInDevice::ReadCallback(pa_stream*, size_t, void* userdata) {
    auto* self = static_cast<PulseWaveInDevice*>(userdata);
    self->Fill();
    if (self->endMarked_) {
        self->connection_->Signal(); // FillToEnd may be waiting for this sound
    }
}

void PulseWaveInDevice::TimingCallback(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseWaveInDevice*>(userdata);
    const pa_timing_info* info = pa_stream_get_timing_info(stream);
    if (info == nullptr) {
        return;
    }
    self->reportConsumedBytes_ = self->consumedBytes_;
    // The read index of a timing report counts every byte the server sent for this stream,
    // less what still waits in the stream's queue on this side: what was taken off the
    // stream plus what was thrown away from a full queue. (Those bytes go without a gap in
    // the stream and without any other notice.)
    std::uint64_t fromQueue = 0;
    if (!info->read_index_corrupt && info->read_index >= 0) {
        const auto readIndex = static_cast<std::uint64_t>(info->read_index);
        const std::uint64_t thrown =
            readIndex > self->consumedBytes_ ? readIndex - self->consumedBytes_ : 0;
        if (thrown > self->queueDroppedBytes_) {
            fromQueue = thrown - self->queueDroppedBytes_;
            self->queueDroppedBytes_ = thrown;
        }
    }
    // The two ways never see the same sound: libpulse drops from its own full queue what the
    // server sent (the read index), the server what never entered its queue (the clock).
    const std::uint64_t fromClock = self->countClockLoss_ ? self->ReadClock(*info) : 0;
    self->droppedBytes_ += fromQueue + fromClock;
}

std::uint64_t PulseWaveInDevice::ReadClock(const pa_timing_info& info) {
    if (!started_ || info.write_index_corrupt || info.write_index < 0) {
        lastReading_.valid = false; // corked: the clock starts again with the next take
        return 0;
    }
    ClockReading now;
    now.valid = true;
    // The report was taken by the server when it was sent, transport_usec ago. (After a
    // stall of this program that is the time the stall began.)
    now.atUsec = static_cast<std::int64_t>(pa_rtclock_now()) -
                 static_cast<std::int64_t>(info.transport_usec);
    now.streamUsec = static_cast<std::int64_t>(
                         pa_bytes_to_usec(static_cast<std::uint64_t>(info.write_index), &spec_)) +
                     static_cast<std::int64_t>(info.source_usec) -
                     static_cast<std::int64_t>(info.sink_usec);
    // The server's part of the stream's queue: the report's read index is what the server
    // sent less what waits on this side, which is what the stream can give right now.
    const size_t here = pa_stream_readable_size(stream_);
    const std::int64_t sent =
        info.read_index + static_cast<std::int64_t>(here != static_cast<size_t>(-1) ? here : 0);
    now.serverQueuedBytes = !info.read_index_corrupt && info.write_index > sent
                                ? static_cast<std::uint64_t>(info.write_index - sent)
                                : 0;
    const ClockReading before = std::exchange(lastReading_, now);
    if (!before.valid || now.atUsec <= before.atUsec) {
        return 0;
    }
    const std::int64_t passed = now.atUsec - before.atUsec;
    const std::int64_t behind = passed - (now.streamUsec - before.streamUsec);
    const bool queueCouldFill =
        pa_usec_to_bytes(static_cast<pa_usec_t>(passed), &spec_) + before.serverQueuedBytes >=
        backlogBytes_;
    if (queueCouldFill && behind > clockToleranceUsec + passed / clockDriftDivisor) {
        return pa_usec_to_bytes(static_cast<pa_usec_t>(behind), &spec_);
    }
    return 0;
}

void PulseWaveInDevice::ClockTimerCallback(pa_mainloop_api*, pa_time_event* event,
                                           const struct timeval*, void* userdata) {
    auto* self = static_cast<PulseWaveInDevice*>(userdata);
    if (self->shutdown_) {
        return;
    }
    if (self->started_ && self->StreamReady()) {
        // The answer comes to TimingCallback.
        if (pa_operation* op = pa_stream_update_timing_info(self->stream_, nullptr, nullptr)) {
            pa_operation_unref(op);
        }
    }
    pa_context_rttime_restart(self->connection_->context(), event,
                              pa_rtclock_now() + self->clockPeriodUsec_);
}

void PulseWaveInDevice::SuspendedCallback(pa_stream*, void* userdata) {
    // A suspended source captures nothing, and nothing is lost: its clock is read afresh.
    static_cast<PulseWaveInDevice*>(userdata)->lastReading_.valid = false;
}

void PulseWaveInDevice::StateCallback(pa_stream* stream, void* userdata) {
    auto* self = static_cast<PulseWaveInDevice*>(userdata);
    self->connection_->Signal();
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (self->connected_ && !self->shutdown_ && !self->failureReported_ &&
        (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED)) {
        self->failureReported_ = true;
        self->started_ = false;
        self->windows_.PostMessage(
            self->notify_, WIM_DEVICE_FAILED,
            static_cast<std::uintptr_t>(pa_context_errno(self->connection_->context())), 0);
    }
}

} // namespace platform
