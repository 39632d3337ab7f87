#include "dsp/IIRFilter.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

namespace {

std::vector<std::int16_t> everySixteenBitValue() {
    std::vector<std::int16_t> v(65536);
    for (std::int32_t i = 0; i < 65536; ++i) {
        v[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i - 32768);
    }
    return v;
}

std::vector<std::int16_t> sine(std::size_t n, double freq, double rate, double amplitude) {
    std::vector<std::int16_t> v(n);
    for (std::size_t i = 0; i < n; ++i) {
        v[i] = static_cast<std::int16_t>(
            std::lrint(amplitude * std::sin(2.0 * M_PI * freq * static_cast<double>(i) / rate)));
    }
    return v;
}

// Relative closeness to the published coefficient values (six to seven digits).
void expectCoefficient(float actual, double expected) {
    EXPECT_NEAR(actual, expected, std::fabs(expected) * 2e-6) << "expected " << expected;
}

} // namespace

TEST(IIRFilterCoefficients, PeakingAndLowPassMatchTheCookbookValues) {
    IIRFilter peak;
    peak.CreateBiquadIIR(3, 6.0f, 1000.0f, 44100.0f, 1.0f);
    expectCoefficient(peak.b0(), 1.034275);
    expectCoefficient(peak.b1(), -1.911557);
    expectCoefficient(peak.a1(), -1.911557);
    EXPECT_EQ(peak.b1(), peak.a1());
    expectCoefficient(peak.b2(), 0.8968499);
    expectCoefficient(peak.a2(), 0.9311244);

    IIRFilter low;
    low.CreateBiquadIIR(0, 6.0f, 1000.0f, 44100.0f, 1.0f);
    expectCoefficient(low.b0(), 0.00482328);
    EXPECT_EQ(low.b0(), low.b2());
    expectCoefficient(low.b1(), 0.009646561);
    expectCoefficient(low.a1(), -1.88478);
    expectCoefficient(low.a2(), 0.9040735);
}

TEST(IIRFilterCoefficients, CreateStoresItsArgumentsAndSettersRecompute) {
    IIRFilter f;
    f.CreateBiquadIIR(1, -3.0f, 500.0f, 22050.4f, 2.0f);
    EXPECT_EQ(f.IIRType(), 1);
    EXPECT_EQ(f.samplerate(), 22050);
    EXPECT_EQ(f.GainDB(), -3.0f);
    EXPECT_EQ(f.Frequency(), 500.0f);
    EXPECT_EQ(f.Bandwidth(), 2.0f);

    IIRFilter g;
    g.CreateBiquadIIR(2, 0.0f, 500.0f, 22050.5f, 2.0f);
    EXPECT_EQ(g.samplerate(), 22050) << "halves round to even";

    // A setter with a rate set recomputes with the stored type.
    IIRFilter viaSetter;
    viaSetter.CreateBiquadIIR(3, 0.0f, 1000.0f, 44100.0f, 1.0f);
    viaSetter.setGainDB(6.0f);
    IIRFilter direct;
    direct.CreateBiquadIIR(3, 6.0f, 1000.0f, 44100.0f, 1.0f);
    EXPECT_EQ(viaSetter.b0(), direct.b0());
    EXPECT_EQ(viaSetter.a2(), direct.a2());
}

TEST(IIRFilterCoefficients, SettingFrequencyWithoutRateOnlyStores) {
    IIRFilter f;
    f.setFrequency(1234.0f);
    f.setGainDB(6.0f);
    f.setBandwidth(1.0f);
    EXPECT_EQ(f.Frequency(), 1234.0f);
    EXPECT_EQ(f.b0(), 0.0f);
    EXPECT_EQ(f.a1(), 0.0f);
    // Coefficients never computed: everything becomes silence.
    auto block = noise(100, 1);
    f.ProcessSamples_16bit(block);
    EXPECT_TRUE(std::all_of(block.begin(), block.end(), [](std::int16_t s) { return s == 0; }));
    std::vector<std::uint8_t> bytes{0, 17, 128, 255};
    f.ProcessSamples_8bit(bytes);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{128, 128, 128, 128}));

    f.setSamplerate(44100);
    EXPECT_NE(f.b0(), 0.0f);
    EXPECT_EQ(f.IIRType(), 0);
}

TEST(IIRFilterProcessing, ZeroDecibelPeakingLeavesEverySampleUnchanged) {
    IIRFilter f;
    f.CreateBiquadIIR(3, 0.0f, 1000.0f, 44100.0f, 1.0f);
    auto all = everySixteenBitValue();
    auto block = all;
    f.ProcessSamples_16bit(block);
    EXPECT_EQ(block, all);
    auto loud = noise(20000, 2);
    block = loud;
    f.ProcessSamples_16bit(block);
    EXPECT_EQ(block, loud);

    std::vector<std::uint8_t> bytes(256);
    std::iota(bytes.begin(), bytes.end(), 0);
    auto before = bytes;
    f.ProcessSamples_8bit(bytes);
    EXPECT_EQ(bytes, before);
}

TEST(IIRFilterProcessing, UnknownTypesPassSamplesThrough) {
    for (std::int32_t type : {4, -1, 1000}) {
        IIRFilter f;
        f.CreateBiquadIIR(type, 6.0f, 1000.0f, 44100.0f, 1.0f);
        EXPECT_EQ(f.IIRType(), type);
        auto all = everySixteenBitValue();
        auto block = all;
        f.ProcessSamples_16bit(block);
        EXPECT_EQ(block, all) << "type " << type;
        std::vector<std::uint8_t> bytes(256);
        std::iota(bytes.begin(), bytes.end(), 0);
        auto before = bytes;
        f.ProcessSamples_8bit(bytes);
        EXPECT_EQ(bytes, before) << "type " << type;
    }
}

TEST(IIRFilterProcessing, GainsAtKnownFrequencies) {
    // Peaking +6 dB at its centre doubles the amplitude (A^2 = 10^(6/20)); a low-pass
    // passes DC unchanged and a 10 kHz tone almost not at all.
    const double rate = 44100.0;
    auto peakGain = [&](std::int32_t type, double freq) {
        IIRFilter f;
        f.CreateBiquadIIR(type, 6.0f, 1000.0f, 44100.0f, 1.0f);
        auto block = sine(44100, freq, rate, 8000.0);
        f.ProcessSamples_16bit(block);
        const auto [lo, hi] = std::minmax_element(block.begin() + 22050, block.end());
        return (static_cast<double>(*hi) - static_cast<double>(*lo)) / 2.0 / 8000.0;
    };
    EXPECT_NEAR(peakGain(3, 1000.0), std::pow(10.0, 6.0 / 20.0), 0.01);
    EXPECT_NEAR(peakGain(3, 20.0), 1.0, 0.01);
    EXPECT_LT(peakGain(0, 10000.0), 0.02);
    EXPECT_LT(peakGain(1, 50.0), 0.01);
    EXPECT_NEAR(peakGain(2, 1000.0), 1.0, 0.01);

    IIRFilter low;
    low.CreateBiquadIIR(0, 0.0f, 1000.0f, 44100.0f, 1.0f);
    std::vector<std::int16_t> dc(4000, 12000);
    low.ProcessSamples_16bit(dc);
    EXPECT_EQ(dc.back(), 12000);
}

TEST(IIRFilterProcessing, BoostedFullScaleToneClipsOnOutputOnly) {
    IIRFilter f;
    f.CreateBiquadIIR(3, 12.0f, 1000.0f, 44100.0f, 1.0f);
    auto block = sine(8820, 1000.0, 44100.0, 32767.0);
    f.ProcessSamples_16bit(block);
    const auto [lo, hi] = std::minmax_element(block.begin(), block.end());
    EXPECT_EQ(*hi, 32767);
    EXPECT_EQ(*lo, -32768);
    // About a quarter of each doubled-and-more cycle sits at full scale.
    const auto clipped = std::count(block.begin(), block.end(), std::int16_t{32767});
    EXPECT_GT(clipped, 100);

    std::vector<std::uint8_t> bytes(441);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<std::uint8_t>(
            std::lrint(128.0 + 127.0 * std::sin(2.0 * M_PI * 1000.0 * double(i) / 44100.0)));
    }
    IIRFilter g;
    g.CreateBiquadIIR(3, 12.0f, 1000.0f, 44100.0f, 1.0f);
    g.ProcessSamples_8bit(bytes);
    EXPECT_EQ(*std::max_element(bytes.begin(), bytes.end()), 255);
    EXPECT_EQ(*std::min_element(bytes.begin(), bytes.end()), 0);
}

TEST(IIRFilterProcessing, HistoryRunsOnAcrossCallsAndIsSharedByChannels) {
    auto signal = noise(10001, 3, 20000);
    IIRFilter whole;
    whole.CreateBiquadIIR(0, 0.0f, 2000.0f, 44100.0f, 1.5f);
    auto a = signal;
    whole.ProcessSamples_16bit(a);

    IIRFilter halves;
    halves.CreateBiquadIIR(0, 0.0f, 2000.0f, 44100.0f, 1.5f);
    auto b = signal;
    std::span<std::int16_t> s(b);
    halves.ProcessSamples_16bit(s.first(4000));
    halves.ProcessSamples_16bit(s.subspan(4000));
    EXPECT_EQ(a, b);

    // Left carries a tone, right is silent: the shared history leaks left into right.
    std::vector<std::int16_t> stereo(2000, 0);
    for (std::size_t i = 0; i < stereo.size(); i += 2) {
        stereo[i] = 10000;
    }
    IIRFilter st;
    st.CreateBiquadIIR(0, 0.0f, 1000.0f, 44100.0f, 1.0f);
    st.ProcessSamples_16bit(stereo);
    EXPECT_NE(stereo[1001], 0);
    EXPECT_NEAR(stereo[1001], stereo[1000], 100) << "one sequence: right follows left";
}

TEST(IIRFilterProcessing, DisabledFilterLeavesSamplesAndHistoryAlone) {
    auto first = noise(500, 4);
    auto middle = noise(500, 5);
    auto last = noise(500, 6);

    IIRFilter f;
    f.CreateBiquadIIR(3, 9.0f, 3000.0f, 44100.0f, 1.0f);
    auto a = first;
    f.ProcessSamples_16bit(a);
    f.setEnabled(false);
    EXPECT_FALSE(f.Enabled());
    auto m = middle;
    f.ProcessSamples_16bit(m);
    EXPECT_EQ(m, middle);
    std::vector<std::uint8_t> bytes{1, 2, 3};
    f.ProcessSamples_8bit(bytes);
    EXPECT_EQ(bytes, (std::vector<std::uint8_t>{1, 2, 3}));
    f.setEnabled(true);
    auto c = last;
    f.ProcessSamples_16bit(c);

    IIRFilter g;
    g.CreateBiquadIIR(3, 9.0f, 3000.0f, 44100.0f, 1.0f);
    auto a2 = first;
    g.ProcessSamples_16bit(a2);
    auto c2 = last;
    g.ProcessSamples_16bit(c2);
    EXPECT_EQ(c, c2);
}

TEST(IIRFilterProcessing, CascadeEqualsFilterAfterFilter) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<float> gain(-12.0f, 12.0f);
    for (int round = 0; round < 4; ++round) {
        const int count = 1 + round * 3;
        std::vector<IIRFilter> fused(static_cast<std::size_t>(count));
        std::vector<IIRFilter> single(static_cast<std::size_t>(count));
        for (int k = 0; k < count; ++k) {
            const float g = gain(rng);
            const float freq = 80.0f * std::pow(180.0f, static_cast<float>(k) / 10.0f);
            fused[static_cast<std::size_t>(k)].CreateBiquadIIR(3, g, freq, 44100.0f, 1.3f);
            single[static_cast<std::size_t>(k)].CreateBiquadIIR(3, g, freq, 44100.0f, 1.3f);
        }
        fused[0].setEnabled(round % 2 == 0);
        single[0].setEnabled(round % 2 == 0);
        for (int block = 0; block < 3; ++block) {
            auto a = noise(3000, static_cast<std::uint32_t>(100 + round * 10 + block));
            auto b = a;
            IIRFilter::ProcessCascade_16bit(fused, a);
            for (auto& f : single) {
                f.ProcessSamples_16bit(b);
            }
            ASSERT_EQ(a, b) << "round " << round << " block " << block;
        }
    }
}
