#include "app/Take.h"

#include "app/TakeFiles.h"
#include "dsp/clsDSP.h"
#include "encoder/EncoderAudioFile.h"
#include "encoder/TakeEncoder.h"
#include "platform/EventLog.h"
#include "platform/WaveInService.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

// The capture block asked for: 10240 bytes, 58 ms at 44100 Hz stereo.
constexpr std::int32_t kCaptureBlockBytes = 10240;

// A sample at full scale: the largest magnitude 16 bits hold, either sign.
bool FullScale(std::int16_t s) {
    return s >= 32767 || s <= -32767;
}

} // namespace

Take::EndMessage Take::MessageOf(TakeEnd why) {
    const QString hint = QStringLiteral("提示");
    switch (why) {
    case TakeEnd::Stopped:
    case TakeEnd::TimeUp:
        break;
    case TakeEnd::WriteFailed:
        return {QStringLiteral("Write error (no disk space left?)!"), QStringLiteral("Vocarn")};
    case TakeEnd::EncodeFailed:
        return {QStringLiteral("编码失败，录音已停止!"), hint};
    case TakeEnd::NextFileFailed:
        return {QStringLiteral("无法初始化编码器!"), hint};
    case TakeEnd::DeviceLost:
        return {QStringLiteral("录音设备已断开，录音已停止!"), hint};
    }
    return {};
}

Take::Take(WaveInRecorder& recorder, TakeEncoder& wav, TakeEncoder& files, clsDSP& effects,
           TakeFiles& numbering, TakeEvents& events)
    : recorder_(recorder), wav_(wav), compressed_(files), encoder_(&wav), effects_(effects),
      files_(numbering), events_(events) {
    intBlock_.assign(1024, 0);
    recorder_.setEvents(this);
}

Take::~Take() {
    recorder_.setEvents(nullptr);
}

Take::StartResult Take::Start(const QString& path, std::int32_t rate, std::int16_t channels) {
    if (running_) {
        return StartResult::Started;
    }
    lngBytesPerSec_ = rate * (2 * (channels - 1) + 2);
    rate_ = rate;
    channels_ = channels;
    path_ = path;
    // The path's extension names the type; the next numbered takes are of the same type.
    const bool compressed = EncoderAudioFile::TypeOf(path.toStdString()).has_value();
    encoder_ = compressed ? &compressed_ : &wav_;
    files_.setExtension(compressed ? QFileInfo(path).suffix() : QStringLiteral("wav"));
    if (encoder_->Encoder_EncoderInit(rate, channels, path.toStdString()) != 0) {
        lngBytesPerSec_ = 0;
        return encoder_->OutputInUse() ? StartResult::OutputInUse : StartResult::EncoderFailed;
    }
    effects_.setSamplerate(rate);
    effects_.setChannels(channels);
    // The encoder takes at most one second of sound per block: below 5120 Hz mono (2560 Hz
    // stereo) a capture block holds one second instead of its usual 10240 bytes.
    recorder_.setBufferSize(std::min(kCaptureBlockBytes, lngBytesPerSec_));
    capturedBytes_ = pausedBytes_ = clipped_ = 0;
    limitBytes_ = lengthLimitMS_
                      ? static_cast<std::uint64_t>(std::llround(
                            static_cast<double>(std::max<std::int64_t>(*lengthLimitMS_, 1)) * rate /
                            1000.0)) *
                            blockAlign()
                      : 0;
    if (voice_) {
        gate_.Setup(rate, channels, voice_->thresholdDb, voice_->holdMS);
    }
    paused_ = false;
    clipMark_ = {};
    report_.clear();
    end_ = TakeEnd::Stopped;
    running_ = true;
    if (!recorder_.StartRecord(rate, channels)) {
        running_ = false;
        lngBytesPerSec_ = 0;
        encoder_->Encoder_EncoderClose();
        return recorder_.StartError() == platform::MMSYSERR_BADDEVICEID
                   ? StartResult::DeviceGone
                   : StartResult::CaptureFailed;
    }
    return StartResult::Started;
}

TakeEnd Take::Stop() {
    if (stopping_) {
        // A block of the take's end asks for the stop: the capture ends at that block, and
        // the stop under way finishes the take.
        recorder_.StopRecord();
        return TakeEnd::Stopped;
    }
    if (!running_) {
        return TakeEnd::Stopped;
    }
    // The capture engine hands the end of the take to the block handler before it returns,
    // so the file is finished after the last block.
    stopping_ = true;
    recorder_.StopRecord();
    stopping_ = false;
    Finish();
    return std::exchange(end_, TakeEnd::Stopped);
}

void Take::EndItself(TakeEnd why) {
    if (stopping_) {
        if (end_ == TakeEnd::Stopped && why != TakeEnd::TimeUp) {
            end_ = why;
        }
        recorder_.StopRecord();
        return;
    }
    end_ = why;
    stopping_ = true;
    recorder_.StopRecord();
    stopping_ = false;
    Finish();
    events_.TakeEnded(std::exchange(end_, TakeEnd::Stopped));
}

void Take::Finish() {
    // After a failed roll-over the full file is finished already and the counter stands on
    // the file that could not be opened.
    if (end_ != TakeEnd::NextFileFailed) {
        encoder_->Encoder_EncoderClose();
        strLastFile_ = path_;
        files_.Next();
    }
    MakeReport();
    lngElapsedMS_ = 0;
    lngBytesPerSec_ = 0;
    paused_ = false;
    running_ = false;
}

void Take::Pause() {
    paused_ = running_;
}

void Take::Continue() {
    paused_ = false;
    // Voice activation starts afresh: nothing of before the pause is kept as pre-roll.
    gate_.Reset();
}

bool Take::TakeClipMark(int channel) {
    return std::exchange(clipMark_[static_cast<std::size_t>(channel == 0 ? 0 : 1)], false);
}

bool Take::TakeWritten() {
    return std::exchange(written_, false);
}

void Take::GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) {
    clsRecorder_GotData(intBuffer, lngLen);
}

void Take::DeviceLost() {
    if (running_ && recorder_.IsRecording()) {
        EndItself(TakeEnd::DeviceLost);
    }
}

void Take::clsRecorder_GotData(std::span<std::int16_t> intBuffer, std::int32_t& lngLen) {
    // The capture engine hands this array back to the device when the handler returns: the
    // effects, the file and the display work on a copy. Its storage is reused from block to
    // block; it only grows when the buffer size grows.
    intBlock_.resize(intBuffer.size());
    std::copy(intBuffer.begin(), intBuffer.end(), intBlock_.begin());
    effects_.ProcessSamples(intBlock_);

    if (!recorder_.IsRecording() || !running_) {
        return;
    }
    const std::int32_t blockBytes = static_cast<std::int32_t>(intBlock_.size() * 2);
    const std::int32_t length = std::clamp(lngLen, std::int32_t{0}, blockBytes);
    MarkClips(std::span<const std::int16_t>(intBlock_).first(static_cast<std::size_t>(length / 2)));
    bool timeUp = false;
    const std::int32_t bytes = BytesToWrite(length, timeUp);
    const auto sound =
        std::span<const std::int16_t>(intBlock_).first(static_cast<std::size_t>(bytes / 2));
    if (!sound.empty() && !paused_) {
        if (!voice_) {
            if (!Write(sound)) {
                return;
            }
        } else {
            for (const auto part : gate_.Block(sound).parts) {
                if (!part.empty() && !Write(part)) {
                    return;
                }
            }
        }
    }
    if (timeUp) {
        EndItself(TakeEnd::TimeUp);
    }
}

std::int32_t Take::BytesToWrite(std::int32_t bytes, bool& timeUp) {
    std::uint64_t take = static_cast<std::uint64_t>(bytes);
    if (limitBytes_ != 0 && capturedBytes_ + take >= limitBytes_) {
        take = limitBytes_ > capturedBytes_ ? limitBytes_ - capturedBytes_ : 0;
        timeUp = true;
    }
    capturedBytes_ += take;
    if (paused_) {
        pausedBytes_ += take;
    }
    return static_cast<std::int32_t>(take);
}

void Take::MarkClips(std::span<const std::int16_t> samples) {
    if (channels_ == 2) {
        for (std::size_t i = 0; i + 1 < samples.size(); i += 2) {
            clipMark_[0] = clipMark_[0] || FullScale(samples[i]);
            clipMark_[1] = clipMark_[1] || FullScale(samples[i + 1]);
        }
        return;
    }
    const bool clipped = std::any_of(samples.begin(), samples.end(), FullScale);
    clipMark_[0] = clipMark_[0] || clipped;
    clipMark_[1] = clipMark_[1] || clipped;
}

bool Take::Write(std::span<const std::int16_t> samples) {
    const auto length = static_cast<std::int32_t>(samples.size() * 2);
    // Each block adds its own duration rounded to whole milliseconds (58 for 10240 bytes at
    // 44100 Hz stereo).
    lngElapsedMS_ = static_cast<std::int32_t>(
        std::nearbyint(static_cast<double>(length) / lngBytesPerSec_ * 1000.0 + lngElapsedMS_));
    // A file at its size limit is finished and the block opens the next one, so a long take
    // goes on in numbered files without a gap.
    if (encoder_->WouldExceedLimit(length) && !ContinueInNextFile()) {
        return false;
    }
    clipped_ +=
        static_cast<std::uint64_t>(std::count_if(samples.begin(), samples.end(), FullScale));
    std::int32_t buffer_used = 0;
    const std::int32_t result = encoder_->Encoder_Encode(
        reinterpret_cast<const std::uint8_t*>(samples.data()), length, buffer_used);
    written_ = true;
    if (result == 10) {
        // Short write: what is on disk is finished and the counter moves on; the user is
        // told by the owner.
        EndItself(TakeEnd::WriteFailed);
        return false;
    }
    if (result != 0) {
        // The encoder refused the block: a take that went on would write nothing while the
        // time counts up. It ends here with what is on disk.
        EndItself(TakeEnd::EncodeFailed);
        return false;
    }
    return true;
}

bool Take::ContinueInNextFile() {
    encoder_->Encoder_EncoderClose();
    strLastFile_ = path_;
    files_.Next();
    path_ = files_.Path();
    if (encoder_->Encoder_EncoderInit(rate_, channels_, path_.toStdString()) != 0) {
        // Nothing can take the sound: the take ends with the full file, the counter stays on
        // the file that could not be opened.
        EndItself(TakeEnd::NextFileFailed);
        return false;
    }
    events_.TakeGoesOn();
    return true;
}

void Take::MakeReport() {
    report_.clear();
    const std::uint64_t silenceBytes = recorder_.SilenceBytes();
    const std::uint64_t droppedBytes = recorder_.DroppedBytes();
    if (rate_ <= 0 || channels_ <= 0) {
        return;
    }
    const auto seconds = [this](std::uint64_t bytes) {
        return QString::number(
            static_cast<double>(bytes) / (static_cast<double>(rate_) * channels_ * 2), 'f', 3);
    };
    QStringList shown;
    QStringList logged;
    if (silenceBytes != 0) {
        shown << QStringLiteral("录音中有 %1 秒声音丢失，已用静音补上").arg(seconds(silenceBytes));
        logged << QStringLiteral("%1 s (%2 bytes) of sound lost by the capture, written as silence")
                      .arg(seconds(silenceBytes), QString::number(silenceBytes));
    }
    if (droppedBytes != 0) {
        shown << QStringLiteral("录音中有 %1 秒声音未能及时读取，已被声音服务器丢弃")
                     .arg(seconds(droppedBytes));
        logged << QStringLiteral("%1 s (%2 bytes) of sound dropped by the sound server before "
                                 "it was read, missing from the file")
                      .arg(seconds(droppedBytes), QString::number(droppedBytes));
    }
    if (clipped_ != 0) {
        shown << QStringLiteral("录音中有 %1 个采样削波（达到满幅）").arg(clipped_);
        logged << QStringLiteral("%1 samples clipped at full scale").arg(clipped_);
    }
    if (shown.isEmpty()) {
        return;
    }
    report_ = shown.join(QStringLiteral("；"));
    platform::LogError(QStringLiteral("%1: %2")
                           .arg(strLastFile_, logged.join(QStringLiteral("; ")))
                           .toStdString());
}
