#pragma once

#include "platform/Mixer.h"
#include "platform/WindowService.h"

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// Posted to the notification window when the device hands a buffer back (full, or from a
// reset); lParam is the address of the buffer's WaveInHeader, wParam 0.
inline constexpr std::uint32_t MM_WIM_DATA = 0x3C0;
// Posted to the notification window once when the device stops working during a take (the
// sound server went away, the source was removed); wParam is the device's error number.
inline constexpr std::uint32_t WIM_DEVICE_FAILED = 0x8000 + 0x3C1;

// WaveInHeader::flags
inline constexpr std::uint32_t WHDR_DONE = 0x01;     // handed back by the device
inline constexpr std::uint32_t WHDR_PREPARED = 0x02; // prepared for this device
inline constexpr std::uint32_t WHDR_INQUEUE = 0x10;  // queued at the device

// Results of the device calls: 0 is success.
inline constexpr int MMSYSERR_NOERROR = 0;
inline constexpr int MMSYSERR_ERROR = 1;       // unspecified failure of the sound server
inline constexpr int MMSYSERR_BADDEVICEID = 2; // no such device
inline constexpr int MMSYSERR_INVALPARAM = 11; // a buffer without storage, a bad format
inline constexpr int MMSYSERR_NODRIVER = 6;    // no sound server reachable
inline constexpr int WAVERR_STILLPLAYING = 33; // the buffer is still queued
inline constexpr int WAVERR_UNPREPARED = 34;   // the buffer is not prepared

// One capture buffer as the device sees it. The owner keeps it at a fixed address from
// Prepare to Unprepare. While the buffer is queued (WHDR_INQUEUE) the device owns it and
// the owner must not touch it; once the data-ready message for it has been dispatched, the
// owner may read `data` up to `bytesRecorded`.
struct WaveInHeader {
    std::uint8_t* data = nullptr;    // storage of bufferLength bytes
    std::uint32_t bufferLength = 0;  // bytes
    std::uint32_t bytesRecorded = 0; // set by the device when it hands the buffer back
    std::uintptr_t user = 0;         // the owner's value, untouched by the device
    std::uint32_t flags = 0;         // WHDR_*
    WaveInHeader* next = nullptr;    // the device's queue link
};

// Capture format: signed 16-bit little-endian PCM, interleaved, left first.
struct WaveInFormat {
    std::int32_t samplerate = 44100;
    std::int16_t channels = 2;
    std::int32_t blockAlign() const { return channels * 16 / 8; }
    std::int32_t avgBytesPerSec() const { return blockAlign() * samplerate; }
};

// One open capture device. Buffers are filled in the order they were queued; each full
// buffer is marked done with its byte count and posted as MM_WIM_DATA. Destroying the
// object closes the device: no message is posted after that.
class WaveInDevice {
public:
    virtual ~WaveInDevice() = default;
    virtual int Prepare(WaveInHeader& hdr) = 0;
    virtual int Unprepare(WaveInHeader& hdr) = 0; // WAVERR_STILLPLAYING while queued
    virtual int AddBuffer(WaveInHeader& hdr) = 0; // queue it; WAVERR_UNPREPARED if not prepared
    virtual int Start() = 0;                      // begin filling queued buffers
    virtual int Stop() = 0;                       // stop filling; queued buffers stay queued
    virtual int Reset() = 0; // stop, and hand back every queued buffer (partly filled ones
                             // with their byte count)
    // The end of the take is now: the sound captured up to this moment that the device still
    // holds (the sound server's part of it is asked for, with a short bounded wait) is still
    // to go into buffers; sound captured after it is not taken any more.
    virtual void MarkEnd() = 0;
    // Fills the queued buffers with the sound up to the end mark, handing back each buffer
    // that becomes full, and waits a short bounded time for the part still on its way.
    // False when it stopped because no queued buffer has room left (hand back and queue
    // buffers, then call it again); true when there is nothing more to wait for.
    virtual bool FillToEnd() = 0;
    // Bytes of silence written where the sound server reported a gap in the sound.
    virtual std::uint64_t SilenceBytes() const = 0;
    // Bytes of sound the sound server threw away because they were not read in time (a
    // backlog was full): they are missing from the recording, without a gap marked. Each lost
    // byte is counted once, however the server shows it. May ask the server, within the call
    // deadline.
    virtual std::uint64_t DroppedBytes() = 0;
};

// The capture devices of the machine.
//
// Devices are numbered by their place in the device list as last read: DeviceCount() reads
// the list afresh and keeps it, and DeviceName and DeviceId number devices in that kept
// list (reading it first when none was read yet), so a number means the device the user
// was shown even after devices came or went. A device is opened by its id, which stays the
// same while the device is present and again when it comes back; "" is the default input.
class WaveInService {
public:
    virtual ~WaveInService() = default;
    // Reads the device list afresh and keeps it; the number of devices in it.
    virtual std::int32_t DeviceCount() = 0;
    // The name of device `index` of the kept list, for the user; empty outside it.
    virtual std::string DeviceName(std::int32_t index) = 0;
    // The id of device `index` of the kept list; empty outside it.
    virtual std::string DeviceId(std::int32_t index) = 0;
    // Opens the device with id `id` ("" the default input) for `format`; notifications are
    // posted to window `notify` of `windows`. On failure returns null and sets `error` (an
    // MMSYSERR_* number): MMSYSERR_BADDEVICEID when no device has that id (any more).
    virtual std::unique_ptr<WaveInDevice> Open(const std::string& id, const WaveInFormat& format,
                                               WindowService& windows, WindowHandle notify,
                                               int& error) = 0;
    // Opens the mixer of the device with id `id`; null when there is no such device or its
    // mixer cannot be opened.
    virtual std::unique_ptr<Mixer> OpenMixer(const std::string& id) = 0;
};

} // namespace platform
