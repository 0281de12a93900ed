// Opens one of the library's dialogs and keeps it up until told to close it, so that a
// script can take its picture. Usage:
//   show_dialogs list|uninstall|open DIRECTORY READY_FILE CLOSE_FILE
// Once the dialog is on screen, READY_FILE receives its rectangle ("x y width height");
// the dialog is cancelled when CLOSE_FILE appears (or after a minute).
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

const char* g_ready = nullptr;
const char* g_close = nullptr;
HHOOK g_hook = nullptr;
HWND g_dialog = nullptr;
int g_ticks = 0;

void CALLBACK poll(HWND dlg, UINT, UINT_PTR id, DWORD) {
    if (GetFileAttributesA(g_close) != INVALID_FILE_ATTRIBUTES || ++g_ticks > 600) {
        KillTimer(dlg, id);
        PostMessageA(dlg, WM_COMMAND, IDCANCEL, 0);
    }
}

void CALLBACK shown(HWND dlg, UINT, UINT_PTR id, DWORD) {
    KillTimer(dlg, id);
    RECT r;
    GetWindowRect(dlg, &r);
    char tmp[MAX_PATH];
    std::snprintf(tmp, sizeof tmp, "%s.tmp", g_ready);
    if (FILE* f = std::fopen(tmp, "w")) {
        std::fprintf(f, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
        std::fclose(f);
        MoveFileA(tmp, g_ready);
    }
    SetTimer(dlg, 2, 100, poll);
}

LRESULT CALLBACK cbt(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE && !g_dialog) {
        g_dialog = reinterpret_cast<HWND>(wp);
        SetTimer(g_dialog, 1, 700, shown);  // painted and settled
    }
    return CallNextHookEx(g_hook, code, wp, lp);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: show_dialogs list|uninstall|open DIRECTORY READY_FILE CLOSE_FILE\n");
        return 2;
    }
    g_ready = argv[3];
    g_close = argv[4];
    HMODULE m = LoadLibraryA(QM_DLL_FILE);
    if (!m) return 1;
    g_hook = SetWindowsHookExA(WH_CBT, cbt, nullptr, GetCurrentThreadId());
    int r = -1;
    if (!std::strcmp(argv[1], "open")) {
        using PackageFileFn = int(WINAPI*)(HWND);
        auto f = reinterpret_cast<PackageFileFn>(reinterpret_cast<void*>(GetProcAddress(m, "GetPackageFile")));
        SetCurrentDirectoryA(argv[2]);
        if (f) r = f(nullptr);
    } else {
        using DisplayFn = int(__cdecl*)(HWND, const char*, int);
        auto f = reinterpret_cast<DisplayFn>(reinterpret_cast<void*>(GetProcAddress(m, "DisplayPackageSelectionList")));
        if (f) r = f(nullptr, argv[2], std::strcmp(argv[1], "uninstall") != 0);
    }
    UnhookWindowsHookEx(g_hook);
    return g_dialog ? 0 : (r == -1 ? 1 : 3);
}
