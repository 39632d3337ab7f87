#include "display/clsFourier.h"

#include "common/RaisedError.h"

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

[[noreturn]] void raiseIndexError() {
    throw RaisedError(381, "Index out of range or number of samples unknown");
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

std::size_t clsFourier::position(std::int32_t Index) const {
    if (sizeUnset_ || Index < 1 || Index > upperIndex_ + 1) {
        raiseIndexError();
    }
    return static_cast<std::size_t>(Index - 1);
}

void clsFourier::setRealIn(std::int32_t Index, double nuValueIn) {
    const std::size_t n = position(Index);
    const std::size_t p = reversed_[n];
    re_[p] = window_ != 0 ? windowWeights_[n] * nuValueIn : nuValueIn / 2.0;
    im_[p] = 0.0;
    recompute_ = true;
}

void clsFourier::setImagIn(std::int32_t Index, double nuValueIn) {
    const std::size_t p = reversed_[position(Index)];
    im_[p] = nuValueIn;
    recompute_ = true;
}

std::size_t clsFourier::fetch(std::int32_t Index) {
    const std::size_t n = position(Index);
    if (recompute_) {
        transform();
    }
    return n;
}

double clsFourier::RealOut(std::int32_t Index) {
    return re_[fetch(Index)];
}

double clsFourier::ImagOut(std::int32_t Index) {
    return im_[fetch(Index)];
}

double clsFourier::ComplexOut(std::int32_t Index) {
    const std::size_t n = fetch(Index);
    return std::sqrt(re_[n] * re_[n] + im_[n] * im_[n]);
}

float clsFourier::Timing() const {
    return static_cast<float>(static_cast<double>(endCount_ - startCount_) /
                              static_cast<double>(counterFrequency_) * 1000.0);
}

void clsFourier::transform() {
    recompute_ = false;
    startCount_ = counterNow();

    const std::size_t n = re_.size();
    double* __restrict xr = re_.data();
    double* __restrict xi = im_.data();

    // Butterfly of x[a] and x[b] with w: t = w * x[b]; x[b] = x[a] - t; x[a] = x[a] + t.
    auto butterfly = [xr, xi](std::size_t a, std::size_t b, double wr, double wi) {
        const double tr = wr * xr[b] - wi * xi[b];
        const double ti = xi[b] * wr + wi * xr[b];
        xr[b] = xr[a] - tr;
        xi[b] = xi[a] - ti;
        xr[a] = xr[a] + tr;
        xi[a] = xi[a] + ti;
    };

    // Half-span 1: every group uses w = 1.
    {
        const double wr = twiddleRe_[0], wi = twiddleIm_[0];
        for (std::size_t g = 0; g < n; g += 2) {
            butterfly(g, g + 1, wr, wi);
        }
    }
    // Half-span 2.
    if (n >= 4) {
        const double w0r = twiddleRe_[1], w0i = twiddleIm_[1];
        const double w1r = twiddleRe_[2], w1i = twiddleIm_[2];
        for (std::size_t g = 0; g < n; g += 4) {
            butterfly(g, g + 2, w0r, w0i);
            butterfly(g + 1, g + 3, w1r, w1i);
        }
    }
    for (std::size_t h = 4; h < n; h *= 2) {
        const double* __restrict wr = twiddleRe_.data() + (h - 1);
        const double* __restrict wi = twiddleIm_.data() + (h - 1);
        for (std::size_t g = 0; g < n; g += 2 * h) {
            double* __restrict ar = xr + g;
            double* __restrict ai = xi + g;
            double* __restrict br = xr + g + h;
            double* __restrict bi = xi + g + h;
            for (std::size_t k = 0; k < h; ++k) {
                const double tr = wr[k] * br[k] - wi[k] * bi[k];
                const double ti = bi[k] * wr[k] + wi[k] * br[k];
                br[k] = ar[k] - tr;
                bi[k] = ai[k] - ti;
                ar[k] = ar[k] + tr;
                ai[k] = ai[k] + ti;
            }
        }
    }

    endCount_ = counterNow();
}
