#include "encoder/WavRepair.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The largest file the encoder writes: RIFF sizes are 32-bit.
constexpr std::uint64_t MaxTake = 0xFFFFFFFFu;
// 18 = the wave format record with its extra size field: the encoder always writes that
// field, and L = 18 + extra size. Writers of plain 16-byte records are not this layout.
constexpr std::uint32_t MinFormatLength = 18;
// The block align and extra size fields, at 12 and 16 in the record (20 in the file).
constexpr std::uint64_t BlockAlignAt = 20 + 12;
constexpr std::uint64_t ExtraSizeAt = 20 + 16;
// 8 = "RIFF" + its size field, which the RIFF size does not count.
constexpr std::uint64_t RiffPreamble = 8;
constexpr std::uint64_t RiffSizeAt = 4;

std::uint32_t le32(const std::uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}

void put32(std::uint8_t* at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        at[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

// The two size fields a take of this layout should hold, when its fields fall short of
// its length; nothing when the file is to be left as it is.
struct Restated {
    std::uint32_t riffSize;
    std::uint32_t dataSize;
};

std::optional<Restated> restated(const WavRepair::Layout& layout) {
    const std::uint64_t whole = layout.wholeAudioBytes();
    if (whole == 0) {
        return std::nullopt; // no audio: nothing is lost, nothing to state
    }
    const std::uint64_t present = layout.length - layout.headerBytes();
    const std::uint64_t riff = layout.headerBytes() - RiffPreamble + whole;
    // A field stating more than the file holds is no take cut short: left as it is.
    if (layout.dataSize > present || layout.riffSize > layout.length - RiffPreamble) {
        return std::nullopt;
    }
    if (layout.dataSize >= whole && layout.riffSize >= riff) {
        return std::nullopt; // every whole block is stated already
    }
    return Restated{static_cast<std::uint32_t>(riff), static_cast<std::uint32_t>(whole)};
}

// A file descriptor, closed when it goes.
class Fd {
public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

class FileAccess : public WavRepair::Access {
public:
    explicit FileAccess(int fd) : fd_(fd) {}

    std::uint64_t length() override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size)
                                                        : 0;
    }
    bool read(std::uint64_t at, std::span<std::uint8_t> into) override {
        std::size_t done = 0;
        while (done < into.size()) {
            const ssize_t r =
                ::pread(fd_, into.data() + done, into.size() - done, static_cast<off_t>(at + done));
            if (r < 0 && errno == EINTR) {
                continue;
            }
            if (r <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(r);
        }
        return true;
    }
    bool write(std::uint64_t at, std::span<const std::uint8_t> from) override {
        std::size_t done = 0;
        while (done < from.size()) {
            const ssize_t w = ::pwrite(fd_, from.data() + done, from.size() - done,
                                       static_cast<off_t>(at + done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                return false;
            }
            done += static_cast<std::size_t>(w);
        }
        return true;
    }
    bool truncate(std::uint64_t length) override {
        return ::ftruncate(fd_, static_cast<off_t>(length)) == 0;
    }

private:
    int fd_;
};

// Opens path when it names a regular file, without waiting and without becoming anyone's
// terminal: a FIFO or a device under that name is never opened, and a symbolic link is
// never followed (a link named like a take may lead anywhere). -1 and errno otherwise
// (ENOENT for a missing file, ENODEV for one that is not regular, a link included).
int openNonBlocking(const std::string& path, int access) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        errno = ENODEV;
        return -1;
    }
    int fd;
    do {
        fd = ::open(path.c_str(), access | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | O_NOFOLLOW);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool isRegular(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Whether a recording holds the file (the encoder's exclusive advisory lock). The lock
// taken here goes with the descriptor.
bool heldByRecording(int fd, int lock) {
    return ::flock(fd, lock | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

} // namespace

std::uint64_t WavRepair::Layout::wholeAudioBytes() const {
    const std::uint64_t present = length - headerBytes();
    return present - present % blockAlign;
}

std::optional<WavRepair::Layout> WavRepair::ReadLayout(Access& file) {
    Layout layout;
    layout.length = file.length();
    if (layout.length < 28 + MinFormatLength || layout.length > MaxTake) {
        return std::nullopt;
    }
    // "RIFF" <size> "WAVE" "fmt " <L>
    std::array<std::uint8_t, 20> head{};
    if (!file.read(0, head) || std::memcmp(head.data(), "RIFF", 4) != 0 ||
        std::memcmp(head.data() + 8, "WAVEfmt ", 8) != 0) {
        return std::nullopt;
    }
    layout.riffSize = le32(head.data() + 4);
    layout.formatLength = le32(head.data() + 16);
    if (layout.formatLength < MinFormatLength || layout.headerBytes() > layout.length) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 2> blockAlign{};
    std::array<std::uint8_t, 2> extraSize{};
    if (!file.read(BlockAlignAt, blockAlign) || !file.read(ExtraSizeAt, extraSize) ||
        layout.formatLength != MinFormatLength + (extraSize[0] | (extraSize[1] << 8))) {
        return std::nullopt;
    }
    layout.blockAlign = blockAlign[0] | (blockAlign[1] << 8);
    // "data" <size> right after the record, with no pad byte and no other chunk between.
    std::array<std::uint8_t, 8> data{};
    if (layout.blockAlign == 0 || !file.read(layout.headerBytes() - 8, data) ||
        std::memcmp(data.data(), "data", 4) != 0) {
        return std::nullopt;
    }
    layout.dataSize = le32(data.data() + 4);
    // The encoder's RIFF size always counts the header itself.
    if (layout.riffSize < layout.headerBytes() - RiffPreamble) {
        return std::nullopt;
    }
    return layout;
}

WavRepair::State WavRepair::Classify(Access& file) {
    if (file.length() == 0) {
        return State::Empty;
    }
    const auto layout = ReadLayout(file);
    if (!layout) {
        return State::Other;
    }
    return layout->wholeAudioBytes() == 0 ? State::HeaderOnly : State::HoldsAudio;
}

WavRepair::Outcome WavRepair::Repair(Access& file) {
    const auto layout = ReadLayout(file);
    if (!layout) {
        return Outcome::Untouched;
    }
    const auto sizes = restated(*layout);
    if (!sizes) {
        return Outcome::Untouched;
    }
    std::array<std::uint8_t, 4> field{};
    put32(field.data(), sizes->dataSize);
    if (!file.write(layout->headerBytes() - 4, field)) {
        return Outcome::Failed;
    }
    put32(field.data(), sizes->riffSize);
    if (!file.write(RiffSizeAt, field)) {
        return Outcome::Failed;
    }
    // The sizes already leave a partial block out; should the cut fail, readers still stop
    // at the stated end.
    const std::uint64_t end = layout->headerBytes() + sizes->dataSize;
    if (layout->length > end) {
        file.truncate(end);
    }
    return Outcome::Repaired;
}

WavRepair::State WavRepair::Classify(const std::string& path) {
    const Fd fd(openNonBlocking(path, O_RDONLY));
    if (fd.get() < 0) {
        return errno == ENOENT ? State::Absent : State::Other;
    }
    if (!isRegular(fd.get())) {
        return State::Other;
    }
    if (heldByRecording(fd.get(), LOCK_SH)) {
        return State::InUse;
    }
    FileAccess access(fd.get());
    return Classify(access);
}

WavRepair::Outcome WavRepair::Repair(const std::string& path) {
    const Fd fd(openNonBlocking(path, O_RDWR));
    if (fd.get() < 0) {
        if (errno == ENOENT) {
            return Outcome::Untouched;
        }
        // Not writable here: a take that needs repair stays unrepaired.
        const Fd readOnly(openNonBlocking(path, O_RDONLY));
        if (readOnly.get() < 0 || !isRegular(readOnly.get())) {
            return Outcome::Untouched;
        }
        FileAccess access(readOnly.get());
        const auto layout = ReadLayout(access);
        return layout && restated(*layout) ? Outcome::Failed : Outcome::Untouched;
    }
    if (!isRegular(fd.get())) {
        return Outcome::Untouched;
    }
    if (heldByRecording(fd.get(), LOCK_EX)) {
        return Outcome::InUse;
    }
    FileAccess access(fd.get());
    return Repair(access);
}

bool WavRepair::FreeForRecording(const std::string& path) {
    const State state = Classify(path);
    return state == State::Absent || state == State::Empty || state == State::HeaderOnly;
}
