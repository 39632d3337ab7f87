#pragma once

#include "capture/MessageHook.h"
#include "platform/WaveInService.h"
#include "platform/WindowService.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// The owner of a WaveInRecorder receives each filled capture buffer here.
class WaveInRecorderEvents {
public:
    virtual ~WaveInRecorderEvents() = default;
    // intBuffer: the buffer's whole sample array (BufferSize/2 elements); lngLen: valid bytes.
    // The handler may change the samples in place, read IsRecording and stop the recording;
    // the array is handed back to the device when it returns, so keep a copy of what is
    // needed later.
    virtual void GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) = 0;
    // The device of the running recording stopped working (its source went away, the sound
    // server ended). Raised once per recording, on the user-interface thread, after every
    // buffer the device filled before has gone through GotData; the recording still runs
    // and the handler may stop it.
    virtual void DeviceLost() {}
};

// Captures 16-bit PCM from one capture device into a ring of BufferCount buffers of
// BufferSize bytes and hands every filled buffer to its owner through GotData, on the
// user-interface thread.
//
// Each recording has a message window of its own: the device posts MM_WIM_DATA to it for
// every buffer it hands back. The window is hooked (MessageHook) so that the recorder's
// handler runs after the window's own procedure for that message: it delivers the buffer
// and queues it again. Everything runs on the user-interface thread.
//
// A stop delivers the end of the take before it closes the device: the buffers filled and
// posted before the stop, then the sound the device still holds up to the stop, then the
// partly filled last buffer, in capture order and each once, while IsRecording still reads
// true. A stop asked for inside GotData ends the take at the block in hand. Once StopRecord
// has returned, no further GotData comes.
class WaveInRecorder {
public:
    // windows: the message-window service; waveIn: the capture service. Neither is owned.
    WaveInRecorder(platform::WindowService& windows, platform::WaveInService& waveIn);
    ~WaveInRecorder(); // stops a running capture (its end undelivered), closes the mixer
    WaveInRecorder(const WaveInRecorder&) = delete;
    WaveInRecorder& operator=(const WaveInRecorder&) = delete;

    void setEvents(WaveInRecorderEvents* events);

    bool IsRecording() const;
    // Delivers the end of the take (see the class comment), stops the device, takes back
    // every buffer, closes the device and the message window. Always true.
    bool StopRecord();
    // Opens the selected device (the default input while none is selected) for 16-bit PCM
    // at samplerate with Channels channels and starts filling buffers. False when the device
    // refuses to open, prepare a buffer or start (all that was done is undone; StartError
    // says why), when BufferCount is below 1 or BufferSize below 2, and while a recording
    // runs (which then goes on untouched).
    bool StartRecord(std::int32_t samplerate, std::int16_t Channels);

    // Both take effect at the next StartRecord.
    std::int32_t BufferCount() const;
    void setBufferCount(std::int32_t v);
    std::int32_t BufferSize() const;
    void setBufferSize(std::int32_t bytes);

    // Reads the device list afresh; Index below counts devices in the list as last read,
    // the one the window shows.
    std::int32_t DeviceCount();
    std::string DeviceName(std::int32_t Index);
    // The id of device Index of that list: the same while the device is present.
    std::string DeviceId(std::int32_t Index);
    // Selects the device at Index of the list as last read: from now on the next
    // StartRecord opens that device whatever comes or goes in the list, and its mixer is
    // opened (closing the one of the device selected before). False for an index outside
    // the list, which leaves the selection as it was, and when the device is gone or its
    // mixer cannot be opened, which leaves no device selected. A running recording is not
    // touched.
    bool SelectDevice(std::int32_t Index);
    std::int32_t MixerLineCount();                 // 0 without a selected device
    std::string MixerLineName(std::int32_t Index); // empty without a selected device
    // Records line Index from now on. False without a selected device or when the mixer
    // refuses; True, changing nothing, for an index outside the lines (as -1 from an
    // unselected list).
    bool SelectMixerLine(std::int32_t Index);
    // The index the selected device had when it was selected; -1 when none is.
    std::int32_t SelectedDevice() const;
    // The id of the selected device; empty when none is selected.
    const std::string& SelectedDeviceId() const;
    std::int32_t SelectedMixerLine(); // -1 without a selected device
    // The line's type code; Index -1 is the selected line. 0 without a selected device.
    std::int32_t MixerLineType(std::int32_t Index);
    // The selected line's recording volume, 0 .. 65535 (first channel), above 65535 when set
    // above the full level elsewhere; 0 without a device.
    std::int32_t MixerLineVolume();
    // Sets every channel of the selected line; nothing without a selected device.
    void setMixerLineVolume(std::int32_t Volume);

    // Why the last StartRecord that reached the device failed: its MMSYSERR_* number
    // (MMSYSERR_BADDEVICEID: the selected device is gone); MMSYSERR_NOERROR after a start.
    int StartError() const;

    // True once the device of the running recording has reported that it stopped working
    // (its source went away, the sound server ended); cleared by StartRecord.
    bool DeviceFailed() const;
    // Bytes of silence the device wrote into the running (or last) recording where the
    // sound server reported a gap; 0 again at StartRecord.
    std::uint64_t SilenceBytes() const;
    // Bytes of sound the sound server threw away during the last recording because they
    // were not read in time; known once the recording has stopped (0 while it runs).
    std::uint64_t DroppedBytes() const;

    // The message window of the running recording (0 when idle); its hook delivers the
    // buffers.
    platform::WindowHandle MessageWindow() const;
    // The hook of the message window.
    MessageHook& Hook() { return hook_; }

private:
    struct WaveInBuffer {
        platform::WaveInHeader hdr;
        std::vector<std::int16_t> intBuffer;
    };

    // The recorder's message handler, called by the hook after the window's own procedure.
    void zSubclass_Proc(bool bBefore, bool& bHandled, std::intptr_t& lReturn,
                        platform::WindowHandle hWnd, std::uint32_t uMsg, std::uintptr_t wParam,
                        std::intptr_t lParam, std::int32_t& lParamUser);
    void OnData(std::intptr_t lParam);
    // Ends the running take (delivering its end first when asked and possible), closes the
    // device and the message window.
    void CloseRecording(bool deliverTheEnd);
    // Hands the end of the take to the owner, up to the moment of the stop. True when it
    // stopped the device and took every buffer back.
    bool DeliverTheEnd();
    void OpenMessageWindow();
    void CloseMessageWindow();
    void CloseDevice(std::size_t preparedCount);

    platform::WindowService& windows_;
    platform::WaveInService& waveIn_;
    WaveInRecorderEvents* events_ = nullptr;
    MessageHook hook_{windows_, "WaveInRecorder"};

    std::int32_t selectedDevice_ = -1;
    std::string selectedId_; // of the selected device; empty: the default input
    std::int32_t bufferSize_ = 10240;
    std::int32_t bufferCount_ = 5;
    // The buffers of the current (or last) recording; never resized while the device holds
    // them, so their addresses stay fixed.
    std::vector<WaveInBuffer> buffers_;
    // The buffers a start replaced while one of them was being delivered: kept until that
    // delivery has returned.
    std::vector<WaveInBuffer> retired_;
    platform::WindowHandle messageWindow_ = 0;
    std::unique_ptr<platform::WaveInDevice> device_; // open: IsRecording
    std::unique_ptr<platform::Mixer> mixer_;         // of the selected device
    std::uint64_t recording_ = 0;                    // counts the starts
    int delivering_ = 0;                             // GotData calls in progress
    bool ending_ = false;                            // a stop is delivering the end of the take
    // The recording (as counted by recording_) whose every buffer the stop's reset has
    // handed back; 0 when none.
    std::uint64_t handedBackAll_ = 0;
    bool deviceFailed_ = false;
    int startError_ = platform::MMSYSERR_NOERROR;
    std::uint64_t silenceBytes_ = 0; // of the last closed device
    std::uint64_t droppedBytes_ = 0; // of the last closed device
};
