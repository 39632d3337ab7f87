#pragma once

#include "platform/media/AudioFileWriter.h"

#include <cstdint>
#include <memory>

struct AVFormatContext;
struct AVIOContext;
struct AVPacket;
struct AVStream;

namespace platform {

// AudioFileWriter over FFmpeg: the codec stage (FfmpegAudioCodec) encodes the samples, and
// every packet is muxed (flac, ogg for Opus, mp3) into the caller's file descriptor through
// an I/O context of its own, which flushes after every packet.
class FfmpegAudioFileWriter final : public AudioFileWriter {
public:
    FfmpegAudioFileWriter();
    ~FfmpegAudioFileWriter() override;
    FfmpegAudioFileWriter(const FfmpegAudioFileWriter&) = delete;
    FfmpegAudioFileWriter& operator=(const FfmpegAudioFileWriter&) = delete;

    int Open(int fd, const AudioFileSettings& settings, int rate, int channels,
             const AudioFileTags& tags) override;
    int Write(std::span<const std::int16_t> samples) override;
    int Close() override;
    int FileRate() const override;

private:
    struct Parts;

    int OpenContainer(const AudioFileSettings& settings, const AudioFileTags& tags);
    // Writes one packet of the codec into the file.
    int Mux(AVPacket& packet);
    void Release();
    static int WritePacket(void* opaque, std::uint8_t* data, int size);
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);

    std::unique_ptr<Parts> parts_;
    int fd_ = -1;
    bool writeFailed_ = false;
};

} // namespace platform
