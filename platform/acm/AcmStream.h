#pragma once

#include "platform/acm/AcmStreamHeader.h"

#include <cstdint>

namespace platform {

// One open conversion stream from 16-bit PCM into an output wave format. Destroying the
// object closes the stream. Use: size, prepareHeader, convert (any number of times, the
// last one with End), unprepareHeader.
class AcmStream {
public:
    virtual ~AcmStream() = default;

    // The destination size that a conversion of sourceBytes needs at most; false when
    // the stream cannot say (the size does not fit in 32 bits).
    virtual bool size(std::int32_t sourceBytes, std::int32_t& destinationBytes) = 0;

    // Binds the header's buffers and lengths to the stream. Later conversions through the
    // header may offer at most the prepared source and destination lengths. False when
    // the header is unusable (missing buffer, no room) or another header is prepared.
    virtual bool prepareHeader(AcmStreamHeader& header) = 0;

    // Converts header.sourceLength bytes from header.source into header.destination and
    // sets both "used" counts. False when the conversion failed; the counts then say how
    // much was consumed and produced before the failure.
    virtual bool convert(AcmStreamHeader& header, AcmConvert how) = 0;

    // Releases the header's binding; false when it was not the prepared one.
    virtual bool unprepareHeader(AcmStreamHeader& header) = 0;
};

} // namespace platform
