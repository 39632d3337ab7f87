#include "capture/WaveInRecorder.h"

#include <utility>

using platform::WaveInHeader;
using platform::WindowHandle;

WaveInRecorder::WaveInRecorder(platform::WindowService& windows, platform::WaveInService& waveIn)
    : windows_(windows), waveIn_(waveIn) {}

WaveInRecorder::~WaveInRecorder() {
    // The owner may be going away too: the end of the take is not delivered.
    if (IsRecording()) {
        CloseRecording(false);
    }
    CloseMessageWindow();
    mixer_.reset();
}

void WaveInRecorder::setEvents(WaveInRecorderEvents* events) {
    events_ = events;
}

bool WaveInRecorder::IsRecording() const {
    return device_ != nullptr;
}

bool WaveInRecorder::StopRecord() {
    CloseRecording(true);
    return true;
}

void WaveInRecorder::CloseRecording(bool deliverTheEnd) {
    // Inside GotData the take ends at the block in hand; a stop already delivering the end
    // of the take is not started again.
    bool handedBack = false;
    if (deliverTheEnd && device_ != nullptr && delivering_ == 0 && !ending_) {
        const std::uint64_t recording = recording_;
        handedBack = DeliverTheEnd();
        if (recording_ != recording) {
            return; // a handler stopped this take and started the next one
        }
    }
    if (device_ != nullptr) {
        // Whatever the reset hands back now is posted to the message window, which is gone
        // before the loop dispatches it.
        if (!handedBack) {
            device_->Stop();
            device_->Reset();
        }
        CloseDevice(buffers_.size());
    }
    CloseMessageWindow();
}

bool WaveInRecorder::DeliverTheEnd() {
    ending_ = true;
    const std::uint64_t recording = recording_;
    const WindowHandle window = messageWindow_;
    // Each buffer is posted when the device hands it back, so taking the window's messages
    // in posting order delivers the blocks in capture order, each once. A handler may stop
    // the take (and even start the next one): then nothing more is delivered here.
    const auto running = [&] { return device_ != nullptr && recording_ == recording; };
    device_->MarkEnd();
    for (;;) {
        const bool complete = device_->FillToEnd();
        const std::size_t delivered = windows_.SendPosted(window);
        if (!running() || complete || delivered == 0) {
            break;
        }
    }
    const bool handedBack = running();
    if (handedBack) {
        // The partly filled buffer last: the reset hands back every queued buffer, which is
        // not queued again.
        device_->Stop();
        device_->Reset();
        handedBackAll_ = recording;
        windows_.SendPosted(window);
        handedBackAll_ = 0;
    }
    ending_ = false;
    return handedBack;
}

bool WaveInRecorder::StartRecord(std::int32_t samplerate, std::int16_t Channels) {
    if (device_ != nullptr) {
        return false; // the running recording keeps its buffers
    }
    if (bufferCount_ < 1 || bufferSize_ < 2) {
        return false; // no buffer that could hold a sample
    }

    // 1. A fresh ring. Buffers that a GotData handler still holds (it stopped and restarts
    // the recording) live on until that handler has returned.
    if (delivering_ > 0) {
        retired_ = std::move(buffers_);
    }
    buffers_ = std::vector<WaveInBuffer>(static_cast<std::size_t>(bufferCount_));
    deviceFailed_ = false;
    silenceBytes_ = 0;
    droppedBytes_ = 0;

    // 2. The window the device posts to.
    OpenMessageWindow();

    // 3., 4. Open the selected device for 16-bit PCM: the one picked, by its id, wherever
    // it is in the list now; the default input while none is selected.
    platform::WaveInFormat format;
    format.samplerate = samplerate;
    format.channels = Channels;
    startError_ = platform::MMSYSERR_NOERROR;
    device_ = waveIn_.Open(selectedId_, format, windows_, messageWindow_, startError_);
    if (device_ == nullptr) {
        CloseMessageWindow();
        return false;
    }

    // 5. Prepare each buffer. The device is given whole samples only, so an odd BufferSize
    // never lets it write past the sample array.
    const std::size_t samples = static_cast<std::size_t>(bufferSize_ / 2);
    for (std::size_t i = 0; i < buffers_.size(); ++i) {
        WaveInBuffer& b = buffers_[i];
        b.intBuffer.assign(samples, 0);
        b.hdr.data = reinterpret_cast<std::uint8_t*>(b.intBuffer.data());
        b.hdr.bufferLength = static_cast<std::uint32_t>(samples * sizeof(std::int16_t));
        b.hdr.user = i;
        startError_ = device_->Prepare(b.hdr);
        if (startError_ != platform::MMSYSERR_NOERROR) {
            CloseDevice(i);
            CloseMessageWindow();
            return false;
        }
    }

    // 6. Start, then 7. queue every buffer in index order.
    startError_ = device_->Start();
    if (startError_ != platform::MMSYSERR_NOERROR) {
        CloseDevice(buffers_.size());
        CloseMessageWindow();
        return false;
    }
    ++recording_;
    for (WaveInBuffer& b : buffers_) {
        device_->AddBuffer(b.hdr);
    }
    return true;
}

void WaveInRecorder::CloseDevice(std::size_t preparedCount) {
    for (std::size_t i = 0; i < preparedCount; ++i) {
        device_->Unprepare(buffers_[i].hdr);
    }
    silenceBytes_ = device_->SilenceBytes();
    droppedBytes_ = device_->DroppedBytes();
    device_.reset();
}

std::int32_t WaveInRecorder::BufferCount() const {
    return bufferCount_;
}

void WaveInRecorder::setBufferCount(std::int32_t v) {
    bufferCount_ = v;
}

std::int32_t WaveInRecorder::BufferSize() const {
    return bufferSize_;
}

void WaveInRecorder::setBufferSize(std::int32_t bytes) {
    bufferSize_ = bytes;
}

std::int32_t WaveInRecorder::DeviceCount() {
    return waveIn_.DeviceCount();
}

std::string WaveInRecorder::DeviceName(std::int32_t Index) {
    return waveIn_.DeviceName(Index);
}

std::string WaveInRecorder::DeviceId(std::int32_t Index) {
    return waveIn_.DeviceId(Index);
}

bool WaveInRecorder::SelectDevice(std::int32_t Index) {
    // The index counts in the list the user was shown; the device is kept by its id, so
    // devices coming or going later do not change which one is recorded.
    std::string id = waveIn_.DeviceId(Index);
    if (id.empty()) {
        return false; // outside the list
    }
    selectedDevice_ = -1;
    selectedId_.clear();
    mixer_.reset(); // before the next one opens
    mixer_ = waveIn_.OpenMixer(id);
    if (mixer_ == nullptr) {
        return false;
    }
    selectedDevice_ = Index;
    selectedId_ = std::move(id);
    return true;
}

std::int32_t WaveInRecorder::MixerLineCount() {
    return selectedDevice_ < 0 || mixer_ == nullptr ? 0 : mixer_->LineCount();
}

std::string WaveInRecorder::MixerLineName(std::int32_t Index) {
    return selectedDevice_ < 0 || mixer_ == nullptr ? std::string() : mixer_->LineName(Index);
}

bool WaveInRecorder::SelectMixerLine(std::int32_t Index) {
    if (selectedDevice_ < 0 || mixer_ == nullptr) {
        return false;
    }
    const std::int32_t count = mixer_->LineCount();
    if (count <= 0) {
        return false; // the mixer cannot be asked
    }
    if (Index < 0 || Index >= count) {
        return true; // no such line: nothing to change
    }
    return mixer_->SelectLine(Index);
}

std::int32_t WaveInRecorder::SelectedMixerLine() {
    return selectedDevice_ < 0 || mixer_ == nullptr ? -1 : mixer_->SelectedLine();
}

std::int32_t WaveInRecorder::MixerLineType(std::int32_t Index) {
    if (selectedDevice_ < 0 || mixer_ == nullptr) {
        return 0;
    }
    return mixer_->LineType(Index == -1 ? mixer_->SelectedLine() : Index);
}

std::int32_t WaveInRecorder::MixerLineVolume() {
    return selectedDevice_ < 0 || mixer_ == nullptr ? 0 : mixer_->Volume();
}

void WaveInRecorder::setMixerLineVolume(std::int32_t Volume) {
    if (selectedDevice_ >= 0 && mixer_ != nullptr) {
        mixer_->SetVolume(Volume);
    }
}

std::int32_t WaveInRecorder::SelectedDevice() const {
    return selectedDevice_;
}

const std::string& WaveInRecorder::SelectedDeviceId() const {
    return selectedId_;
}

int WaveInRecorder::StartError() const {
    return startError_;
}

bool WaveInRecorder::DeviceFailed() const {
    return deviceFailed_;
}

std::uint64_t WaveInRecorder::DroppedBytes() const {
    return device_ != nullptr ? 0 : droppedBytes_;
}

std::uint64_t WaveInRecorder::SilenceBytes() const {
    return device_ != nullptr ? device_->SilenceBytes() : silenceBytes_;
}

platform::WindowHandle WaveInRecorder::MessageWindow() const {
    return messageWindow_;
}

void WaveInRecorder::OpenMessageWindow() {
    CloseMessageWindow();
    // A plain hidden window of zero size: its own procedure answers 0 to everything.
    messageWindow_ = windows_.CreateWindow({});
    // The results are not looked at: a hook that cannot be installed has been reported, the
    // registration then reports too, and no block reaches this recording.
    hook_.sc_Subclass(messageWindow_, 0, this,
                      [](void* owner, bool bBefore, bool& bHandled, std::intptr_t& lReturn,
                         platform::WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                         std::intptr_t lParam, std::int32_t& lParamUser) {
                          static_cast<WaveInRecorder*>(owner)->zSubclass_Proc(
                              bBefore, bHandled, lReturn, hWnd, uMsg, wParam, lParam, lParamUser);
                      });
    hook_.sc_AddMsg(messageWindow_, platform::MM_WIM_DATA, MessageHook::MSG_AFTER);
    // The device's failure notice comes the same way.
    hook_.sc_AddMsg(messageWindow_, platform::WIM_DEVICE_FAILED, MessageHook::MSG_AFTER);
}

void WaveInRecorder::CloseMessageWindow() {
    if (messageWindow_ != 0) {
        // The destroy messages pass through the hook's record, which then releases itself.
        hook_.sc_UnSubclass(messageWindow_);
        windows_.DestroyWindow(std::exchange(messageWindow_, 0));
    }
}

void WaveInRecorder::zSubclass_Proc(bool, bool&, std::intptr_t&, platform::WindowHandle,
                                    std::uint32_t uMsg, std::uintptr_t, std::intptr_t lParam,
                                    std::int32_t&) {
    if (uMsg == platform::MM_WIM_DATA) {
        OnData(lParam);
    } else if (uMsg == platform::WIM_DEVICE_FAILED && device_ != nullptr && !deviceFailed_) {
        // Posted after the buffers the device handed back before it failed, so the owner has
        // every block of the take when it hears of the loss. A stop under way is ending the
        // take anyway: it is not told then.
        deviceFailed_ = true;
        if (events_ != nullptr && !ending_) {
            events_->DeviceLost();
        }
    }
}

void WaveInRecorder::OnData(std::intptr_t lParam) {
    if (device_ == nullptr) {
        return;
    }
    // Only a header of this recording's ring is taken; its address is compared, never read
    // before it matches.
    WaveInBuffer* buffer = nullptr;
    for (WaveInBuffer& b : buffers_) {
        if (reinterpret_cast<std::intptr_t>(&b.hdr) == lParam) {
            buffer = &b;
            break;
        }
    }
    if (buffer == nullptr || (buffer->hdr.flags & platform::WHDR_INQUEUE) != 0) {
        return;
    }
    const WaveInHeader copy = buffer->hdr;
    std::int32_t lngLen = static_cast<std::int32_t>(copy.bytesRecorded);
    const std::uint64_t recording = recording_;
    if (handedBackAll_ == recording && lngLen == 0) {
        return; // an empty buffer the stop's reset handed back: no sound in it
    }
    ++delivering_;
    if (events_ != nullptr) {
        events_->GotData(std::span<std::int16_t>(buffer->intBuffer), lngLen);
    }
    --delivering_;
    // Give the buffer back to the device unless the handler stopped this recording or the
    // stop has taken every buffer back.
    if (device_ != nullptr && recording_ == recording && handedBackAll_ != recording) {
        device_->AddBuffer(buffer->hdr);
    }
    if (delivering_ == 0) {
        retired_.clear();
    }
}
