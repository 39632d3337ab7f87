#include "display/clsSmooth.h"

void clsSmooth::SmoothNew(std::int32_t size) {
    if (size < 1) {
        size = 1;
    }
    history_.assign(static_cast<std::size_t>(size), 0.0f);
    capacity_ = size;
    count_ = 0;
    writePosition_ = 0;
}

void clsSmooth::SmoothAdd(float sample) {
    if (capacity_ == 0) {
        SmoothNew(1);
    }
    history_[static_cast<std::size_t>(writePosition_)] = sample;
    ++writePosition_;
    if (writePosition_ > count_) {
        ++count_;
    }
    if (writePosition_ >= capacity_) {
        writePosition_ %= capacity_;
    }
}

float clsSmooth::SmoothGetMax() const {
    if (count_ == 0) {
        return 0.0f;
    }
    float sum = 0.0f;
    for (std::int32_t i = 0; i < count_; ++i) {
        sum += history_[static_cast<std::size_t>(i)];
    }
    return sum / static_cast<float>(count_);
}
