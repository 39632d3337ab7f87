#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

// Care of the takes a crash, a kill or a power cut left behind, and what a path holds as
// the file numbering sees it. The encoder writes a take as
//
//   "RIFF" <size - 8> "WAVE" "fmt " <L> <format record, L bytes> "data" <size> <audio>
//
// where the record is a wave format record with its extra size field, L = 18 + extra size,
// with nothing before, between or after, and brings the two size fields up to date at most
// once a second while recording. A take cut off between two updates holds more audio than
// its header states; the repair states it again from the file's length, in whole blocks of
// the format (the record's block align), and cuts off a partial block at the end: that
// tail is less than one block, no reader can decode it, and without it the file is exactly
// what a normal stop after those blocks leaves (RIFF size = file size - 8).
//
// The repair writes only to regular files of exactly this layout whose size fields both
// state no more than the file holds and at least one of which falls short; it changes only
// the two fields and the partial block. Anything else is read and left as it is. A file a
// recording holds (the encoder's advisory lock) is left alone. A symbolic link is never
// followed: it is no take, whatever its name and wherever it leads.
class WavRepair {
public:
    enum class State {
        Absent,     // no such file
        Empty,      // 0 bytes
        HeaderOnly, // a header of this layout and not one whole block of audio
        HoldsAudio, // a header of this layout and audio
        InUse,      // a recording is being written into it right now
        Other,      // anything else: another kind of file, unreadable, not a regular file
                    // (a symbolic link included)
    };

    enum class Outcome {
        Untouched, // nothing to do: absent, not of this layout, no audio, or sizes right
        Repaired,  // the size fields restated (and a partial block cut off)
        InUse,     // a recording holds the file
        Failed,    // a take whose sizes fall short, but the file could not be written
    };

    // The fields of a file of this layout.
    struct Layout {
        std::uint32_t formatLength = 0; // L
        std::uint32_t blockAlign = 0;   // of the format record, at least 1
        std::uint32_t riffSize = 0;     // as stated
        std::uint32_t dataSize = 0;     // as stated
        std::uint64_t length = 0;       // the file's

        // 28 = "RIFF" + size + "WAVE" + "fmt " + size + "data" + size, around the record.
        std::uint64_t headerBytes() const { return std::uint64_t{formatLength} + 28; }
        // The audio bytes the file holds, rounded down to whole blocks.
        std::uint64_t wholeAudioBytes() const;
    };

    // A file's bytes as the reader and the repair see them: a file on disk, or memory.
    class Access {
    public:
        virtual ~Access() = default;
        virtual std::uint64_t length() = 0;
        // Exactly into.size() bytes from at; false when they cannot all be read.
        virtual bool read(std::uint64_t at, std::span<std::uint8_t> into) = 0;
        virtual bool write(std::uint64_t at, std::span<const std::uint8_t> from) = 0;
        virtual bool truncate(std::uint64_t length) = 0;
    };

    // The layout, when the file is of this writer's layout; nothing for any other content.
    static std::optional<Layout> ReadLayout(Access& file);
    static State Classify(Access& file);
    static Outcome Repair(Access& file);

    // The same for the file at path (UTF-8).
    static State Classify(const std::string& path);
    static Outcome Repair(const std::string& path);

    // Whether a recording may go to path without destroying anything: the file is absent,
    // empty or a header alone.
    static bool FreeForRecording(const std::string& path);
};
