#include "dsp/clsDSP.h"
#include "common/RaisedError.h"
#include "dsp/IIRFilter.h"

#include "Signals.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::int32_t kEcho = 1;
constexpr std::int32_t kPhaser = 2;
constexpr std::int32_t kAmplifier = 4;
constexpr std::int32_t kEqualizer = 8;

template <typename F>
void expectRaised(F&& f, std::int32_t number, const std::string& text) {
    try {
        f();
        ADD_FAILURE() << "no error raised, expected " << number << " " << text;
    } catch (const RaisedError& e) {
        EXPECT_EQ(e.number(), number);
        EXPECT_EQ(e.description(), text);
    }
}

clsDSP chain(std::int32_t effects, std::int32_t rate = 44100, std::int16_t channels = 1) {
    clsDSP d;
    d.setSamplerate(rate);
    d.setChannels(channels);
    d.setEffectsUsed(effects);
    return d;
}

// The phase shifter written out sample by sample as a reference for the block loop.
struct PhaserReference {
    float x[4] = {0, 0, 0, 0}, y[4] = {0, 0, 0, 0};
    float lower, upper, sweep, factor, multiplier;
    float wet, dry, fb;

    PhaserReference(double rate, float freq, float range, float sweepRate, float wet_, float dry_,
                    float fb_)
        : wet(wet_), dry(dry_), fb(fb_) {
        const double pi = static_cast<double>(3.1415927f);
        const double R = std::pow(2.0, static_cast<double>(range));
        lower = static_cast<float>(static_cast<double>(freq) * pi / rate);
        upper = static_cast<float>(static_cast<double>(freq) * pi * R / rate);
        factor = static_cast<float>(std::pow(R, 2.0 * static_cast<double>(sweepRate) / rate));
        multiplier = factor;
        sweep = lower;
    }

    std::int16_t run(std::int16_t sample) {
        const float in = static_cast<float>(sample / 32767.0);
        const float c = static_cast<float>((1.0 - double(sweep)) / (1.0 + double(sweep)));
        float u = static_cast<float>(double(in) + double(y[3]) * double(fb));
        for (int k = 0; k < 4; ++k) {
            const float ny =
                static_cast<float>(double(c) * (double(u) + double(y[k])) - double(x[k]));
            x[k] = u;
            y[k] = ny;
            u = ny;
        }
        const float wetValue = y[3];
        if (!std::isfinite(y[3])) {
            // The shifter starts its states afresh once they overflow.
            for (int k = 0; k < 4; ++k) {
                x[k] = y[k] = 0.0f;
            }
        }
        const float out =
            static_cast<float>(double(wet) * double(wetValue) + double(dry) * double(in));
        sweep = static_cast<float>(double(sweep) * double(multiplier));
        if (sweep > upper) {
            multiplier = static_cast<float>(1.0 / double(factor));
        } else if (sweep < lower) {
            multiplier = factor;
        }
        const double v = double(out) * 32767.0;
        if (v > 32767.0) {
            return 32767;
        }
        if (v < -32768.0) {
            return -32768;
        }
        if (std::isnan(v)) {
            return 0;
        }
        return static_cast<std::int16_t>(std::nearbyint(v));
    }
};

// Random settings from the effects window's slider ranges; every third draw sweeps slowly
// below 0 Hz, where the all-pass states overflow.
struct Settings {
    std::int32_t amplify, echoLength;
    float echoAmp, dry, wet, fb, sweepRate, sweepRange, freq;
    float gains[7];
    bool below;

    static Settings draw(std::mt19937& rng, bool below) {
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        Settings s{};
        s.below = below;
        s.amplify = pick(-12, 12);
        s.echoLength = pick(1, 1000);
        s.echoAmp = static_cast<float>(pick(1, 9)) / 10.0f;
        s.dry = static_cast<float>(pick(-10, 10)) / 10.0f;
        s.wet = static_cast<float>(pick(-10, 10)) / 10.0f;
        s.fb = static_cast<float>(pick(-9, 9)) / 10.0f;
        s.sweepRate = below ? 0.1f : static_cast<float>(pick(1, 15)) / 10.0f;
        s.sweepRange = static_cast<float>(pick(30, 60)) / 10.0f;
        s.freq = static_cast<float>(below ? pick(-10, -5) : pick(-10, 150));
        for (float& g : s.gains) {
            g = static_cast<float>(-pick(-12, 12));
        }
        return s;
    }

    void apply(clsDSP& d) const {
        d.setAmplifyDB(amplify);
        d.setEchoLength(echoLength);
        d.setEchoAmp(echoAmp);
        d.setPhaseShiftDry(dry);
        d.setPhaseShiftWet(wet);
        d.setPhaseShiftFeedback(fb);
        d.setPhaseShiftSweepRate(sweepRate);
        d.setPhaseShiftSweepRange(sweepRange);
        d.setPhaseShiftFrequency(freq);
        for (std::int32_t i = 0; i < 7; ++i) {
            d.setEqualizerBandGainDB(i, gains[i]);
        }
    }
};

} // namespace

TEST(clsDSPProperties, ConstructionDefaults) {
    clsDSP d;
    EXPECT_EQ(d.EffectsUsed(), 0);
    EXPECT_EQ(d.EchoAmp(), 0.4f);
    EXPECT_EQ(d.EchoLength(), 100);
    EXPECT_EQ(d.AmplifyDB(), 3);
    EXPECT_EQ(d.PhaseShiftDry(), 1.0f);
    EXPECT_EQ(d.PhaseShiftWet(), 1.0f);
    EXPECT_EQ(d.PhaseShiftFeedback(), 0.5f);
    EXPECT_EQ(d.PhaseShiftSweepRate(), 1.0f);
    EXPECT_EQ(d.PhaseShiftSweepRange(), 4.0f);
    EXPECT_EQ(d.PhaseShiftFrequency(), 100.0f);
    EXPECT_EQ(d.EqualizerBands(), 7);
    EXPECT_EQ(d.samplerate(), 0);
    EXPECT_EQ(d.Channels(), 0);
    for (std::int32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(d.EqualizerBandGainDB(i), 0.0f);
        EXPECT_EQ(d.EqualizerBandFrequency(i), 0) << "no equaliser set-up yet";
    }
}

TEST(clsDSPProperties, RefusedValuesRaise32000AndKeepTheValue) {
    clsDSP d;
    d.setSamplerate(22050);
    d.setChannels(2);
    expectRaised([&] { d.setSamplerate(100000); }, 32000, "invalid samplerate");
    expectRaised([&] { d.setSamplerate(0); }, 32000, "invalid samplerate");
    expectRaised([&] { d.setSamplerate(-44100); }, 32000, "invalid samplerate");
    EXPECT_EQ(d.samplerate(), 22050);
    expectRaised([&] { d.setChannels(3); }, 32000, "invalid channels");
    expectRaised([&] { d.setChannels(0); }, 32000, "invalid channels");
    EXPECT_EQ(d.Channels(), 2);
    d.setEqualizerBandGainDB(2, 5.0f);
    expectRaised([&] { d.setEqualizerBands(11); }, 32000, "Out Of Bounds!");
    expectRaised([&] { d.setEqualizerBands(0); }, 32000, "Out Of Bounds!");
    EXPECT_EQ(d.EqualizerBands(), 7);
    EXPECT_EQ(d.EqualizerBandGainDB(2), 5.0f);
    expectRaised([&] { (void)d.EqualizerBandGainDB(7); }, 9, "Subscript out of range");
    expectRaised([&] { d.setEqualizerBandGainDB(-1, 1.0f); }, 9, "Subscript out of range");
    d.setSamplerate(96000);
    d.setSamplerate(1);
    d.setChannels(1);
    EXPECT_EQ(d.samplerate(), 1);
}

TEST(clsDSPProperties, EchoAmpIsCappedAtNineTenths) {
    clsDSP d;
    d.setEchoAmp(1.5f);
    EXPECT_EQ(d.EchoAmp(), 0.9f);
    d.setEchoAmp(-3.0f);
    EXPECT_EQ(d.EchoAmp(), -3.0f);
}

TEST(clsDSPProperties, EqualizerBandCentres) {
    clsDSP d;
    d.setSamplerate(44100);
    EXPECT_EQ(d.EqualizerBandFrequency(0), 0) << "set-ups wait for the channels";
    d.setChannels(2);
    const std::int32_t expected[] = {80, 191, 455, 1084, 2586, 6165, 14700};
    for (std::int32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(d.EqualizerBandFrequency(i), expected[i]) << "band " << i;
    }

    d.setEqualizerBandGainDB(1, -4.0f);
    d.setEqualizerBands(5);
    EXPECT_EQ(d.EqualizerBands(), 5);
    for (std::int32_t i = 0; i < 5; ++i) {
        EXPECT_EQ(d.EqualizerBandGainDB(i), 0.0f);
    }
    EXPECT_EQ(d.EqualizerBandFrequency(0), 80);
    EXPECT_EQ(d.EqualizerBandFrequency(4), 14700);

    d.setEqualizerBands(1);
    EXPECT_EQ(d.EqualizerBandFrequency(0), 80);

    d.setEqualizerBands(7);
    d.setSamplerate(8000);
    EXPECT_EQ(d.EqualizerBandFrequency(6), 2667);
}

TEST(clsDSPProcessing, NothingChangesUntilRateChannelsAndBitsAreSet) {
    const auto input = noise(1000, 1);
    clsDSP none;
    none.setEffectsUsed(15);
    auto a = input;
    none.ProcessSamples(a);
    EXPECT_EQ(a, input);

    clsDSP rateOnly;
    rateOnly.setSamplerate(44100);
    rateOnly.setEffectsUsed(15);
    a = input;
    rateOnly.ProcessSamples(a);
    EXPECT_EQ(a, input);

    auto off = chain(0);
    off.setEffectsUsed(16 | 32 | 1024);
    a = input;
    off.ProcessSamples(a);
    EXPECT_EQ(a, input);

    auto flatEq = chain(kEqualizer, 44100, 2);
    a = input;
    flatEq.ProcessSamples(a);
    EXPECT_EQ(a, input) << "every band at 0 dB";
}

TEST(clsDSPProcessing, AmplifierScalesRoundsAndClips) {
    auto d = chain(kAmplifier);
    std::vector<std::int16_t> block{10000, 30000, -30000, 0, 1, -1, 32767, -32768, 2};
    d.ProcessSamples(block);
    EXPECT_EQ(block, (std::vector<std::int16_t>{14125, 32767, -32768, 0, 1, -1, 32767, -32768, 3}));

    d.setAmplifyDB(-12);
    std::vector<std::int16_t> quiet{10000, -10000, 4};
    d.ProcessSamples(quiet);
    // 10^(-12/20) = 0.25118864; 4 * 0.2511886 = 1.0047.
    EXPECT_EQ(quiet, (std::vector<std::int16_t>{2512, -2512, 1}));

    d.setAmplifyDB(2000); // infinite factor: silence stays silent, the rest clips
    std::vector<std::int16_t> huge{0, 5, -5};
    d.ProcessSamples(huge);
    EXPECT_EQ(huge, (std::vector<std::int16_t>{0, 32767, -32768}));
}

TEST(clsDSPProcessing, EchoRepeatsOneLineLengthLater) {
    auto d = chain(kEcho);
    std::vector<std::int16_t> block(13231, 0);
    block[0] = 10000;
    // Three blocks of uneven size: the line runs on between blocks.
    std::span<std::int16_t> s(block);
    d.ProcessSamples(s.first(1000));
    d.ProcessSamples(s.subspan(1000, 7000));
    d.ProcessSamples(s.subspan(8000));
    for (std::size_t i = 0; i < block.size(); ++i) {
        std::int16_t expected = 0;
        if (i == 0) {
            expected = 10000;
        } else if (i == 4410) {
            expected = 4000;
        } else if (i == 8820) {
            expected = 1600;
        } else if (i == 13230) {
            expected = 640;
        }
        ASSERT_EQ(block[i], expected) << "index " << i;
    }

    // Stereo: each channel has its own 4410-element line, so the repeat comes 4410 frames
    // later in its own channel and nothing reaches the other.
    auto st = chain(kEcho, 44100, 2);
    std::vector<std::int16_t> b2(8822, 0);
    b2[0] = -10000;
    st.ProcessSamples(b2);
    for (std::size_t i = 1; i < b2.size(); ++i) {
        ASSERT_EQ(b2[i], i == 8820 ? -4000 : 0) << "index " << i;
    }
}

TEST(clsDSPProcessing, EchoEdges) {
    // A length that gives no line element switches the echo off.
    for (std::int32_t len : {0, -5}) {
        auto d = chain(kEcho);
        d.setEchoLength(len);
        const auto input = noise(5000, 2);
        auto a = input;
        d.ProcessSamples(a);
        EXPECT_EQ(a, input) << "length " << len;
    }
    // 11025 Hz, 1 ms: 11.025 -> 11 elements; sums clip to 16 bits.
    auto d = chain(kEcho, 11025);
    d.setEchoLength(1);
    d.setEchoAmp(0.9f);
    std::vector<std::int16_t> block(23, 0);
    block[0] = 30000;
    block[11] = 30000;
    d.ProcessSamples(block);
    EXPECT_EQ(block[11], 32767);
    EXPECT_EQ(block[22], 29490); // 32767 * 0.9 = 29490.3

    // A factor below -1 would leave the 16-bit range: the stored repeat is clipped.
    auto neg = chain(kEcho, 1000);
    neg.setEchoLength(2);
    neg.setEchoAmp(-2.0f);
    std::vector<std::int16_t> b{30000, 0, 0, 0, 0, 0, 0};
    neg.ProcessSamples(b);
    EXPECT_EQ(b, (std::vector<std::int16_t>{30000, 0, -32768, 0, 32767, 0, -32768}));

    // A change of the length clears the line.
    auto c = chain(kEcho);
    std::vector<std::int16_t> imp(100, 0);
    imp[0] = 10000;
    c.ProcessSamples(imp);
    c.setEchoLength(1);
    std::vector<std::int16_t> later(5000, 0);
    c.ProcessSamples(later);
    EXPECT_EQ(later, std::vector<std::int16_t>(5000, 0));
}

TEST(clsDSPProcessing, AmplifierRunsBeforeEcho) {
    auto d = chain(kAmplifier | kEcho);
    std::vector<std::int16_t> block(4411, 0);
    block[0] = 10000;
    d.ProcessSamples(block);
    EXPECT_EQ(block[0], 14125);
    EXPECT_EQ(block[4410], 5650);
}

TEST(clsDSPProcessing, PhaseShifterFollowsTheSweepSampleBySample) {
    struct Case {
        float freq, range, rate, wet, dry, fb;
    };
    const Case cases[] = {{100.0f, 4.0f, 1.0f, 1.0f, 1.0f, 0.5f},
                          {150.0f, 6.0f, 1.5f, -1.0f, 0.3f, -0.9f},
                          {-10.0f, 3.0f, 0.1f, 0.7f, -1.0f, 0.9f}};
    for (const Case& c : cases) {
        auto d = chain(kPhaser, 8000);
        d.setPhaseShiftFrequency(c.freq);
        d.setPhaseShiftSweepRange(c.range);
        d.setPhaseShiftSweepRate(c.rate);
        d.setPhaseShiftWet(c.wet);
        d.setPhaseShiftDry(c.dry);
        d.setPhaseShiftFeedback(c.fb);
        PhaserReference ref(8000.0, c.freq, c.range, c.rate, c.wet, c.dry, c.fb);
        // Long enough for several sweep turns at the fastest rate.
        auto block = noise(30000, 3, 12000);
        auto expected = block;
        for (auto& s : expected) {
            s = ref.run(s);
        }
        std::span<std::int16_t> s(block);
        d.ProcessSamples(s.first(12345));
        d.ProcessSamples(s.subspan(12345));
        EXPECT_EQ(block, expected) << "frequency " << c.freq;
    }

    // Dry only gives back the input; neither gives silence.
    auto dryOnly = chain(kPhaser);
    dryOnly.setPhaseShiftWet(0.0f);
    const auto input = noise(3000, 4);
    auto a = input;
    dryOnly.ProcessSamples(a);
    EXPECT_EQ(a, input);
    dryOnly.setPhaseShiftDry(0.0f);
    dryOnly.ProcessSamples(a);
    EXPECT_EQ(a, std::vector<std::int16_t>(3000, 0));
}

TEST(clsDSPProcessing, EqualizerEqualsBandAfterBand) {
    auto d = chain(kEqualizer);
    const float gains[] = {12.0f, -12.0f, 6.0f, 0.0f, -3.0f, 9.0f, -7.0f};
    for (std::int32_t i = 0; i < 7; ++i) {
        d.setEqualizerBandGainDB(i, gains[i]);
    }
    std::vector<IIRFilter> bands(7);
    const float bw = static_cast<float>(std::log(14700.0 / 80.0) / 4.0);
    for (std::int32_t i = 0; i < 7; ++i) {
        const float f = static_cast<float>(80.0 * std::pow(14700.0 / 80.0, i / 6.0));
        bands[static_cast<std::size_t>(i)].CreateBiquadIIR(3, gains[i], f, 44100.0f, bw);
    }
    for (std::uint32_t block = 0; block < 4; ++block) {
        auto a = noise(4096, 10 + block, 16000);
        auto b = a;
        d.ProcessSamples(a);
        for (auto& f : bands) {
            f.ProcessSamples_16bit(b);
        }
        ASSERT_EQ(a, b) << "block " << block;
    }
}

TEST(clsDSPProcessing, RandomSettingsStayContinuousOrderedAndFinite) {
    // Random settings from the effects window's slider ranges, all four effects on.
    std::mt19937 rng(2024);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    const std::int32_t rates[] = {44100, 22050, 11025, 8000, 48000};
    for (int round = 0; round < 12; ++round) {
        const std::int32_t rate = rates[pick(0, 4)];
        const auto channels = static_cast<std::int16_t>(pick(1, 2));
        const Settings settings = Settings::draw(rng, round % 3 == 0);
        const bool below = settings.below;
        auto configure = [&](clsDSP& d, std::int32_t effects) {
            d.setSamplerate(rate);
            d.setChannels(channels);
            d.setEffectsUsed(effects);
            settings.apply(d);
        };
        clsDSP whole, chunked, amp, echo, phaser, eq;
        configure(whole, 15);
        configure(chunked, 15);
        configure(amp, kAmplifier);
        configure(echo, kEcho);
        configure(phaser, kPhaser);
        configure(eq, kEqualizer);
        for (int block = 0; block < 3; ++block) {
            auto input = noise(static_cast<std::size_t>(below ? 30000 : pick(1, 20000)),
                               static_cast<std::uint32_t>(round * 100 + block), pick(0, 32767));
            auto a = input;
            whole.ProcessSamples(a);

            auto b = input;
            std::size_t at = 0;
            while (at < b.size()) {
                // Blocks of whole frames: each stereo block starts with a left sample.
                const int frames = pick(1, 3000);
                const std::size_t n =
                    std::min(b.size() - at, static_cast<std::size_t>(frames * channels));
                chunked.ProcessSamples(std::span<std::int16_t>(b).subspan(at, n));
                at += n;
            }
            ASSERT_EQ(a, b) << "round " << round << ": blocks are one continuous signal";

            auto c = input;
            amp.ProcessSamples(c);
            echo.ProcessSamples(c);
            phaser.ProcessSamples(c);
            eq.ProcessSamples(c);
            ASSERT_EQ(a, c) << "round " << round << ": amplifier, echo, phaser, equaliser";
        }
        // The phase shifter's states are still finite: with only the wet path and no
        // feedback an impulse still comes out (a NaN state would give silence for ever).
        whole.setEffectsUsed(kPhaser);
        whole.setPhaseShiftWet(1.0f);
        whole.setPhaseShiftDry(0.0f);
        whole.setPhaseShiftFeedback(0.0f);
        std::vector<std::int16_t> probe(64, 0);
        probe[0] = 20000;
        whole.ProcessSamples(probe);
        EXPECT_NE(probe[0], 0) << "round " << round;
    }
}

// With two channels every channel runs through its own state exactly as a mono chain with
// the same settings would run its samples alone: for every combination of effects, blocks
// of any length (a lone last sample is a left one, and the next block starts with left
// again), and rate and parameter changes between blocks, which reach both channels.
TEST(clsDSPProcessing, StereoRunsEachChannelAsItsOwnMonoChain) {
    std::mt19937 rng(77);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (std::int32_t effects = 0; effects < 16; ++effects) {
        clsDSP stereo, left, right;
        auto each = [&](const auto& act) {
            act(stereo);
            act(left);
            act(right);
        };
        each([&](clsDSP& d) {
            d.setSamplerate(44100);
            d.setChannels(&d == &stereo ? 2 : 1);
            d.setEffectsUsed(effects);
        });
        Settings settings = Settings::draw(rng, effects % 5 == 0);
        each([&](clsDSP& d) { settings.apply(d); });
        for (int block = 0; block < 6; ++block) {
            if (block == 2) {
                const std::int32_t rate = pick(0, 1) != 0 ? 8000 : 48000;
                each([&](clsDSP& d) { d.setSamplerate(rate); });
            } else if (block == 4) {
                settings = Settings::draw(rng, false);
                each([&](clsDSP& d) { settings.apply(d); });
            }
            // Up to three stereo pieces of the chain's working size, odd lengths included.
            const auto input =
                noise(static_cast<std::size_t>(pick(1, 12500)),
                      static_cast<std::uint32_t>(effects * 10 + block), pick(1000, 32767));
            std::vector<std::int16_t> l, r;
            for (std::size_t i = 0; i < input.size(); ++i) {
                (i % 2 == 0 ? l : r).push_back(input[i]);
            }
            auto both = input;
            stereo.ProcessSamples(both);
            left.ProcessSamples(l);
            right.ProcessSamples(r);
            for (std::size_t i = 0; i < both.size(); ++i) {
                ASSERT_EQ(both[i], i % 2 == 0 ? l[i / 2] : r[i / 2])
                    << "effects " << effects << ", block " << block << ", index " << i;
            }
        }
    }
}
