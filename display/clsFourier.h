#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

// Complex discrete Fourier transform of power-of-two size N, computed on demand.
//
// Callers load N values by 1-based index (RealIn, optionally ImagIn) and read N bins back
// by 1-based index. The transform is X[k] = sum over n of x[n] * e^(+2 pi i n k / N), with the
// positive exponent and no 1/N scale; real input is halved when loaded, or weighted by the
// Blackman window over N points (zero at both ends) when WithTimeWindow is non-zero.
// Iterative radix-2 decimation in time: values are stored at bit-reversed positions as they
// are loaded, and each pass's twiddle factors come from the sine recurrence, starting from
// 1 in every group. Everything that depends only on N (window weights, bit-reversal table,
// each pass's twiddle sequence) is prepared when the size is set; the values are the same
// as computing them on the fly. All arithmetic is double precision.
//
// Errors: 380 for a size that is not 2^n with n >= 1; 381 for an index outside 1..N or any
// access before the size is set.
class clsFourier {
public:
    clsFourier();

    void setNumberOfSamples(std::int32_t nuNumSam);
    void setWithTimeWindow(std::int32_t nuTimeWindow) { window_ = nuTimeWindow; }

    void setRealIn(std::int32_t Index, double nuValueIn) {
        const std::size_t n = position(Index);
        const std::size_t p = reversed_[n];
        re_[p] = window_ != 0 ? windowWeights_[n] * nuValueIn : nuValueIn / 2.0;
        im_[p] = 0.0;
        recompute_ = true;
    }
    void setImagIn(std::int32_t Index, double nuValueIn) {
        im_[reversed_[position(Index)]] = nuValueIn;
        recompute_ = true;
    }

    double RealOut(std::int32_t Index) { return re_[fetch(Index)]; }
    double ImagOut(std::int32_t Index) { return im_[fetch(Index)]; }
    // Magnitude of the bin: sqrt(re^2 + im^2).
    double ComplexOut(std::int32_t Index) {
        const std::size_t n = fetch(Index);
        return std::sqrt(re_[n] * re_[n] + im_[n] * im_[n]);
    }

    // Duration of the most recent transform (the butterfly passes only), in milliseconds.
    float Timing() const;

private:
    // Element Index - 1, or error 381.
    std::size_t position(std::int32_t Index) const {
        if (sizeUnset_ || Index < 1 || Index > upperIndex_ + 1) {
            raiseIndexError();
        }
        return static_cast<std::size_t>(Index - 1);
    }
    // Element Index - 1 of the spectrum, transformed first if the input changed.
    std::size_t fetch(std::int32_t Index) {
        const std::size_t n = position(Index);
        if (recompute_) {
            transform();
        }
        return n;
    }
    [[noreturn]] static void raiseIndexError();
    void transform();

    std::vector<double> re_;
    std::vector<double> im_;
    std::vector<std::uint32_t> reversed_;
    std::vector<double> windowWeights_;
    // Twiddle factors of the pass with half-span h at offsets h - 1 ... 2h - 2.
    std::vector<double> twiddleRe_;
    std::vector<double> twiddleIm_;
    bool sizeUnset_ = true;
    bool recompute_ = false;
    std::int32_t window_ = 0;
    std::int32_t upperIndex_ = 0;
    std::int32_t bitCount_ = 0;
    std::int64_t startCount_ = 0;
    std::int64_t endCount_ = 0;
    std::int64_t counterFrequency_ = 0;
    double pi_ = 0;
    double twoPi_ = 0;
};
