#pragma once

#include "display/DeviceContext.h"
#include "display/clsFourier.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

class PictureBox;

// The live drawings of the main window: filled rectangles (the level bars), the amplitude
// trace of a block and a 22-bar spectrum with fall-off.
//
// The spectrum takes the first 1024 samples of a block through a Blackman-windowed
// transform (created on first use, then kept); a bar's level is 0.0 .. 1.0, where 1.0 means
// the bar fills the box. Levels fall by 0.07 per call and rise to each call's value, each
// band also carrying a part of all lower bands. Colours are 0x00BBGGRR values.
//
// A drawing that would put into a box the very pixels the box already holds from the same
// drawing (the same samples or levels, nothing drawn into the box since) is left out, so an
// unchanged picture is neither drawn nor repainted again; the spectrum of the same samples
// is not transformed again.
class clsDraw {
public:
    clsDraw();
    ~clsDraw();

    // Fills left..right-1 by top..bottom-1 with one colour.
    void DrawRect(DeviceContext& hdc, std::int32_t lngLeft, std::int32_t lngTop,
                  std::int32_t lngRight, std::int32_t lngBottom, std::uint32_t lngColor);

    // Black box with a white trace: one point per column, the column's mean sample value
    // (sum of its span / samples per column / 32767, clamped to -1 .. 1) around the middle.
    void DrawAmplitudes(std::span<const std::int16_t> data, PictureBox& picVis);

    // The 22-bar spectrum; blocks of fewer than 1024 samples leave everything as it is.
    void DrawFrequencies(std::span<const std::int16_t> intSamples, PictureBox& picbox);

    // Level of spectrum bar b (0 .. 21).
    double BandLevel(std::int32_t b) const { return levels_.at(static_cast<std::size_t>(b)); }

    // Colour of a spectrum bar at a level: RGB(255, level * 255 rounded, 50).
    static std::uint32_t BarColor(double level);

    static constexpr std::int32_t kBands = 22;

private:
    std::array<double, kBands> levels_{};
    std::array<float, 513> bins_{};
    std::unique_ptr<clsFourier> transform_;
    // The samples bins_ were computed from; empty before the first spectrum.
    std::vector<std::int16_t> binsInput_;
    // The last trace: its samples and the stamp of the box's image right after it.
    std::vector<std::int16_t> traceData_;
    std::uint64_t traceStamp_ = 0;
    // The last spectrum: its levels and the stamp of the box's image right after it.
    std::array<double, kBands> barsLevels_{};
    std::uint64_t barsStamp_ = 0;
};
