#pragma once

#include <cstdint>
#include <string>

// The encoder's output file record and its access layer: a handle (-1 when no file is
// open) and the path, with write, seek and size on 32-bit positions. The file is opened
// for writing only; other programs may read it (and write it) while it is open. Files
// never grow past 4 GiB - 1 bytes, the largest size the RIFF fields can state: a write
// that would cross that size is cut short there.
class EncoderFile {
public:
    enum class Creation {
        CreateAlways, // made anew; an existing file is truncated
        OpenExisting, // the file must exist; its content is kept
    };
    enum class Origin { Begin, Current };

    static constexpr std::uint32_t MaxSize = 0xFFFFFFFFu;

    EncoderFile() = default;
    ~EncoderFile();
    EncoderFile(const EncoderFile&) = delete;
    EncoderFile& operator=(const EncoderFile&) = delete;

    // Opens path (UTF-8); false when it cannot be opened. Closes an open file first.
    bool open(const std::string& path, Creation creation);
    // Handle -1, path cleared.
    void close();

    int handle() const { return fd_; }
    const std::string& path() const { return path_; }

    // Bytes written: n when all were written, fewer when the disk (or the size limit)
    // stopped the write part way, -1 when nothing could be written, 0 without trying
    // when no file is open or n is 0.
    std::int32_t write(const void* data, std::int32_t n);
    // The new position, 0xFFFFFFFF when the seek failed or no file is open.
    std::uint32_t seek(std::int32_t distance, Origin origin);
    std::uint32_t tell() { return seek(0, Origin::Current); }
    // The file's size (its low 32 bits), 0xFFFFFFFF when it cannot be read.
    std::uint32_t size() const;

private:
    int fd_ = -1;
    std::string path_;
};
