#include "encoder/EncoderFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

EncoderFile::~EncoderFile() {
    close();
}

bool EncoderFile::open(const std::string& path, Creation creation) {
    close();
    inUse_ = false;
    // Never truncated at the open: a file another recording holds must keep its sound, so
    // the lock comes first and the truncation after it. Opened without waiting: a FIFO with
    // no reader fails at once instead of holding the window up.
    int flags = O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    if (creation == Creation::CreateAlways) {
        flags |= O_CREAT;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        return false;
    }
    // The writes themselves block as usual.
    const int status = ::fcntl(fd, F_GETFL);
    if (status == -1 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == -1) {
        ::close(fd);
        return false;
    }
    // Devices (/dev/null, /dev/full) and FIFOs have no contents to keep or to cut: neither
    // locked nor truncated.
    struct stat st {};
    const bool regular = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (regular) {
        int locked;
        do {
            locked = ::flock(fd, LOCK_EX | LOCK_NB);
        } while (locked != 0 && errno == EINTR);
        // A file system without locks still records; only a lock held elsewhere refuses.
        if (locked != 0 && errno == EWOULDBLOCK) {
            inUse_ = true;
            ::close(fd);
            return false;
        }
        int cut = 0;
        if (creation == Creation::CreateAlways) {
            do {
                cut = ::ftruncate(fd, 0);
            } while (cut != 0 && errno == EINTR);
        }
        if (cut != 0) {
            ::close(fd);
            return false;
        }
    }
    fd_ = fd;
    path_ = path;
    return true;
}

void EncoderFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    path_.clear();
}

std::int32_t EncoderFile::write(const void* data, std::int32_t n) {
    if (fd_ < 0 || n <= 0) {
        return 0;
    }
    std::int64_t allowed = n;
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    if (at >= 0) {
        allowed = std::min<std::int64_t>(allowed, static_cast<std::int64_t>(sizeLimit_) - at);
    }
    if (allowed <= 0) {
        return -1;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::int64_t done = 0;
    while (done < allowed) {
        const ssize_t w = ::write(fd_, bytes + done, static_cast<std::size_t>(allowed - done));
        if (w < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        if (w == 0) {
            break;
        }
        done += w;
    }
    if (done == 0) {
        return -1;
    }
    return static_cast<std::int32_t>(done);
}

std::uint32_t EncoderFile::seek(std::int32_t distance, Origin origin) {
    if (fd_ < 0) {
        return 0xFFFFFFFFu;
    }
    const off_t at = ::lseek(fd_, distance, origin == Origin::Begin ? SEEK_SET : SEEK_CUR);
    if (at < 0) {
        return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(at);
}

std::uint32_t EncoderFile::size() const {
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        return 0xFFFFFFFFu;
    }
    return static_cast<std::uint32_t>(st.st_size);
}

bool EncoderFile::writeAt(std::uint32_t offset, const void* data, std::int32_t n) {
    if (fd_ < 0 || n < 0 || std::uint64_t{offset} + static_cast<std::uint64_t>(n) > sizeLimit_) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::int64_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(fd_, bytes + done, static_cast<std::size_t>(n - done),
                                   static_cast<off_t>(offset + done));
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            return false;
        }
        done += w;
    }
    return true;
}

bool EncoderFile::truncate(std::uint32_t length) {
    if (fd_ < 0 || length > size()) {
        return false;
    }
    int r;
    do {
        r = ::ftruncate(fd_, static_cast<off_t>(length));
    } while (r != 0 && errno == EINTR);
    return r == 0;
}
