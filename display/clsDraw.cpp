#include "display/clsDraw.h"

#include "display/PictureBox.h"
#include "display/modDraw.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr std::int32_t kPoints = 1024;
constexpr double kFallOff = 0.07;

std::int32_t nearest(double v) {
    return static_cast<std::int32_t>(std::nearbyint(v));
}

// Raised-cosine weight of band b over 25 points, sampled at points 3 .. 24; computed once.
double bandWeight(std::int32_t b) {
    static const std::array<double, clsDraw::kBands> weights = [] {
        std::array<double, clsDraw::kBands> w{};
        for (std::int32_t i = 0; i < clsDraw::kBands; ++i) {
            w[static_cast<std::size_t>(i)] =
                0.5 * (1.0 - std::cos(static_cast<double>(6.2831855f) * (i + 3) / 25.0));
        }
        return w;
    }();
    return weights[static_cast<std::size_t>(b)];
}

} // namespace

clsDraw::clsDraw() = default;
clsDraw::~clsDraw() = default;

std::uint32_t clsDraw::BarColor(double level) {
    return modDraw::RGB(255, static_cast<std::uint32_t>(nearest(level * 255.0)), 50);
}

void clsDraw::DrawRect(DeviceContext& hdc, std::int32_t lngLeft, std::int32_t lngTop,
                       std::int32_t lngRight, std::int32_t lngBottom, std::uint32_t lngColor) {
    hdc.FillRect(lngLeft, lngTop, lngRight, lngBottom, lngColor);
}

void clsDraw::DrawAmplitudes(std::span<const std::int16_t> data, PictureBox& picVis) {
    DeviceContext& dc = picVis.hDC();
    // The trace covers the whole box: the same samples give the same picture.
    if (dc.Stamp() == traceStamp_ &&
        std::equal(data.begin(), data.end(), traceData_.begin(), traceData_.end())) {
        return;
    }
    const float scaleWidth = picVis.ScaleWidth();
    const std::int32_t W = nearest(scaleWidth);
    const std::int32_t H = nearest(picVis.ScaleHeight());
    const std::int32_t mid = H / 2;

    // The box is filled black, which also wipes the previous trace.
    picVis.setForeColor(modDraw::RGB(0, 0, 0));
    dc.setBrush(modDraw::RGB(0, 0, 0));
    dc.Rectangle(0, 0, W, H);
    dc.setBrush(std::nullopt);

    picVis.setForeColor(modDraw::RGB(255, 255, 255));
    dc.MoveToEx(0, mid);

    const double highest = static_cast<double>(data.size()) - 1.0;
    const std::int64_t perColumn =
        std::max<std::int64_t>(0, nearest(highest / static_cast<double>(scaleWidth)));
    const std::int32_t n = nearest(static_cast<double>(scaleWidth - 3.0f));
    const std::int32_t amplitude = mid - 2;

    std::size_t p = 0;
    for (std::int32_t x = 1; x <= n; ++x) {
        // A span that runs past the end sums the samples there are and still divides by
        // the full count; an empty span plots at the middle.
        double v = 0.0;
        if (perColumn > 0) {
            std::int64_t sum = 0;
            const std::size_t end = std::min(data.size(), p + static_cast<std::size_t>(perColumn));
            for (std::size_t i = p; i < end; ++i) {
                sum += data[i];
            }
            v = static_cast<double>(sum) / static_cast<double>(perColumn) / 32767.0;
            p += static_cast<std::size_t>(perColumn);
        }
        v = std::clamp(v, -1.0, 1.0);
        dc.LineTo(x, nearest(amplitude * v + mid));
    }
    const std::int32_t xEnd = n < 1 ? 1 : n + 1;
    dc.LineTo(xEnd, mid);
    dc.LineTo(xEnd + 1, mid);
    traceData_.assign(data.begin(), data.end());
    traceStamp_ = dc.Stamp();
}

void clsDraw::DrawFrequencies(std::span<const std::int16_t> intSamples, PictureBox& picbox) {
    if (intSamples.size() < static_cast<std::size_t>(kPoints)) {
        return;
    }
    if (!transform_) {
        transform_ = std::make_unique<clsFourier>();
        transform_->setNumberOfSamples(kPoints);
        transform_->setWithTimeWindow(1);
    }
    const std::span<const std::int16_t> points = intSamples.first(kPoints);
    if (!std::equal(points.begin(), points.end(), binsInput_.begin(), binsInput_.end())) {
        clsFourier& f = *transform_;
        for (std::int32_t i = 0; i < kPoints; ++i) {
            f.setRealIn(i + 1, static_cast<double>(points[static_cast<std::size_t>(i)]));
        }
        // Magnitudes scaled so that 0.2 * 256 * 32767 and above show as full scale.
        for (std::int32_t j = 0; j <= kPoints / 2; ++j) {
            float s = static_cast<float>(f.ComplexOut(j + 1) / 256.0 / 32767.0);
            if (s > 0.2f) {
                s = 0.2f;
            }
            bins_[static_cast<std::size_t>(j)] = s / 0.2f;
        }
        binsInput_.assign(points.begin(), points.end());
    }

    for (double& level : levels_) {
        level -= kFallOff;
        if (level < 0.0) {
            level = 0.0;
        }
    }

    // Band b sums bins 5b + 1 .. 5b + 4 onto a running value that is not reset between
    // bands, so each band carries a part of all lower ones.
    float S = 0.0f;
    for (std::int32_t b = 0; b < kBands; ++b) {
        for (std::int32_t k = 5 * b + 1; k <= 5 * b + 4; ++k) {
            S = S + bins_[static_cast<std::size_t>(k)];
        }
        const double w = bandWeight(b);
        S = static_cast<float>((w + 1.0) * static_cast<double>(S) / 3.0);
        double& level = levels_[static_cast<std::size_t>(b)];
        if (level < S) {
            level = S;
        }
        if (level > 1.0) {
            level = 1.0;
        }
    }

    // The box is cleared first: the same levels give the same picture.
    if (picbox.hDC().Stamp() == barsStamp_ && levels_ == barsLevels_) {
        return;
    }
    picbox.Cls();
    DeviceContext& dc = picbox.hDC();
    const double H = picbox.ScaleHeight();
    const std::int32_t bottom = nearest(H - 2.0);
    for (std::int32_t b = 0; b < kBands; ++b) {
        const double level = levels_[static_cast<std::size_t>(b)];
        const std::int32_t t = std::min(nearest(H), nearest(H - H * level));
        const std::int32_t top = std::max(2, t - 2);
        DrawRect(dc, 4 * b + 4, top, 4 * b + 7, bottom, BarColor(level));
    }
    barsLevels_ = levels_;
    barsStamp_ = dc.Stamp();
}
