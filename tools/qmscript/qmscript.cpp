// qmscript: calls one export of quillmar.dll the way an install script does (the DLL
// loaded by name, the export resolved by name, called with its own convention), and
// prints the result. For demonstrations and for trying the DLL by hand under Wine.
//
//   qmscript EXPORT [ARG...]      text arguments as given; "#123" passes the number 123
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "boundary/exports_table.h"

namespace {

struct Signature {
    const char* name;
    int args;
    bool callee_cleans;
    bool returns_text;
};

#define QM_SCRIPT_SIGNATURE(ordinal, name, convention, subsystem, result, types, count, synopsis) \
    {#name, count, QM_CALLEE_CLEANS_##convention, std::is_same_v<result, const char*>},
#define QM_CALLEE_CLEANS_callee true
#define QM_CALLEE_CLEANS_caller false
const Signature kSignatures[] = {QM_EXPORT_TABLE(QM_SCRIPT_SIGNATURE)};

using Std0 = DWORD_PTR(WINAPI*)();
using Std1 = DWORD_PTR(WINAPI*)(DWORD_PTR);
using Std2 = DWORD_PTR(WINAPI*)(DWORD_PTR, DWORD_PTR);
using Std3 = DWORD_PTR(WINAPI*)(DWORD_PTR, DWORD_PTR, DWORD_PTR);
using C0 = DWORD_PTR(__cdecl*)();
using C1 = DWORD_PTR(__cdecl*)(DWORD_PTR);
using C2 = DWORD_PTR(__cdecl*)(DWORD_PTR, DWORD_PTR);
using C3 = DWORD_PTR(__cdecl*)(DWORD_PTR, DWORD_PTR, DWORD_PTR);

template <typename F>
F as(FARPROC p) {
    return reinterpret_cast<F>(reinterpret_cast<void*>(p));
}

DWORD_PTR call(FARPROC p, const Signature& s, const DWORD_PTR* a) {
    if (s.callee_cleans) {
        switch (s.args) {
            case 0: return as<Std0>(p)();
            case 1: return as<Std1>(p)(a[0]);
            case 2: return as<Std2>(p)(a[0], a[1]);
            default: return as<Std3>(p)(a[0], a[1], a[2]);
        }
    }
    switch (s.args) {
        case 0: return as<C0>(p)();
        case 1: return as<C1>(p)(a[0]);
        case 2: return as<C2>(p)(a[0], a[1]);
        default: return as<C3>(p)(a[0], a[1], a[2]);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qmscript EXPORT [ARG...]   (\"#N\" passes the number N)\n");
        return 2;
    }
    const Signature* sig = nullptr;
    for (const Signature& s : kSignatures)
        if (_stricmp(s.name, argv[1]) == 0) sig = &s;
    if (!sig) {
        std::fprintf(stderr, "qmscript: %s is not an export of %s\n", argv[1], QM_DLL_FILE);
        return 2;
    }
    if (argc - 2 != sig->args) {
        std::fprintf(stderr, "qmscript: %s takes %d arguments\n", sig->name, sig->args);
        return 2;
    }
    HMODULE dll = LoadLibraryA(QM_DLL_FILE);
    if (!dll) {
        std::fprintf(stderr, "qmscript: cannot load %s (error %lu)\n", QM_DLL_FILE, GetLastError());
        return 3;
    }
    FARPROC p = GetProcAddress(dll, sig->name);
    if (!p) {
        std::fprintf(stderr, "qmscript: %s does not export %s\n", QM_DLL_FILE, sig->name);
        return 3;
    }
    DWORD_PTR a[3] = {};
    for (int i = 0; i < sig->args; ++i)
        a[i] = argv[2 + i][0] == '#' ? static_cast<DWORD_PTR>(std::strtol(argv[2 + i] + 1, nullptr, 0))
                                     : reinterpret_cast<DWORD_PTR>(argv[2 + i]);
    const DWORD_PTR r = call(p, *sig, a);
    if (sig->returns_text) {
        const char* text = reinterpret_cast<const char*>(r);
        std::printf("%s() = %s%s%s\n", sig->name, text ? "\"" : "", text ? text : "NULL", text ? "\"" : "");
    } else {
        std::printf("%s() = %ld\n", sig->name, static_cast<long>(r));
    }
    return 0;
}
