#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace platform {

// The compressed file types a take can be written as, beside WAV.
enum class AudioFileType { Flac, Opus, Mp3 };

// What a file of a type is written with: the bit rate of Opus and MP3, the compression
// level of FLAC (0 fastest .. 8 smallest).
struct AudioFileSettings {
    AudioFileType type = AudioFileType::Flac;
    std::int32_t bitRate = 0;
    std::int32_t compressionLevel = 5;
};

// The tags a file carries.
struct AudioFileTags {
    std::string title;
    std::string date;
    std::string encoder;
};

// Writes one audio file of a compressed type, in its own container (FLAC, Ogg Opus, MP3),
// from 16-bit PCM blocks, into a file descriptor that stays the caller's. The file is
// streamable as it grows: what was handed over more than about a second ago is on disk, in
// whole frames or pages, so a take cut off by a kill keeps it.
class AudioFileWriter {
public:
    virtual ~AudioFileWriter() = default;

    // Writes the file's header for rate and channels (1 or 2) into fd (seekable, empty).
    // 0: open; 7: the type refuses the rate, channels or settings; 10: the header could not
    // be written.
    virtual int Open(int fd, const AudioFileSettings& settings, int rate, int channels,
                     const AudioFileTags& tags) = 0;
    // Encodes interleaved samples (whole frames). 0; 9: the codec failed; 10: a write failed
    // (a full disk): nothing more goes to the file.
    virtual int Write(std::span<const std::int16_t> samples) = 0;
    // Encodes what is held, writes the trailer and brings the header's totals up to date.
    // 0, or 10 when that could not be written.
    virtual int Close() = 0;
    // The rate the file holds: the rate written when the type takes it, else the nearest
    // one it does (Opus 48000 Hz).
    virtual int FileRate() const = 0;
};

// The writer over FFmpeg's encoders (flac, libopus, libmp3lame) and muxers, from the module
// vocarn-media.so (loaded at the first call); nothing when the module cannot be loaded.
std::unique_ptr<AudioFileWriter> MakeFfmpegAudioFileWriter();

} // namespace platform
