#pragma once

#include <cstdint>
#include <string>

// The encoder's output file record and its access layer: a handle (-1 when no file is
// open) and the path, with write, seek and size on 32-bit positions. The file is opened
// for writing only; other programs may read it (and write it) while it is open. It holds
// an advisory lock (flock) while open, so the start-up repair of another Vocarn leaves a
// file that is being recorded alone, and another recording is refused the file: the lock is
// taken before a file made anew is truncated. Files never grow past the size limit, 4 GiB - 1 bytes
// (the largest size the RIFF fields can state) unless lowered: a write that would cross
// it is cut short there.
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

    // Opens path (UTF-8); false when it cannot be opened, or when another recording holds
    // it (its contents then untouched). Closes an open file first.
    bool open(const std::string& path, Creation creation);
    // Whether the last open failed because another recording holds the file.
    bool inUse() const { return inUse_; }
    // Handle -1, path cleared.
    void close();

    int handle() const { return fd_; }
    // Lowering the limit lets tests reach it with small files; it holds for later opens too.
    std::uint32_t sizeLimit() const { return sizeLimit_; }
    void setSizeLimit(std::uint32_t bytes) { sizeLimit_ = bytes; }
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

    // Writes n bytes at offset without moving the position (the header's size fields while
    // recording); true when all were written. Never grows the file past the size limit.
    bool writeAt(std::uint32_t offset, const void* data, std::int32_t n);
    // Cuts the file to length bytes (never grows it); true on success.
    bool truncate(std::uint32_t length);

private:
    int fd_ = -1;
    std::string path_;
    std::uint32_t sizeLimit_ = MaxSize;
    bool inUse_ = false;
};
