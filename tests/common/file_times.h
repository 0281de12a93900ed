// A file's three times in the Windows form (100-nanosecond units since 1601), set and
// read with the platform's own calls, so the tests do not check the library with
// itself. POSIX cannot set a creation time; there it reads as the birth time or 0.
#pragma once

#include <cstdint>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#endif

namespace qm::test {

struct FileTimes100ns {
    uint64_t creation = 0;
    uint64_t access = 0;
    uint64_t write = 0;
};

// 1 January 2020, 00:00:00 UTC.
constexpr uint64_t kTime2020 = 132223104000000000ull;

#ifdef _WIN32

inline FILETIME to_ft(uint64_t v) {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(v);
    f.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return f;
}

inline bool set_times(const std::filesystem::path& p, const FileTimes100ns& t) {
    HANDLE h = CreateFileW(p.wstring().c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const FILETIME c = to_ft(t.creation ? t.creation : t.write), a = to_ft(t.access), w = to_ft(t.write);
    const bool ok = SetFileTime(h, &c, &a, &w) != 0;
    CloseHandle(h);
    return ok;
}

inline FileTimes100ns get_times(const std::filesystem::path& p) {
    FileTimes100ns t;
    WIN32_FILE_ATTRIBUTE_DATA d;
    if (!GetFileAttributesExW(p.wstring().c_str(), GetFileExInfoStandard, &d)) return t;
    auto v = [](const FILETIME& f) { return (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime; };
    t.creation = v(d.ftCreationTime);
    t.access = v(d.ftLastAccessTime);
    t.write = v(d.ftLastWriteTime);
    return t;
}

#else

constexpr int64_t kEpochGap = 11644473600LL;

inline struct timespec to_ts(uint64_t v) {
    struct timespec ts;
    ts.tv_sec = static_cast<time_t>(static_cast<int64_t>(v / 10000000u) - kEpochGap);
    ts.tv_nsec = static_cast<long>(v % 10000000u) * 100;
    return ts;
}

inline uint64_t from_ts(const struct timespec& ts) {
    return static_cast<uint64_t>(ts.tv_sec + kEpochGap) * 10000000u + static_cast<uint64_t>(ts.tv_nsec) / 100u;
}

inline bool set_times(const std::filesystem::path& p, const FileTimes100ns& t) {
    const struct timespec ts[2] = {to_ts(t.access), to_ts(t.write)};
    return ::utimensat(AT_FDCWD, p.c_str(), ts, 0) == 0;
}

inline FileTimes100ns get_times(const std::filesystem::path& p) {
    FileTimes100ns t;
    struct stat st;
    if (::stat(p.c_str(), &st) != 0) return t;
    t.access = from_ts(st.st_atim);
    t.write = from_ts(st.st_mtim);
    return t;
}

#endif

// Sets all three times to the same value.
inline bool set_all_times(const std::filesystem::path& p, uint64_t t) {
    return set_times(p, FileTimes100ns{t, t, t});
}

}  // namespace qm::test
