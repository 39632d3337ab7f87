#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Reads audio files back with tools nobody in Vocarn wrote: ffprobe/ffmpeg and sox.
// Each function runs the tool on the path and parses what it says; ok is false when the
// tool failed or said something unexpected (the text is kept for the failure message).
namespace audioprobe {

struct FfprobeInfo {
    bool ok = false;
    std::string codecName; // e.g. "pcm_s16le"
    std::uint32_t codecTag = 0;
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int32_t bitsPerSample = 0;
    std::int64_t durationTs = -1; // in samples per channel (time base 1 / rate)
    std::int64_t bitRate = -1;
    std::vector<std::uint8_t> extradata; // the format record's extra bytes
    std::string text;                    // ffprobe's whole answer
};

struct SoxInfo {
    bool ok = false;
    std::int32_t sampleRate = 0;
    std::int32_t channels = 0;
    std::int64_t samples = -1; // per channel
    std::string encoding;      // e.g. "16-bit Signed Integer PCM"
    std::string text;
};

// What sox's WAV reader says of the format chunk (its debug report).
struct SoxWavHeader {
    bool ok = false;
    std::int64_t bytesPerSecond = -1;
    std::int32_t blockAlign = -1;
    std::string text;
};

// Runs a shell command; its standard output, and the exit status in status.
std::string run(const std::string& command, int& status);
// The path in single quotes for the shell.
std::string quoted(const std::string& path);

FfprobeInfo ffprobe(const std::string& path);
// The sizes in bytes of the packets ffprobe reads from the file's audio, in file order (for
// MPEG audio, its frames); empty when ffprobe failed.
std::vector<std::int64_t> packetSizes(const std::string& path);
SoxInfo soxi(const std::string& path);
SoxWavHeader soxWavHeader(const std::string& path);

// The file's audio decoded to interleaved signed 16-bit samples (channels as stored);
// ok false when the decoder failed.
std::vector<std::int16_t> decodeWithFfmpeg(const std::string& path, bool& ok);
std::vector<std::int16_t> decodeWithSox(const std::string& path, bool& ok);

std::vector<std::uint8_t> readFile(const std::string& path);

} // namespace audioprobe
