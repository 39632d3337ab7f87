#pragma once

#include <sys/resource.h>

// This process's own use of the machine, from getrusage, for the program benchmarks.
namespace processusage {

// Processor time used so far, user and system, in seconds.
inline double CpuSeconds() {
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
    };
    return seconds(use.ru_utime) + seconds(use.ru_stime);
}

// The largest resident size so far, in MB.
inline double PeakRssMb() {
    rusage use{};
    ::getrusage(RUSAGE_SELF, &use);
    return static_cast<double>(use.ru_maxrss) / 1024.0; // ru_maxrss is in KiB
}

} // namespace processusage
