#include "display/clsFourier.h"
#include "common/RaisedError.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

template <typename F>
void expectRaised(F&& f, std::int32_t number) {
    try {
        f();
        ADD_FAILURE() << "no error raised, expected " << number;
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.number(), number);
        if (number == 380) {
            EXPECT_EQ(e.description(),
                      "Number of samples must be a positive value of the form 2 ^ n");
        } else {
            EXPECT_EQ(e.description(), "Index out of range or number of samples unknown");
        }
    }
}

// The weight RealIn gives index i with the window on: the DC bin of that value alone.
double windowWeight(std::int32_t n, std::int32_t i) {
    clsFourier f;
    f.setNumberOfSamples(n);
    f.setWithTimeWindow(1);
    for (std::int32_t k = 1; k <= n; ++k) {
        f.setRealIn(k, k == i ? 1.0 : 0.0);
    }
    return f.RealOut(1);
}

} // namespace

TEST(clsFourierErrors, SizesThatAreNotTwoToTheNRaise380AndKeepTheOldSize) {
    clsFourier f;
    for (std::int32_t bad : {1, 0, -8, 1000, 3, INT32_MIN}) {
        expectRaised([&] { f.setNumberOfSamples(bad); }, 380);
    }
    expectRaised([&] { f.setRealIn(1, 1.0); }, 381);
    f.setNumberOfSamples(2);
    f.setNumberOfSamples(1024);
    f.setNumberOfSamples(4);
    expectRaised([&] { f.setNumberOfSamples(1000); }, 380);
    f.setRealIn(4, 1.0);
    expectRaised([&] { f.setRealIn(5, 1.0); }, 381);
}

TEST(clsFourierErrors, IndexOutsideOneToNOrNoSizeRaises381) {
    clsFourier unsized;
    expectRaised([&] { unsized.setRealIn(1, 1.0); }, 381);
    expectRaised([&] { unsized.setImagIn(1, 1.0); }, 381);
    expectRaised([&] { (void)unsized.RealOut(1); }, 381);
    expectRaised([&] { (void)unsized.ImagOut(1); }, 381);
    expectRaised([&] { (void)unsized.ComplexOut(1); }, 381);
    EXPECT_EQ(unsized.Timing(), 0.0f);

    clsFourier f;
    f.setNumberOfSamples(8);
    for (std::int32_t bad : {0, 9, -1}) {
        expectRaised([&] { f.setRealIn(bad, 1.0); }, 381);
        expectRaised([&] { f.setImagIn(bad, 1.0); }, 381);
        expectRaised([&] { (void)f.RealOut(bad); }, 381);
        expectRaised([&] { (void)f.ImagOut(bad); }, 381);
        expectRaised([&] { (void)f.ComplexOut(bad); }, 381);
    }
    // Sized and not loaded: every bin is zero.
    for (std::int32_t i = 1; i <= 8; ++i) {
        EXPECT_EQ(f.ComplexOut(i), 0.0);
    }
}

TEST(clsFourierTransform, ConstantGivesHalfNTimesItInTheDcBin) {
    clsFourier f;
    f.setNumberOfSamples(16);
    for (std::int32_t i = 1; i <= 16; ++i) {
        f.setRealIn(i, 3.0);
    }
    EXPECT_NEAR(f.RealOut(1), 16 * 3.0 / 2, 1e-12);
    EXPECT_NEAR(f.ImagOut(1), 0.0, 1e-12);
    for (std::int32_t i = 2; i <= 16; ++i) {
        EXPECT_NEAR(f.ComplexOut(i), 0.0, 1e-12) << "bin " << i;
    }
}

TEST(clsFourierTransform, SmallCasesUnderThePositiveExponent) {
    clsFourier two;
    two.setNumberOfSamples(2);
    two.setRealIn(1, 5.0);
    two.setRealIn(2, 3.0);
    EXPECT_EQ(two.RealOut(1), 4.0);
    EXPECT_EQ(two.RealOut(2), 1.0);
    EXPECT_EQ(two.ImagOut(2), 0.0);
    two.setWithTimeWindow(1);
    two.setRealIn(1, 5.0);
    two.setRealIn(2, 3.0);
    EXPECT_NEAR(two.ComplexOut(1), 0.0, 1e-15);
    EXPECT_NEAR(two.ComplexOut(2), 0.0, 1e-15);

    // An impulse v at index 2 of 4: (v/2) * (1, i, -1, -i).
    clsFourier four;
    four.setNumberOfSamples(4);
    const double v = 6.0;
    for (std::int32_t i = 1; i <= 4; ++i) {
        four.setRealIn(i, i == 2 ? v : 0.0);
    }
    const double re[] = {3.0, 0.0, -3.0, 0.0};
    const double im[] = {0.0, 3.0, 0.0, -3.0};
    for (std::int32_t i = 1; i <= 4; ++i) {
        EXPECT_NEAR(four.RealOut(i), re[i - 1], 1e-15) << "bin " << i;
        EXPECT_NEAR(four.ImagOut(i), im[i - 1], 1e-15) << "bin " << i;
        EXPECT_NEAR(four.ComplexOut(i), 3.0, 1e-15);
    }
}

TEST(clsFourierTransform, WindowIsSymmetricZeroAtBothEndsAndLargestInTheMiddle) {
    const std::int32_t n = 16;
    std::vector<double> w(n + 1);
    for (std::int32_t i = 1; i <= n; ++i) {
        w[static_cast<std::size_t>(i)] = windowWeight(n, i);
    }
    EXPECT_NEAR(w[1], 0.0, 1e-15);
    EXPECT_NEAR(w[n], 0.0, 1e-15);
    for (std::int32_t i = 1; i <= n; ++i) {
        EXPECT_NEAR(w[static_cast<std::size_t>(i)], w[static_cast<std::size_t>(n + 1 - i)], 1e-15);
        EXPECT_LE(w[static_cast<std::size_t>(i)], w[8]);
    }
    EXPECT_LT(w[8], 1.0);
    EXPECT_GT(w[8], 0.98);
    EXPECT_GT(w[8], w[7]);
}

TEST(clsFourierTransform, MatchesADirectTransformWithThePositiveExponent) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> d(-1000.0, 1000.0);
    for (std::int32_t n : {8, 64, 1024}) {
        std::vector<std::complex<double>> x(static_cast<std::size_t>(n));
        clsFourier f;
        f.setNumberOfSamples(n);
        for (std::int32_t i = 1; i <= n; ++i) {
            const double re = d(rng), im = d(rng);
            f.setRealIn(i, re);
            f.setImagIn(i, im);
            x[static_cast<std::size_t>(i - 1)] = {re / 2.0, im};
        }
        double worst = 0.0;
        for (std::int32_t k = 0; k < n; ++k) {
            std::complex<double> sum = 0.0;
            for (std::int32_t j = 0; j < n; ++j) {
                const double a =
                    2.0 * M_PI * static_cast<double>((static_cast<std::int64_t>(j) * k) % n) / n;
                sum +=
                    x[static_cast<std::size_t>(j)] * std::complex<double>(std::cos(a), std::sin(a));
            }
            worst = std::max(
                worst, std::abs(sum - std::complex<double>(f.RealOut(k + 1), f.ImagOut(k + 1))));
            EXPECT_NEAR(f.ComplexOut(k + 1), std::abs(sum), 1e-6 * n);
        }
        EXPECT_LT(worst, 1e-9 * 1000.0 * n) << "size " << n;
    }
}

TEST(clsFourierTransform, RunsOnceUntilTheInputChanges) {
    clsFourier f;
    f.setNumberOfSamples(1024);
    f.setWithTimeWindow(1);
    for (std::int32_t i = 1; i <= 1024; ++i) {
        f.setRealIn(i, std::sin(i * 0.3));
    }
    const double first = f.ComplexOut(100);
    const float timing = f.Timing();
    EXPECT_GT(timing, 0.0f);
    EXPECT_LT(timing, 1000.0f);
    EXPECT_EQ(f.ComplexOut(100), first);
    EXPECT_EQ(f.Timing(), timing) << "a second read does not transform again";

    // ImagIn then RealIn on one index leaves its imaginary part 0.
    clsFourier g;
    g.setNumberOfSamples(2);
    g.setImagIn(1, 5.0);
    g.setRealIn(1, 2.0);
    g.setRealIn(2, 0.0);
    EXPECT_EQ(g.RealOut(1), 1.0);
    EXPECT_EQ(g.ImagOut(1), 0.0);
    EXPECT_EQ(g.ImagOut(2), 0.0);
    // New input after a transform: the next read transforms again.
    g.setRealIn(1, 4.0);
    g.setRealIn(2, 4.0);
    EXPECT_EQ(g.RealOut(1), 4.0);
    EXPECT_EQ(g.RealOut(2), 0.0);
}
