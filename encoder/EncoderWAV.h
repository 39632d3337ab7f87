#pragma once

#include "encoder/EncoderFile.h"
#include "encoder/TakeEncoder.h"
#include "platform/acm/AcmStream.h"
#include "platform/acm/AcmStreamHeader.h"
#include "platform/acm/WaveFormat.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

class QWidget;

namespace platform {
class AcmService;
class FormatChooser;
} // namespace platform

// Turns the 16-bit PCM blocks of one recording into one WAV file. Every block passes a
// conversion stream from the recording's PCM into the output format and the converted
// bytes are appended to the file. With WriteHeader set, the file starts with the RIFF
// header:
//
//   "RIFF" <size - 8> "WAVE" "fmt " <L> <output format record, L bytes> "data" <audio bytes>
//
// L is the output format length (18 for PCM: the record's extra size field is kept).
// The header is written at the start, stating no audio, and its two size fields follow
// the audio at most once a second while recording, so a take cut off by a crash or a kill
// is a playable file up to its last update (WavRepair states the rest at the next start).
// Encoder_EncoderClose writes the final header.
//
// A short write (a full disk, the size limit) ends the file's growth: only the whole
// blocks of the output format that reached the disk are kept and stated by the header,
// a partial block is cut off, and nothing more is appended to that file.
//
// Result codes: 0 success; 2 not running (close) or file not created (init; also when
// another recording holds the file, which is then left untouched); 7 bad rate or channels or
// no conversion stream (init); 8 block longer than one second of input; 9 conversion failed
// and consumed nothing; 10 short write.
class EncoderWAV : public TakeEncoder {
public:
    // Conversion streams over FFmpeg, the format chooser dialog.
    EncoderWAV();
    // Streams from acm, the format chooser dialog.
    explicit EncoderWAV(platform::AcmService& acm);
    // Conversion streams over FFmpeg, formats chosen through chooser.
    explicit EncoderWAV(platform::FormatChooser& chooser);
    // Streams from acm, formats chosen through chooser. Neither is owned.
    EncoderWAV(platform::AcmService& acm, platform::FormatChooser& chooser);
    ~EncoderWAV() override; // finishes an open recording
    EncoderWAV(const EncoderWAV&) = delete;
    EncoderWAV& operator=(const EncoderWAV&) = delete;

    bool WriteHeader() const;
    // RaisedError 90 "Encoder already running!" while running; the flag then keeps its value.
    void setWriteHeader(bool v);

    std::string FormatTag() const;
    std::string FormatID() const;

    // The 16-bit PCM record for samplerate and Channels as the output format. An empty
    // FormatID becomes e.g. "44.1 16 Bit stereo", an empty FormatTag "PCM".
    void SetPCMFormat(std::int32_t samplerate, std::int16_t Channels, std::string FormatID,
                      std::string FormatTag);
    // wfx: a wave format record with its extra bytes, stored as given (not examined).
    void SetFormat(std::span<const std::uint8_t> wfx, std::string FormatID, std::string FormatTag);
    // Lets the user choose the output format among those the 16-bit PCM of samplerate and
    // Channels converts into, in the chooser titled Title over hwndOwner. The chooser opens
    // on the output format when it is on offer, otherwise on that 16-bit PCM. 0: the choice is
    // the output format (the whole 131072-byte format buffer, the record at its start), its
    // type name FormatTag and its text FormatID; 11: cancelled or failed, nothing changed.
    std::int32_t SelectFormat(std::int32_t samplerate, std::int16_t Channels, QWidget* hwndOwner,
                              const std::string& Title);
    // Makes record the output format, with its type name and text, as a choice of it in the
    // chooser would; only when it is among the formats the 16-bit PCM of samplerate and
    // Channels converts into. False, nothing changed, otherwise (a remembered format that
    // no longer fits, or bytes that are no format at all).
    bool RestoreFormat(std::int32_t samplerate, std::int16_t Channels,
                       std::span<const std::uint8_t> record);

    std::string Encoder_Description() const;
    std::string Encoder_Extension() const;

    std::int32_t Encoder_EncoderClose() override;
    std::int32_t Encoder_Encode(const std::uint8_t* buffer_ptr, std::int32_t buffer_len,
                                std::int32_t& buffer_used) override;
    // info 0: the input's bytes per frame, 1: its bytes per second (-1 when not running);
    // any other info: 0.
    std::int32_t Encoder_EncoderMetrics(std::int32_t info) const;
    std::int32_t Encoder_EncoderInit(std::int32_t samplerate, std::int16_t Channels,
                                     const std::string& output) override;

    bool IsRunning() const;
    // Whether the last Encoder_EncoderInit gave 2 because another recording holds the file
    // (it is then left as it was).
    bool OutputInUse() const override { return file_.inUse(); }

    // Whether converting a block of buffer_len bytes could take the file past its size limit
    // (the end flush at close counted in): the caller then finishes this file and hands the
    // block to the next one, so no sample is lost at the 32-bit size limit of RIFF. False
    // when not running, and for a file that holds no audio yet (a fresh file takes a block
    // whatever its size; a block that does not fit then comes up short, result 10).
    bool WouldExceedLimit(std::int32_t buffer_len) override;
    // The largest file the encoder writes: 4 GiB - 1 bytes. Tests lower it to split small
    // recordings; it holds for the running file and every later one.
    std::uint32_t SizeLimit() const;
    void setSizeLimitForTests(std::uint32_t bytes);

    // The output format record as set (output format length bytes).
    std::span<const std::uint8_t> OutputFormat() const;
    // Room of the output format buffer: 131072 bytes, more after a longer SetFormat.
    std::int32_t OutputFormatCapacity() const;

private:
    // Uses acm when given, else ownedAcm; likewise for the chooser.
    EncoderWAV(std::unique_ptr<platform::AcmService> ownedAcm, platform::AcmService* acm,
               std::unique_ptr<platform::FormatChooser> ownedChooser,
               platform::FormatChooser* chooser);
    // Makes record (of at least the record size, at most the buffer's) the output format.
    void useChoice(std::span<const std::uint8_t> source, std::span<const std::uint8_t> record,
                   const std::string& tagName, const std::string& text);
    void writeWaveHeader();
    // The header's two size fields for the audio kept so far, in whole blocks.
    void writeSizes();
    // After a block's write that came up short with written bytes: keeps whole blocks only.
    void keepWholeBlocks(std::int32_t written);
    void releaseStream();

    std::unique_ptr<platform::AcmService> ownedAcm_;
    platform::AcmService& acm_;
    std::unique_ptr<platform::FormatChooser> ownedChooser_;
    platform::FormatChooser& chooser_;

    platform::WaveFormat inputFormat_;
    std::vector<std::uint8_t> outputFormat_; // its size is the buffer's capacity
    std::int32_t outputFormatLength_ = 0;
    std::string formatID_;
    std::string formatTag_;
    // The output record the open stream converts into; the header states this one.
    std::vector<std::uint8_t> streamFormat_;

    std::vector<std::uint8_t> source_;
    std::vector<std::uint8_t> destination_;
    std::int32_t sourceCapacity_ = 0;
    std::int32_t destinationCapacity_ = 0;
    platform::AcmStreamHeader header_;
    bool headerPrepared_ = false;
    std::unique_ptr<platform::AcmStream> stream_;

    EncoderFile file_;
    bool writeHeader_ = true;

    // Bytes of the header at the file's start: L + 28, or 0 without one (or when it could
    // not be written).
    std::uint32_t headerBytes_ = 0;
    // Audio bytes appended to the file.
    std::uint32_t audioBytes_ = 0;
    // The output format's block align (at least 1): the unit of whole audio.
    std::uint32_t blockAlign_ = 1;
    // A write came up short: nothing more is appended to this file.
    bool writeFailed_ = false;
    std::chrono::steady_clock::time_point sizesWrittenAt_;
};
