// The Windows floors, the least each job needs through the Win32 calls:
//   floor_win32 expand PACKAGE TARGET   one read of the package, then CreateDirectoryA per
//                                       directory and CreateFileA, WriteFile, SetFileTime,
//                                       CloseHandle per file
//   floor_win32 copy SRC DST            every file of SRC: CopyFileA, then its times
//                                       carried over (GetFileTime, SetFileTime)
// Each prints "<seconds> <peak working set>", the time taken inside the process.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "floor_tar.h"
#include "win32_measure.h"

namespace {

FILETIME filetime_of(int64_t unix_seconds) {
    const unsigned long long v =
        static_cast<unsigned long long>(unix_seconds + 11644473600LL) * 10000000ull;
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFFu);
    f.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return f;
}

int expand(const char* package, const char* target) {
    bench::Stopwatch clock;
    HANDLE in = CreateFileA(package, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (in == INVALID_HANDLE_VALUE) return 1;
    const DWORD size = GetFileSize(in, nullptr);
    unsigned char* image = static_cast<unsigned char*>(std::malloc(size));
    DWORD got = 0;
    if (!image || !ReadFile(in, image, size, &got, nullptr) || got != size) return 1;
    CloseHandle(in);
    if (!SetCurrentDirectoryA(target)) return 1;

    int failures = 0;
    bench::walk(image, size, [&](const bench::Member& m) {
        const size_t len = std::strlen(m.name);
        if (m.type == '5' || (len > 0 && m.name[len - 1] == '/')) {
            if (!CreateDirectoryA(m.name, nullptr)) ++failures;
            return;
        }
        HANDLE h = CreateFileA(m.name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) {
            ++failures;
            return;
        }
        DWORD written = 0;
        if (m.size > 0 && (!WriteFile(h, m.data, static_cast<DWORD>(m.size), &written, nullptr) ||
                           written != static_cast<DWORD>(m.size)))
            ++failures;
        const FILETIME t = filetime_of(m.mtime);
        if (!SetFileTime(h, nullptr, &t, &t)) ++failures;
        CloseHandle(h);
    });
    const double seconds = clock.seconds();
    std::free(image);
    bench::report(seconds);
    if (failures) std::fprintf(stderr, "floor_win32: %d failures\n", failures);
    return failures ? 1 : 0;
}

int copy(const char* src_dir, const char* dst_dir) {
    bench::Stopwatch clock;
    char pattern[MAX_PATH];
    std::snprintf(pattern, sizeof pattern, "%s\\*.*", src_dir);
    WIN32_FIND_DATAA fd;
    HANDLE search = FindFirstFileA(pattern, &fd);
    if (search == INVALID_HANDLE_VALUE) return 1;
    int failures = 0;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        char from[MAX_PATH], to[MAX_PATH];
        std::snprintf(from, sizeof from, "%s\\%s", src_dir, fd.cFileName);
        std::snprintf(to, sizeof to, "%s\\%s", dst_dir, fd.cFileName);
        if (!CopyFileA(from, to, FALSE)) {
            ++failures;
            continue;
        }
        HANDLE a = CreateFileA(from, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        HANDLE b = CreateFileA(to, FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        FILETIME c, x, w;
        if (a == INVALID_HANDLE_VALUE || b == INVALID_HANDLE_VALUE || !GetFileTime(a, &c, &x, &w) ||
            !SetFileTime(b, &c, &x, &w))
            ++failures;
        if (a != INVALID_HANDLE_VALUE) CloseHandle(a);
        if (b != INVALID_HANDLE_VALUE) CloseHandle(b);
    } while (FindNextFileA(search, &fd));
    FindClose(search);
    bench::report(clock.seconds());
    if (failures) std::fprintf(stderr, "floor_win32: %d failures\n", failures);
    return failures ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "expand") == 0) return expand(argv[2], argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "copy") == 0) return copy(argv[2], argv[3]);
    std::fprintf(stderr, "usage: floor_win32 expand PACKAGE TARGET | copy SRC DST\n");
    return 2;
}
