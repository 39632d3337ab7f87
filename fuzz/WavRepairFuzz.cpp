// libFuzzer target over the start-up repair of takes: the input is a file's content.
// The repair must never crash on it, never write to a file it does not read as a take of
// the encoder's layout, write only the two size fields (and cut less than one block off
// the end) of one it does, and leave a take that reads back with sizes stating its whole
// blocks, which a second repair leaves alone.
//
// The first input byte, when it has its top bit set, makes the file look longer than its
// content (up to a little over 4 GiB, read as zeros past the content), so that the size
// arithmetic meets the 32-bit edge without the memory.

#include "encoder/WavRepair.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class MemoryFile : public WavRepair::Access {
public:
    MemoryFile(std::vector<std::uint8_t> bytes, std::uint64_t length)
        : bytes_(std::move(bytes)), length_(length) {}

    std::uint64_t length() override { return length_; }
    bool read(std::uint64_t at, std::span<std::uint8_t> into) override {
        if (at > length_ || into.size() > length_ - at) {
            return false;
        }
        for (std::size_t i = 0; i < into.size(); ++i) {
            into[i] = at + i < bytes_.size() ? bytes_[at + i] : 0;
        }
        return true;
    }
    bool write(std::uint64_t at, std::span<const std::uint8_t> from) override {
        ++writes;
        if (at + from.size() > length_) {
            std::abort(); // a repair never grows a file
        }
        for (std::size_t i = 0; i < from.size(); ++i) {
            written.push_back(at + i);
            if (at + i < bytes_.size()) {
                bytes_[at + i] = from[i];
            }
        }
        return true;
    }
    bool truncate(std::uint64_t length) override {
        ++writes;
        if (length > length_) {
            std::abort();
        }
        length_ = length;
        bytes_.resize(std::min<std::uint64_t>(bytes_.size(), length));
        return true;
    }

    const std::vector<std::uint8_t>& bytes() const { return bytes_; }
    int writes = 0;
    std::vector<std::uint64_t> written; // offsets of every byte written

private:
    std::vector<std::uint8_t> bytes_;
    std::uint64_t length_;
};

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    std::uint64_t length = size;
    if (size >= 5 && (data[0] & 0x80) != 0) {
        std::uint32_t extra = 0;
        std::memcpy(&extra, data + 1, 4);
        length = size + extra + (data[0] & 0x01 ? 0x100000000ull - 0x10000 : 0);
    }
    MemoryFile file(bytes, length);
    const auto before = WavRepair::ReadLayout(file);
    const auto state = WavRepair::Classify(file);
    check(file.writes == 0);
    check(before.has_value() ==
          (state == WavRepair::State::HeaderOnly || state == WavRepair::State::HoldsAudio));

    const auto outcome = WavRepair::Repair(file);
    if (outcome != WavRepair::Outcome::Repaired) {
        check(outcome == WavRepair::Outcome::Untouched);
        check(file.writes == 0);
        return 0;
    }
    check(before && state == WavRepair::State::HoldsAudio);
    const std::uint64_t dataField = before->headerBytes() - 4;
    for (const std::uint64_t at : file.written) {
        check((at >= 4 && at < 8) || (at >= dataField && at < dataField + 4));
    }
    // Only a partial block is cut off; all else is as it was.
    const std::uint64_t whole = before->wholeAudioBytes();
    check(file.length() == before->headerBytes() + whole);
    check(length - file.length() < before->blockAlign);
    for (std::size_t i = 0; i < file.bytes().size(); ++i) {
        const bool field = (i >= 4 && i < 8) || (i >= dataField && i < dataField + 4);
        check(field || file.bytes()[i] == bytes[i]);
    }
    const auto after = WavRepair::ReadLayout(file);
    check(after && after->dataSize == whole &&
          after->riffSize == before->headerBytes() - 8 + whole &&
          after->formatLength == before->formatLength && after->blockAlign == before->blockAlign);
    check(WavRepair::Classify(file) == WavRepair::State::HoldsAudio);
    const int writes = file.writes;
    check(WavRepair::Repair(file) == WavRepair::Outcome::Untouched && file.writes == writes);
    return 0;
}
