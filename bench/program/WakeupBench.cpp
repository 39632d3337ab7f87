// What waking up costs on this machine: a loop that does nothing but sleep in poll() until
// the next 25 ms mark, as an event loop waits for a 25 ms timer. The processor time this
// takes is the least any program redrawing on that timer spends, before it draws anything.
//
//   wakeup_bench SECONDS     wake_cpu_per_s: processor seconds per second of running
//                            wake_us: processor microseconds per wake-up
#include "ProcessUsage.h"

#include <poll.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    const int seconds = argc == 2 ? std::atoi(argv[1]) : 0;
    if (seconds <= 0) {
        std::fprintf(stderr, "usage: wakeup_bench SECONDS\n");
        return 2;
    }
    using Clock = std::chrono::steady_clock;
    constexpr auto kPeriod = std::chrono::milliseconds(25);
    const auto start = Clock::now();
    const double cpu0 = processusage::CpuSeconds();
    auto next = start + kPeriod;
    long wakes = 0;
    for (; next <= start + std::chrono::seconds(seconds); next += kPeriod) {
        // Sleep until the mark, as a timer does, whatever a wake-up cost before it.
        for (auto now = Clock::now(); now < next; now = Clock::now()) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - now);
            ::poll(nullptr, 0, static_cast<int>(left.count()));
        }
        ++wakes;
    }
    const double cpu = processusage::CpuSeconds() - cpu0;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("wake_cpu_per_s=%.5f\nwake_us=%.1f\n", cpu / wall, 1e6 * cpu / wakes);
    return 0;
}
