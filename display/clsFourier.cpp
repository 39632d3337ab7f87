#include "display/clsFourier.h"

#include "common/RaisedError.h"
#include "dsp/TargetClones.h"

#include <chrono>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

std::int64_t counterNow() {
    return static_cast<std::int64_t>(Clock::now().time_since_epoch().count());
}

std::uint32_t reverseBits(std::uint32_t value, std::int32_t bits) {
    std::uint32_t result = 0;
    for (std::int32_t i = 0; i < bits; ++i) {
        result = result * 2 + (value & 1u);
        value /= 2;
    }
    return result;
}

// The butterflies of one group: x[k] with x[k + h] for k = 0 ... h - 1. H, when not 0,
// is h known in advance, so that short groups need no loop.
template <std::size_t H>
inline __attribute__((always_inline)) void butterflies(double* __restrict xr, double* __restrict xi,
                                                       std::size_t h, const double* __restrict wr,
                                                       const double* __restrict wi) {
    const std::size_t count = H != 0 ? H : h;
#pragma GCC ivdep
    for (std::size_t k = 0; k < count; ++k) {
        const double br = xr[k + count], bi = xi[k + count];
        const double ar = xr[k], ai = xi[k];
        const double tr = wr[k] * br - wi[k] * bi;
        const double ti = bi * wr[k] + wi[k] * br;
        xr[k + count] = ar - tr;
        xi[k + count] = ai - ti;
        xr[k] = ar + tr;
        xi[k] = ai + ti;
    }
}

// All passes of the transform in place on the bit-reversed values (real parts xr,
// imaginary parts xi). The pass with half-span h runs butterflies on x[k] and x[k + h] in
// groups of 2h, with the twiddle factors tw[h - 1 ...]: t = w * x[k + h];
// x[k + h] = x[k] - t; x[k] = x[k] + t.
VOCARN_TARGET_CLONES void butterflyPasses(double* __restrict xr, double* __restrict xi,
                                          std::size_t n, const double* __restrict twRe,
                                          const double* __restrict twIm) {
    // Half-spans 1 and 2 together, group of four by group of four: each element goes
    // through the same operations in the same order as in two separate passes.
    std::size_t first = 2;
    if (n >= 4) {
        const double w1r = twRe[0], w1i = twIm[0];
        const double w20r = twRe[1], w20i = twIm[1];
        const double w21r = twRe[2], w21i = twIm[2];
        for (std::size_t g = 0; g < n; g += 4) {
            double r0 = xr[g], r1 = xr[g + 1], r2 = xr[g + 2], r3 = xr[g + 3];
            double i0 = xi[g], i1 = xi[g + 1], i2 = xi[g + 2], i3 = xi[g + 3];
            double tr = w1r * r1 - w1i * i1;
            double ti = i1 * w1r + w1i * r1;
            r1 = r0 - tr;
            i1 = i0 - ti;
            r0 = r0 + tr;
            i0 = i0 + ti;
            tr = w1r * r3 - w1i * i3;
            ti = i3 * w1r + w1i * r3;
            r3 = r2 - tr;
            i3 = i2 - ti;
            r2 = r2 + tr;
            i2 = i2 + ti;
            tr = w20r * r2 - w20i * i2;
            ti = i2 * w20r + w20i * r2;
            xr[g + 2] = r0 - tr;
            xi[g + 2] = i0 - ti;
            xr[g] = r0 + tr;
            xi[g] = i0 + ti;
            tr = w21r * r3 - w21i * i3;
            ti = i3 * w21r + w21i * r3;
            xr[g + 3] = r1 - tr;
            xi[g + 3] = i1 - ti;
            xr[g + 1] = r1 + tr;
            xi[g + 1] = i1 + ti;
        }
        first = 4;
    } else {
        const double wr = twRe[0], wi = twIm[0];
        const double tr = wr * xr[1] - wi * xi[1];
        const double ti = xi[1] * wr + wi * xr[1];
        xr[1] = xr[0] - tr;
        xi[1] = xi[0] - ti;
        xr[0] = xr[0] + tr;
        xi[0] = xi[0] + ti;
    }
    for (std::size_t h = first; h < n; h *= 2) {
        const double* wr = twRe + (h - 1);
        const double* wi = twIm + (h - 1);
        if (h == 4) {
            for (std::size_t g = 0; g < n; g += 8) {
                butterflies<4>(xr + g, xi + g, 4, wr, wi);
            }
        } else if (h == 8) {
            for (std::size_t g = 0; g < n; g += 16) {
                butterflies<8>(xr + g, xi + g, 8, wr, wi);
            }
        } else {
            for (std::size_t g = 0; g < n; g += 2 * h) {
                butterflies<0>(xr + g, xi + g, h, wr, wi);
            }
        }
    }
}

} // namespace

clsFourier::clsFourier()
    : re_(1, 0.0), im_(1, 0.0),
      counterFrequency_(static_cast<std::int64_t>(Clock::period::den / Clock::period::num)),
      pi_(4.0 * std::atan(1.0)), twoPi_(2.0 * pi_) {}

void clsFourier::setNumberOfSamples(std::int32_t nuNumSam) {
    if (nuNumSam < 2 || (nuNumSam & (nuNumSam - 1)) != 0) {
        throw RaisedError(380, "Number of samples must be a positive value of the form 2 ^ n");
    }
    const auto n = static_cast<std::size_t>(nuNumSam);
    const auto bits = static_cast<std::int32_t>(
        std::nearbyint(std::log(static_cast<double>(nuNumSam)) / std::log(2.0)));

    std::vector<double> re(n, 0.0), im(n, 0.0), weights(n), twRe(n - 1), twIm(n - 1);
    std::vector<std::uint32_t> reversed(n);
    const double upper = static_cast<double>(nuNumSam - 1);
    for (std::size_t i = 0; i < n; ++i) {
        reversed[i] = reverseBits(static_cast<std::uint32_t>(i), bits);
        const double a = static_cast<double>(i) * twoPi_ / upper;
        weights[i] = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2.0 * a);
    }
    // The recurrence restarts from w = 1 in every group of a pass, so each pass has one
    // sequence of h factors.
    for (std::size_t h = 1; h < n; h *= 2) {
        const double s = static_cast<double>(2 * h);
        const double half = std::sin(pi_ / s);
        const double alpha = 2.0 * half * half;
        const double beta = std::sin(twoPi_ / s);
        double wr = 1.0, wi = 0.0;
        for (std::size_t k = 0; k < h; ++k) {
            twRe[h - 1 + k] = wr;
            twIm[h - 1 + k] = wi;
            const double nextIm = wr * beta + wi - alpha * wi;
            const double nextRe = wr - (alpha * wr + wi * beta);
            wr = nextRe;
            wi = nextIm;
        }
    }

    re_.swap(re);
    im_.swap(im);
    windowWeights_.swap(weights);
    reversed_.swap(reversed);
    twiddleRe_.swap(twRe);
    twiddleIm_.swap(twIm);
    sizeUnset_ = false;
    upperIndex_ = nuNumSam - 1;
    bitCount_ = bits;
    recompute_ = true;
}

void clsFourier::raiseIndexError() {
    throw RaisedError(381, "Index out of range or number of samples unknown");
}

float clsFourier::Timing() const {
    return static_cast<float>(static_cast<double>(endCount_ - startCount_) /
                              static_cast<double>(counterFrequency_) * 1000.0);
}

void clsFourier::transform() {
    recompute_ = false;
    startCount_ = counterNow();
    butterflyPasses(re_.data(), im_.data(), re_.size(), twiddleRe_.data(), twiddleIm_.data());
    endCount_ = counterNow();
}
