#pragma once

#include <cstdint>
#include <vector>

// Moving average over the most recent values of a series (the level bars keep one per
// channel). Despite its name SmoothGetMax returns the mean of the stored values: while the
// ring fills, of the values added so far; once full, of the last `size` values.
class clsSmooth {
public:
    // (Re)creates an empty history of `size` slots. A size below 1 gives one slot.
    void SmoothNew(std::int32_t size);
    // Stores a value, overwriting the oldest once the ring is full.
    void SmoothAdd(float sample);
    // Mean of the stored values, summed in single precision in slot order; 0 while empty.
    float SmoothGetMax() const;

private:
    std::vector<float> history_;
    std::int32_t capacity_ = 0;
    std::int32_t count_ = 0;
    std::int32_t writePosition_ = 0;
};
