// What the Windows bench programs report: the seconds a piece of work took, timed inside
// the process so that Wine's start-up is left out, and the process's peak working set.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstdio>

namespace bench {

class Stopwatch {
public:
    Stopwatch() {
        QueryPerformanceFrequency(&freq_);
        QueryPerformanceCounter(&start_);
    }
    double seconds() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start_.QuadPart) / static_cast<double>(freq_.QuadPart);
    }

private:
    LARGE_INTEGER freq_, start_;
};

// One line on stdout: "<seconds> <peak working set in bytes>".
inline void report(double seconds) {
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    unsigned long long peak = 0;
    if (GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) peak = pmc.PeakWorkingSetSize;
    std::printf("%.6f %llu\n", seconds, peak);
}

}  // namespace bench
