// Times one export of the real quillmar.dll (or its twin) from inside the process, so that Wine's
// start-up and the loading of the DLL are left out:
//   bench_driver expand PACKAGE TARGET    ExpandPackage
//   bench_driver copy SRC DST PATTERN     MyCopyFiles
// Prints "<seconds> <peak working set>".
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "win32_measure.h"

namespace {

using ExpandFn = int(WINAPI*)(const char*, const char*);
using CopyFn = int(__cdecl*)(const char*, const char*, const char*);

template <typename F>
F export_of(HMODULE dll, const char* name) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(dll, name)));
}

}  // namespace

int main(int argc, char** argv) {
    const bool expand = argc == 4 && std::strcmp(argv[1], "expand") == 0;
    const bool copy = argc == 5 && std::strcmp(argv[1], "copy") == 0;
    if (!expand && !copy) {
        std::fprintf(stderr, "usage: bench_driver expand PACKAGE TARGET | copy SRC DST PATTERN\n");
        return 2;
    }
    HMODULE dll = LoadLibraryA(QM_DLL_FILE);
    if (!dll) {
        std::fprintf(stderr, "bench_driver: cannot load %s (error %lu)\n", QM_DLL_FILE, GetLastError());
        return 3;
    }
    if (expand) {
        ExpandFn fn = export_of<ExpandFn>(dll, "ExpandPackage");
        if (!fn) return 3;
        bench::Stopwatch clock;
        fn(argv[2], argv[3]);
        bench::report(clock.seconds());
    } else {
        CopyFn fn = export_of<CopyFn>(dll, "MyCopyFiles");
        if (!fn) return 3;
        bench::Stopwatch clock;
        const int found = fn(argv[2], argv[3], argv[4]);
        bench::report(clock.seconds());
        if (!found) return 1;
    }
    return 0;
}
