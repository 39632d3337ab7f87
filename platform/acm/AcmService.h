#pragma once

#include "platform/acm/AcmFormats.h"
#include "platform/acm/AcmStream.h"

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace platform {

// Opens conversion streams between wave formats (records as in WaveFormat) and says which
// output formats a source can be converted into.
class AcmService {
public:
    virtual ~AcmService() = default;

    // A stream from the source record to the destination record, or nullptr when the
    // conversion is not possible. Each span holds one record; a destination span may run
    // past its record (the record's extra size says where it ends).
    virtual std::unique_ptr<AcmStream> open(std::span<const std::uint8_t> source,
                                            std::span<const std::uint8_t> destination) = 0;

    // The output formats a stream can be opened into from this 16-bit PCM source record.
    virtual std::vector<AcmFormatChoice>
    convertibleFormats(std::span<const std::uint8_t> source) = 0;
};

} // namespace platform
