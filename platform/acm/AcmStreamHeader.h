#pragma once

#include <cstdint>

namespace platform {

// The two buffers of one conversion, as the caller describes them to an AcmStream. The
// stream fills in the two "used" counts after each conversion.
struct AcmStreamHeader {
    std::uint8_t* source = nullptr;
    std::int32_t sourceLength = 0;     // bytes of input offered
    std::int32_t sourceLengthUsed = 0; // bytes of input the stream consumed
    std::uint8_t* destination = nullptr;
    std::int32_t destinationLength = 0;     // room for output, in bytes
    std::int32_t destinationLengthUsed = 0; // bytes of output produced
};

// How a conversion treats its input: BlockAlign converts the whole input frames offered
// (the stream keeps partial codec blocks for the next call); End also delivers
// everything the stream still holds.
enum class AcmConvert { BlockAlign, End };

} // namespace platform
