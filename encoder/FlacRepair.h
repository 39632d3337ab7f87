#pragma once

#include <cstdint>
#include <span>
#include <string>

// Care of the FLAC takes a crash, a kill or a power cut left behind. The file's STREAMINFO
// states its total of samples only once the take has ended; a take cut off states none (0:
// unknown), and its last frame may be cut off part way. The repair finds every whole frame
// (each header checked by its CRC-8, each frame by its CRC-16), cuts off a partial last
// frame, and writes the total of the whole ones into STREAMINFO; the audio's MD5 stays unset,
// as a reader allows. A file that states its total already, is no FLAC stream, or is held
// by a recording (the encoder's advisory lock) is left as it is; a symbolic link is never
// followed.
class FlacRepair {
public:
    enum class Outcome {
        Untouched, // not a cut FLAC take, or nothing to state
        Repaired,  // the total stated (and a partial frame cut off)
        InUse,     // a recording holds the file
        Failed,    // a cut take that could not be written
    };

    // What the repair would do with a file's bytes: the length to keep (whole frames) and
    // the samples they hold; false when the bytes are no FLAC stream or state their total.
    struct Scan {
        std::uint64_t keepBytes = 0;
        std::uint64_t samples = 0;
    };
    static bool ScanCut(std::span<const std::uint8_t> file, Scan& scan);

    // The file at path (UTF-8).
    static Outcome Repair(const std::string& path);
};
