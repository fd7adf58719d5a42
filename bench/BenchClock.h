#pragma once
// Timing helpers shared by the window benchmarks: wall time since a moment, processor time of a
// clock (the process's or the calling thread's), the median of runs, and the CPU model that
// every printed figure goes with, and the process's memory (now and at its peak).
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

using Clock = std::chrono::steady_clock;

inline double Ms(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Processor time of CLOCK_PROCESS_CPUTIME_ID or CLOCK_THREAD_CPUTIME_ID, in milliseconds.
inline double CpuMs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline std::string CpuModel() {
    std::ifstream in("/proc/cpuinfo");
    for (std::string line; std::getline(in, line);)
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown";
}

// A field of /proc/self/status in KiB ("VmHWM:", "VmRSS:").
inline long StatusKiB(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field));
    return 0;
}

inline long PeakRssKiB() {
    return StatusKiB("VmHWM:");
}

// Starts the process's peak memory afresh from what it holds now.
inline void ResetPeakRss() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

}  // namespace bench
