// Loads the library from the file given, in a process where nothing else loaded it, and
// reports what a fresh load looks like and what the list dialog does when the module is
// not called "quillmar.dll". Usage: module_probe DLL DIRECTORY REPORT
// The report has one "key=value" line per observation.
#include <windows.h>

#include <cstdio>

namespace {

int g_dialogs = 0;
HHOOK g_hook = nullptr;

LRESULT CALLBACK cbt(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE) {
        ++g_dialogs;
        PostMessageA(reinterpret_cast<HWND>(wp), WM_COMMAND, IDCANCEL, 0);
    }
    return CallNextHookEx(g_hook, code, wp, lp);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    FILE* report = std::fopen(argv[3], "wb");
    if (!report) return 2;
    std::fprintf(report, "already_loaded=%d\n", GetModuleHandleA(QM_DLL_FILE) != nullptr);
    HMODULE m = LoadLibraryA(argv[1]);
    std::fprintf(report, "loaded=%d\n", m != nullptr);
    if (!m) return 1;
    std::fprintf(report, "found_by_name=%d\n", GetModuleHandleA(QM_DLL_FILE) != nullptr);

    using ListFn = const char*(__cdecl*)();
    using DisplayFn = int(__cdecl*)(HWND, const char*, int);
    auto first = reinterpret_cast<ListFn>(reinterpret_cast<void*>(GetProcAddress(m, "GetFirstFile")));
    auto next = reinterpret_cast<ListFn>(reinterpret_cast<void*>(GetProcAddress(m, "GetNextFile")));
    auto display = reinterpret_cast<DisplayFn>(reinterpret_cast<void*>(GetProcAddress(m, "DisplayPackageSelectionList")));
    if (!first || !next || !display) return 1;
    std::fprintf(report, "next_at_load=%s\n", next() ? "entry" : "null");
    std::fprintf(report, "first_at_load=%s\n", first() ? "entry" : "null");

    g_hook = SetWindowsHookExA(WH_CBT, cbt, nullptr, GetCurrentThreadId());
    const int r = display(nullptr, argv[2], 1);
    UnhookWindowsHookEx(g_hook);
    std::fprintf(report, "display=%d\ndialogs=%d\n", r, g_dialogs);
    std::fclose(report);
    return 0;
}
