#pragma once

#include "platform/media/AudioFileWriter.h"

#include <cstdint>
#include <memory>

struct AVAudioFifo;
struct AVCodecContext;
struct AVFormatContext;
struct AVFrame;
struct AVIOContext;
struct AVPacket;
struct AVStream;
struct SwrContext;

namespace platform {

// AudioFileWriter over FFmpeg: the samples are brought to the codec's rate and sample format
// (libswresample), gathered into whole codec frames, encoded (flac, libopus, libmp3lame) and
// muxed (flac, ogg for Opus, mp3) into the caller's file descriptor through an I/O context
// of its own, which flushes after every packet.
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

    int OpenCodec(const AudioFileSettings& settings, int rate, int channels);
    int OpenContainer(const AudioFileSettings& settings, const AudioFileTags& tags);
    int OpenBuffers(int rate, int channels);
    // Moves converted samples into the FIFO and encodes every whole frame.
    int Queue(int converted);
    int EncodeFrame(int samples);
    // Writes every packet the codec has ready.
    int Drain();
    void Release();
    static int WritePacket(void* opaque, std::uint8_t* data, int size);
    static std::int64_t Seek(void* opaque, std::int64_t offset, int whence);

    std::unique_ptr<Parts> parts_;
    int fd_ = -1;
    int channels_ = 0;
    int inputRate_ = 0;
    std::int64_t pts_ = 0;
    bool writeFailed_ = false;
};

} // namespace platform
