#pragma once

#include "encoder/EncoderFile.h"
#include "encoder/TakeEncoder.h"
#include "platform/media/AudioFileWriter.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Turns the 16-bit PCM blocks of one recording into a FLAC, Ogg Opus or MP3 file, the type
// named by the output path's extension, through an AudioFileWriter. The file is opened as a
// WAV take's is (locked, made anew, never through a link) and carries the tags title (the
// file's name), date and encoder "Vocarn". These types state no size that could run over:
// a take goes on in one file however long it runs.
class EncoderAudioFile : public TakeEncoder {
public:
    using WriterFactory = std::function<std::unique_ptr<platform::AudioFileWriter>()>;

    // Files written over FFmpeg.
    EncoderAudioFile();
    // Files written by the writers make gives, one per take.
    explicit EncoderAudioFile(WriterFactory make);
    ~EncoderAudioFile() override; // finishes an open recording

    // The type a path's extension names (.flac, .opus, .mp3, in any case); nothing for any
    // other extension (a WAV take).
    static std::optional<platform::AudioFileType> TypeOf(const std::string& path);
    static std::string Extension(platform::AudioFileType type); // "flac", "opus", "mp3"
    static std::string Name(platform::AudioFileType type);      // "FLAC", "Opus", "MP3"

    // What each type is written with; defaults: FLAC level 5, Opus 48 kbit/s, MP3 128 kbit/s.
    platform::AudioFileSettings Settings(platform::AudioFileType type) const;
    void setSettings(const platform::AudioFileSettings& settings);
    // The file a take of type at samplerate and Channels becomes, as the format box shows it:
    // "FLAC - 44.1 kHz 16 Bit Stereo", "Opus - 48 kbit/s Stereo", "MP3 - 128 kbit/s Mono".
    std::string Describe(platform::AudioFileType type, std::int32_t samplerate,
                         std::int16_t Channels) const;

    // 7 also for an output whose extension names no type of this encoder.
    std::int32_t Encoder_EncoderInit(std::int32_t samplerate, std::int16_t Channels,
                                     const std::string& output) override;
    std::int32_t Encoder_Encode(const std::uint8_t* buffer_ptr, std::int32_t buffer_len,
                                std::int32_t& buffer_used) override;
    std::int32_t Encoder_EncoderClose() override;
    bool WouldExceedLimit(std::int32_t) override { return false; }
    bool OutputInUse() const override { return file_.inUse(); }
    bool IsRunning() const { return writer_ != nullptr; }

private:
    static std::size_t Index(platform::AudioFileType type);

    WriterFactory make_;
    std::unique_ptr<platform::AudioFileWriter> writer_;
    EncoderFile file_;
    std::array<platform::AudioFileSettings, 3> settings_;
    std::int32_t bytesPerSec_ = 0;
    std::int16_t channels_ = 0;
    bool failed_ = false; // a write came up short: nothing more goes to the file
};
