// One spectrum of the display: 1024 windowed values loaded, transformed and 513 magnitudes
// read, and the transform alone as the object itself times it; beside it FFTW's double
// complex transform of the same size when FFTW is there.
#include "display/clsFourier.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#ifdef VOCARN_HAVE_FFTW3
#include <fftw3.h>
#endif

namespace {

constexpr std::int32_t kPoints = 1024;

std::vector<double> signal() {
    std::vector<double> v(kPoints);
    for (std::int32_t i = 0; i < kPoints; ++i) {
        v[static_cast<std::size_t>(i)] =
            20000.0 * std::sin(0.05 * i) + 3000.0 * std::sin(0.7 * i) + (i % 7) * 100.0;
    }
    return v;
}

void BM_FourierLoadTransformMagnitudes(benchmark::State& state) {
    const auto in = signal();
    clsFourier f;
    f.setNumberOfSamples(kPoints);
    f.setWithTimeWindow(1);
    double transformMs = 0.0;
    for (auto _ : state) {
        for (std::int32_t i = 1; i <= kPoints; ++i) {
            f.setRealIn(i, in[static_cast<std::size_t>(i - 1)]);
        }
        double sum = 0.0;
        for (std::int32_t i = 1; i <= kPoints / 2 + 1; ++i) {
            sum += f.ComplexOut(i);
        }
        benchmark::DoNotOptimize(sum);
        transformMs += f.Timing();
    }
    state.counters["transform_ns"] = transformMs * 1e6 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FourierLoadTransformMagnitudes);

// The transform alone: one value reloaded (which marks the input changed) and one bin read.
void BM_FourierTransform(benchmark::State& state) {
    const auto in = signal();
    clsFourier f;
    f.setNumberOfSamples(kPoints);
    for (std::int32_t i = 1; i <= kPoints; ++i) {
        f.setRealIn(i, in[static_cast<std::size_t>(i - 1)]);
    }
    for (auto _ : state) {
        f.setRealIn(1, in[0]);
        benchmark::DoNotOptimize(f.RealOut(2));
    }
}
BENCHMARK(BM_FourierTransform);

#ifdef VOCARN_HAVE_FFTW3
struct FftwPlan {
    fftw_complex* in = fftw_alloc_complex(kPoints);
    fftw_complex* out = fftw_alloc_complex(kPoints);
    fftw_plan plan = fftw_plan_dft_1d(kPoints, in, out, FFTW_FORWARD, FFTW_MEASURE);
    FftwPlan() = default;
    FftwPlan(const FftwPlan&) = delete;
    FftwPlan& operator=(const FftwPlan&) = delete;
    ~FftwPlan() {
        fftw_destroy_plan(plan);
        fftw_free(in);
        fftw_free(out);
    }
};

void BM_FftwTransform(benchmark::State& state) {
    FftwPlan p;
    const auto in = signal();
    for (std::int32_t i = 0; i < kPoints; ++i) {
        p.in[i][0] = in[static_cast<std::size_t>(i)];
        p.in[i][1] = 0.0;
    }
    for (auto _ : state) {
        fftw_execute(p.plan);
        benchmark::DoNotOptimize(p.out[1][0]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_FftwTransform);

void BM_FftwLoadTransformMagnitudes(benchmark::State& state) {
    FftwPlan p;
    const auto in = signal();
    std::vector<double> window(kPoints);
    for (std::int32_t i = 0; i < kPoints; ++i) {
        const double a = i * 2.0 * M_PI / (kPoints - 1);
        window[static_cast<std::size_t>(i)] = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2 * a);
    }
    for (auto _ : state) {
        for (std::int32_t i = 0; i < kPoints; ++i) {
            p.in[i][0] = window[static_cast<std::size_t>(i)] * in[static_cast<std::size_t>(i)];
            p.in[i][1] = 0.0;
        }
        fftw_execute(p.plan);
        double sum = 0.0;
        for (std::int32_t i = 0; i <= kPoints / 2; ++i) {
            sum += std::sqrt(p.out[i][0] * p.out[i][0] + p.out[i][1] * p.out[i][1]);
        }
        benchmark::DoNotOptimize(sum);
    }
}
BENCHMARK(BM_FftwLoadTransformMagnitudes);
#endif

} // namespace

BENCHMARK_MAIN();
