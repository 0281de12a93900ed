// The Windows file-time form (100-nanosecond units since 1601) and POSIX timespecs.
#pragma once

#include <time.h>

#include <cstdint>

namespace qm::plat {

// Seconds from 1 January 1601 to 1 January 1970.
constexpr int64_t kEpochGap = 11644473600LL;
constexpr uint64_t kUnitsPerSecond = 10000000u;

inline uint64_t to_filetime(int64_t sec, long nsec) noexcept {
    if (sec < -kEpochGap) return 0;
    return static_cast<uint64_t>(sec + kEpochGap) * kUnitsPerSecond + static_cast<uint64_t>(nsec) / 100u;
}

inline struct timespec from_filetime(uint64_t t) noexcept {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(t / kUnitsPerSecond) - kEpochGap);
    ts.tv_nsec = static_cast<long>(t % kUnitsPerSecond) * 100;
    return ts;
}

}  // namespace qm::plat
