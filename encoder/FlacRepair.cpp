#include "encoder/FlacRepair.h"

#include "common/UniqueFd.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// STREAMINFO follows "fLaC" and its block header; the total of samples is its last 36 bits
// of the 8 bytes at offset 10.
constexpr std::size_t kStreamInfo = 8;
constexpr std::size_t kTotalAt = kStreamInfo + 13;

std::uint8_t Crc8(std::span<const std::uint8_t> bytes) {
    std::uint8_t crc = 0;
    for (const std::uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) {
            crc = static_cast<std::uint8_t>((crc & 0x80) != 0 ? (crc << 1) ^ 0x07 : crc << 1);
        }
    }
    return crc;
}

// The CRC-16 of FLAC frames (polynomial 0x8005, nothing reflected), by table.
struct Crc16Table {
    std::array<std::uint16_t, 256> t{};
    Crc16Table() {
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t crc = i << 8;
            for (int b = 0; b < 8; ++b) {
                crc = (crc & 0x8000) != 0 ? (crc << 1) ^ 0x8005 : crc << 1;
            }
            t[i] = static_cast<std::uint16_t>(crc);
        }
    }
};
const Crc16Table kCrc16;

std::uint16_t Crc16Add(std::uint16_t crc, std::uint8_t b) {
    return static_cast<std::uint16_t>((crc << 8) ^ kCrc16.t[((crc >> 8) ^ b) & 0xFF]);
}

// The samples of the frame whose header starts at `at`, when a valid header starts there.
std::optional<std::uint32_t> FrameHeader(std::span<const std::uint8_t> f, std::size_t at) {
    if (at + 6 > f.size() || f[at] != 0xFF || (f[at + 1] & 0xFE) != 0xF8) {
        return std::nullopt;
    }
    const std::uint8_t sizeCode = f[at + 2] >> 4;
    const std::uint8_t rateCode = f[at + 2] & 0x0F;
    if (sizeCode == 0 || rateCode == 15 || (f[at + 3] >> 4) > 10 || (f[at + 3] & 1) != 0) {
        return std::nullopt;
    }
    std::size_t p = at + 4;
    // The frame or sample number, UTF-8 coded.
    int extra = 0;
    for (std::uint8_t lead = f[p]; (lead & 0x80) != 0 && extra < 7; lead <<= 1) {
        ++extra;
    }
    if (extra == 1 || extra > 7) {
        return std::nullopt;
    }
    const std::size_t numberBytes = extra == 0 ? 1 : static_cast<std::size_t>(extra);
    const std::size_t tail = (sizeCode == 6   ? 1
                              : sizeCode == 7 ? 2
                                              : 0) +
                             (rateCode == 12                     ? 1
                              : rateCode == 13 || rateCode == 14 ? 2
                                                                 : 0);
    if (p + numberBytes + tail + 1 > f.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < numberBytes; ++i) {
        if ((f[p + i] & 0xC0) != 0x80) {
            return std::nullopt;
        }
    }
    p += numberBytes;
    std::uint32_t samples = 0;
    if (sizeCode == 1) {
        samples = 192;
    } else if (sizeCode <= 5) {
        samples = 576u << (sizeCode - 2);
    } else if (sizeCode == 6) {
        samples = f[p] + 1u;
    } else if (sizeCode == 7) {
        samples = ((static_cast<std::uint32_t>(f[p]) << 8) | f[p + 1]) + 1u;
    } else {
        samples = 256u << (sizeCode - 8);
    }
    p += tail;
    if (Crc8(f.subspan(at, p - at)) != f[p]) {
        return std::nullopt;
    }
    return samples;
}

// Where the audio frames start: after the last metadata block; nothing for no FLAC stream.
std::optional<std::size_t> AudioStart(std::span<const std::uint8_t> f) {
    if (f.size() < kStreamInfo + 34 || std::memcmp(f.data(), "fLaC", 4) != 0 ||
        (f[4] & 0x7F) != 0) {
        return std::nullopt;
    }
    std::size_t at = 4;
    for (;;) {
        if (at + 4 > f.size()) {
            return std::nullopt;
        }
        const bool last = (f[at] & 0x80) != 0;
        const std::size_t length = (static_cast<std::size_t>(f[at + 1]) << 16) |
                                   (static_cast<std::size_t>(f[at + 2]) << 8) | f[at + 3];
        at += 4 + length;
        if (last) {
            return at <= f.size() ? std::optional<std::size_t>(at) : std::nullopt;
        }
    }
}

} // namespace

bool FlacRepair::ScanCut(std::span<const std::uint8_t> f, Scan& scan) {
    const std::optional<std::size_t> start = AudioStart(f);
    if (!start) {
        return false;
    }
    const bool totalStated = (f[kTotalAt] & 0x0F) != 0 || f[kTotalAt + 1] != 0 ||
                             f[kTotalAt + 2] != 0 || f[kTotalAt + 3] != 0 || f[kTotalAt + 4] != 0;
    if (totalStated) {
        return false;
    }
    scan = Scan{*start, 0};
    std::size_t frame = *start;
    std::optional<std::uint32_t> samples = FrameHeader(f, frame);
    if (!samples) {
        return true; // no whole frame: the header alone is kept
    }
    // A frame ends where the CRC-16 over it comes to 0 and the next valid header starts.
    std::uint16_t crc = 0;
    for (std::size_t at = frame; at < f.size(); ++at) {
        crc = Crc16Add(crc, f[at]);
        const std::size_t next = at + 1;
        if (crc != 0 || next - frame < 8) {
            continue;
        }
        const std::optional<std::uint32_t> following = FrameHeader(f, next);
        if (next == f.size() || following) {
            scan.samples += *samples;
            scan.keepBytes = next;
            frame = next;
            samples = following;
            crc = 0;
            if (!samples) {
                break;
            }
        }
    }
    return true;
}

FlacRepair::Outcome FlacRepair::Repair(const std::string& path) {
    int raw = -1;
    do {
        raw = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    } while (raw < 0 && errno == EINTR);
    const UniqueFd fd(raw);
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_size < static_cast<off_t>(kStreamInfo + 34)) {
        return Outcome::Untouched;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK ? Outcome::InUse : Outcome::Untouched;
    }
    const auto length = static_cast<std::size_t>(info.st_size);
    void* mapped = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd.get(), 0);
    if (mapped == MAP_FAILED) {
        return Outcome::Untouched;
    }
    Scan scan;
    const bool cut = ScanCut({static_cast<const std::uint8_t*>(mapped), length}, scan);
    std::array<std::uint8_t, 5> total{};
    if (cut) {
        std::memcpy(total.data(), static_cast<const std::uint8_t*>(mapped) + kTotalAt, 5);
    }
    ::munmap(mapped, length);
    if (!cut || scan.samples == 0) {
        return Outcome::Untouched;
    }
    total[0] = static_cast<std::uint8_t>((total[0] & 0xF0) | ((scan.samples >> 32) & 0x0F));
    for (int i = 1; i < 5; ++i) {
        total[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(scan.samples >> (8 * (4 - i)));
    }
    const bool written =
        ::pwrite(fd.get(), total.data(), total.size(), static_cast<off_t>(kTotalAt)) == 5 &&
        (scan.keepBytes == length ||
         ::ftruncate(fd.get(), static_cast<off_t>(scan.keepBytes)) == 0);
    return written ? Outcome::Repaired : Outcome::Failed;
}
