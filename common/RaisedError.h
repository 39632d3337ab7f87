#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// The error that Vocarn's classes raise when a caller hands them a value they refuse.
// It carries the error number and the description text the class documents (for example
// 32000 "invalid samplerate" from the effects chain, 380/381 from the transform, 90
// "Encoder already running!" from the encoder). The object that raised it is left unchanged.
class RaisedError : public std::runtime_error {
public:
    RaisedError(std::int32_t number, const std::string& description)
        : std::runtime_error(description), number_(number) {}

    std::int32_t number() const noexcept { return number_; }
    std::string description() const { return what(); }

private:
    std::int32_t number_;
};
