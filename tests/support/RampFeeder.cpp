#include "RampFeeder.h"

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/stream.h>
#include <pulse/thread-mainloop.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::uint32_t kChunkFrames = 441; // 10 ms
constexpr std::uint32_t kLeadInFrames = 22050;
constexpr pa_sample_spec kSpec{PA_SAMPLE_S16LE, 44100, 2};

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

RampFeeder::RampFeeder(Frame frame) : frame_(frame), chunk_(kChunkFrames * 2) {
    const std::string fifo = Environment("VOCARN_TEST_PIPE");
    const std::string sink = Environment("VOCARN_TEST_RAMP_SINK");
    if (!fifo.empty()) {
        source_ = "vocarn_pipe";
        fd_ = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd_ < 0) {
            ADD_FAILURE() << "cannot open the pipe source's FIFO " << fifo;
        }
        return;
    }
    if (sink.empty()) {
        ADD_FAILURE() << "no ramp source: run through scripts/test (scripts/sound-server)";
        return;
    }
    source_ = sink + ".monitor";
    loop_ = pa_threaded_mainloop_new();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "vocarn-tests");
    pa_context_set_state_callback(context_, &RampFeeder::StateCallback, this);
    pa_threaded_mainloop_start(loop_);
    pa_threaded_mainloop_lock(loop_);
    // The server of PULSE_SERVER.
    pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr);
    while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) &&
           pa_context_get_state(context_) != PA_CONTEXT_READY) {
        pa_threaded_mainloop_wait(loop_);
    }
    if (pa_context_get_state(context_) == PA_CONTEXT_READY) {
        pa_stream* stream = pa_stream_new(context_, "ramp", &kSpec, nullptr);
        pa_stream_set_state_callback(stream, &RampFeeder::StreamStateCallback, this);
        pa_stream_set_write_callback(stream, &RampFeeder::WriteCallback, this);
        pa_stream_set_underflow_callback(stream, &RampFeeder::UnderflowCallback, this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(500000, &kSpec));
        attr.prebuf = static_cast<std::uint32_t>(-1);
        attr.minreq = static_cast<std::uint32_t>(-1);
        attr.fragsize = static_cast<std::uint32_t>(-1);
        pa_stream_connect_playback(stream, sink.c_str(), &attr, PA_STREAM_NOFLAGS, nullptr,
                                   nullptr);
        while (PA_STREAM_IS_GOOD(pa_stream_get_state(stream)) &&
               pa_stream_get_state(stream) != PA_STREAM_READY) {
            pa_threaded_mainloop_wait(loop_);
        }
        if (pa_stream_get_state(stream) == PA_STREAM_READY) {
            stream_ = stream;
        } else {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_set_write_callback(stream, nullptr, nullptr);
            pa_stream_set_underflow_callback(stream, nullptr, nullptr);
            pa_stream_unref(stream);
        }
    }
    if (stream_ == nullptr) {
        ADD_FAILURE() << "cannot play into " << sink << ": "
                      << pa_strerror(pa_context_errno(context_));
    }
    pa_threaded_mainloop_unlock(loop_);
}

RampFeeder::~RampFeeder() {
    Stop();
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (loop_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa_stream_disconnect(stream_);
        pa_stream_unref(stream_);
    }
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
}

void RampFeeder::Start(std::uint32_t frames) {
    if (fd_ >= 0 && !thread_.joinable()) {
        thread_ = std::thread([this, frames] { WriteToFifo(frames); });
    }
    if (stream_ != nullptr) {
        pa_threaded_mainloop_lock(loop_);
        if (!started_) {
            started_ = true;
            leadIn_ = kLeadInFrames;
            limit_ = frames;
            Play(pa_stream_writable_size(stream_));
        }
        pa_threaded_mainloop_unlock(loop_);
    }
}

void RampFeeder::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (stream_ == nullptr) {
        return;
    }
    pa_threaded_mainloop_lock(loop_);
    if (started_ && !ended_) {
        ended_ = true;
        Drain();
    }
    while (started_ && !drained_ && PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) {
        pa_threaded_mainloop_wait(loop_);
    }
    if (underflows_ > 0) {
        ADD_FAILURE() << "the ramp's sink ran dry " << underflows_
                      << " times while frames were due: silence in the signal that no "
                         "recorder put there (the machine was too busy to feed it)";
        underflows_ = 0;
    }
    pa_threaded_mainloop_unlock(loop_);
}

void RampFeeder::WriteToFifo(std::uint32_t frames) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    for (std::uint32_t n = 1; !stop_ && written_ < frames; ++n) {
        const std::uint32_t count = std::min(kChunkFrames, frames - written_);
        for (std::uint32_t i = 0; i < count; ++i) {
            const auto f = frame_(written_ + i);
            chunk_[2 * i] = f[0];
            chunk_[2 * i + 1] = f[1];
        }
        const auto* at = reinterpret_cast<const char*>(chunk_.data());
        for (std::size_t left = count * 4; left > 0;) {
            const ssize_t put = ::write(fd_, at, left);
            if (put <= 0) {
                ADD_FAILURE() << "writing the ramp into the FIFO failed";
                return;
            }
            at += put;
            left -= static_cast<std::size_t>(put);
        }
        written_ += count;
        std::this_thread::sleep_until(start + n * std::chrono::milliseconds(10));
    }
    done_ = written_ == frames;
}

void RampFeeder::Play(std::size_t bytes) {
    for (std::size_t frames = bytes / 4; frames > 0 && !ended_;) {
        const auto count = static_cast<std::uint32_t>(std::min<std::size_t>(frames, kChunkFrames));
        std::uint32_t ramp = 0;
        for (std::uint32_t i = 0; i < count; ++i) {
            std::array<std::int16_t, 2> f{0, 0};
            if (leadIn_ > 0) {
                --leadIn_;
            } else if (written_ + ramp < limit_) {
                f = frame_(written_ + ramp);
                ++ramp;
            }
            chunk_[2 * i] = f[0];
            chunk_[2 * i + 1] = f[1];
        }
        pa_stream_write(stream_, chunk_.data(), count * 4, nullptr, 0, PA_SEEK_RELATIVE);
        written_ += ramp;
        frames -= count;
        if (written_ == limit_) {
            ended_ = true;
            Drain();
        }
    }
}

void RampFeeder::Drain() {
    if (pa_operation* o = pa_stream_drain(stream_, &RampFeeder::DrainCallback, this)) {
        pa_operation_unref(o);
    }
}

void RampFeeder::StateCallback(pa_context*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<RampFeeder*>(userdata)->loop_, 0);
}

void RampFeeder::StreamStateCallback(pa_stream*, void* userdata) {
    pa_threaded_mainloop_signal(static_cast<RampFeeder*>(userdata)->loop_, 0);
}

void RampFeeder::WriteCallback(pa_stream*, std::size_t bytes, void* userdata) {
    auto* self = static_cast<RampFeeder*>(userdata);
    if (self->started_) {
        self->Play(bytes);
    }
}

void RampFeeder::UnderflowCallback(pa_stream*, void* userdata) {
    auto* self = static_cast<RampFeeder*>(userdata);
    if (self->started_ && !self->ended_) {
        ++self->underflows_;
    }
}

void RampFeeder::DrainCallback(pa_stream*, int, void* userdata) {
    auto* self = static_cast<RampFeeder*>(userdata);
    self->drained_ = true;
    self->done_ = self->written_ == self->limit_;
    pa_threaded_mainloop_signal(self->loop_, 0);
}
