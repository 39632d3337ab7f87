#pragma once

#include "app/VoiceGate.h"
#include "capture/WaveInRecorder.h"

#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class TakeEncoder;
class TakeFiles;
class clsDSP;

// How a take ended.
enum class TakeEnd {
    Stopped,        // by Stop, or by the set length
    TimeUp,         // by itself at the set length
    WriteFailed,    // a block could not be written (a full disk)
    EncodeFailed,   // the encoder refused a block
    NextFileFailed, // the file after a full one could not be opened
    DeviceLost,     // the device stopped working
};

// The owner of a take hears of what the take does by itself, between its start and its stop.
class TakeEvents {
public:
    virtual ~TakeEvents() = default;
    // The file was full: the take goes on in the next numbered file (TakeFiles::Path).
    virtual void TakeGoesOn() = 0;
    // The take ended by itself (why is never Stopped); it is finished as by Stop.
    virtual void TakeEnded(TakeEnd why) = 0;
};

// Voice-activated writing, when on: the threshold in dBFS and the silence after which
// writing waits again.
struct VoiceActivation {
    double thresholdDb = -40.0;
    std::int32_t holdMS = 2000;
};

// The life of one recording: its start, every captured block through the effects into the
// file, the roll-over into the next numbered file at the size limit, pause, the set length,
// voice activation, the stop, and the report of what went wrong on the way. It is the capture
// engine's receiver of blocks; the window (or a test) drives it and shows what it reports.
class Take : private WaveInRecorderEvents {
public:
    enum class StartResult {
        Started,
        EncoderFailed, // the encoder could not open the file
        OutputInUse,   // another recording holds the file
        DeviceGone,    // the selected device is gone
        CaptureFailed, // the device would not start
    };

    // What the user is told of an end they did not ask for, and its title; no text for
    // Stopped and TimeUp.
    struct EndMessage {
        QString text;
        QString title;
    };
    static EndMessage MessageOf(TakeEnd why);

    // wav writes the takes whose path names no other type; files writes FLAC, Ogg Opus and
    // MP3 takes (by the path's extension).
    Take(WaveInRecorder& recorder, TakeEncoder& wav, TakeEncoder& files, clsDSP& effects,
         TakeFiles& numbering, TakeEvents& events);
    ~Take() override;
    Take(const Take&) = delete;
    Take& operator=(const Take&) = delete;

    // Starts a take into path at rate and channels with the settings below. On failure
    // nothing records and the encoder is closed.
    StartResult Start(const QString& path, std::int32_t rate, std::int16_t channels);
    // Delivers the end of the take to the file, finishes it and numbers the files on.
    // Stopped, or what ended the take while its end was handed over.
    TakeEnd Stop();
    bool IsRecording() const { return running_; }

    // While paused the blocks reach the effects (and so the display) but not the file, and
    // the recorded time stands still; Continue goes on with the next block.
    void Pause();
    void Continue();
    bool IsPaused() const { return paused_; }

    // For the next start: stop by itself once this much sound has been captured (paused and
    // silent stretches count), the last block cut at that point; nothing stops it while unset.
    void setLengthLimitMS(std::optional<std::int64_t> ms) { lengthLimitMS_ = ms; }
    // For the next start: voice-activated writing, or every block written while unset.
    void setVoiceActivation(std::optional<VoiceActivation> voice) { voice_ = voice; }
    // Voice activation is on and sound is being written (false while it waits for sound).
    bool VoiceWriting() const { return voice_.has_value() && gate_.Writing(); }
    bool VoiceActive() const { return running_ && voice_.has_value(); }

    // One captured block (the capture engine's handler): intBuffer is the capture buffer's
    // whole sample array, lngLen the number of valid bytes in it.
    void clsRecorder_GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen);

    // The latest block after the effects, for the display.
    std::span<const std::int16_t> intBlock() const { return intBlock_; }
    // Audio time written since the start, in ms; 0 while idle.
    std::int32_t lngElapsedMS() const { return lngElapsedMS_; }
    std::int32_t lngBytesPerSec() const { return lngBytesPerSec_; }
    // The file of the last finished take (or the full file a take went on from).
    const QString& strLastFile() const { return strLastFile_; }
    // The file the take writes.
    const QString& Path() const { return path_; }
    // Frames captured while paused, not written.
    std::uint64_t PausedFrames() const { return pausedBytes_ / blockAlign(); }
    // Samples of the take at full scale, counted as they are written.
    std::uint64_t ClippedSamples() const { return clipped_; }
    // True once after a block of the channel (0 left, 1 right) reached full scale.
    bool TakeClipMark(int channel);
    // A block was written since the last call.
    bool TakeWritten();
    // What the last take has to report (lost sound, clipped samples), as the status bar
    // shows it; empty when all went well. It went to the system log at the stop.
    const QString& Report() const { return report_; }

private:
    void GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) override;
    void DeviceLost() override;

    std::uint64_t blockAlign() const { return 2u * static_cast<std::uint64_t>(channels_); }
    // The sound to write of a block of `bytes`: nothing while paused, up to the set length.
    std::int32_t BytesToWrite(std::int32_t bytes, bool& timeUp);
    void MarkClips(std::span<const std::int16_t> samples);
    // Writes samples to the file (rolling over at the size limit); false when the take ended.
    bool Write(std::span<const std::int16_t> samples);
    bool ContinueInNextFile();
    // Ends the take from inside: during a stop the stop finishes it, else it finishes here
    // and the owner hears why.
    void EndItself(TakeEnd why);
    // The capture has ended: the file is finished and the files numbered on.
    void Finish();
    void MakeReport();

    WaveInRecorder& recorder_;
    TakeEncoder& wav_;
    TakeEncoder& compressed_;
    TakeEncoder* encoder_ = nullptr; // of the running take
    clsDSP& effects_;
    TakeFiles& files_;
    TakeEvents& events_;
    VoiceGate gate_;

    std::optional<std::int64_t> lengthLimitMS_;
    std::optional<VoiceActivation> voice_;

    bool running_ = false;
    bool paused_ = false;
    bool stopping_ = false;
    TakeEnd end_ = TakeEnd::Stopped;
    std::vector<std::int16_t> intBlock_;
    std::int32_t lngElapsedMS_ = 0;
    std::int32_t lngBytesPerSec_ = 0;
    std::int32_t rate_ = 0;
    std::int16_t channels_ = 1;
    QString path_;
    QString strLastFile_;
    std::uint64_t capturedBytes_ = 0;
    std::uint64_t limitBytes_ = 0; // 0: no set length
    std::uint64_t pausedBytes_ = 0;
    std::uint64_t clipped_ = 0;
    std::array<bool, 2> clipMark_{};
    bool written_ = false;
    QString report_;
};
