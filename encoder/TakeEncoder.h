#pragma once

#include <cstdint>
#include <string>

// What a take needs of the encoder of its file, whatever the file's type: open it, hand it
// 16-bit PCM blocks, finish it. Result codes as EncoderWAV states them (0 success, 2 not
// running or file not created, 7 refused, 8 block longer than one second, 9 the codec failed,
// 10 short write).
class TakeEncoder {
public:
    virtual ~TakeEncoder() = default;

    virtual std::int32_t Encoder_EncoderInit(std::int32_t samplerate, std::int16_t Channels,
                                             const std::string& output) = 0;
    virtual std::int32_t Encoder_Encode(const std::uint8_t* buffer_ptr, std::int32_t buffer_len,
                                        std::int32_t& buffer_used) = 0;
    virtual std::int32_t Encoder_EncoderClose() = 0;
    // Whether a block of buffer_len bytes could take the file past the size its type states.
    virtual bool WouldExceedLimit(std::int32_t buffer_len) = 0;
    // Whether the last init failed because another recording holds the file.
    virtual bool OutputInUse() const = 0;
};
