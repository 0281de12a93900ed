// What the Windows tests share: quillmar.dll loaded the way an install script loads it,
// its exports resolved by name and by ordinal into typed pointers, a probe that tells
// who removed the arguments from the stack, and a capture of the boxes and dialogs the
// library shows, driven from a WH_CBT hook with a fallback timer so nothing can hang.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "boundary/exports_table.h"
#include "quillmar.h"

namespace qm::wintest {

// A user's own file carrying what the library's writes never leave at a name (the
// attributes an older build marked its unfinished files with, or nothing but the
// read-only attribute on an empty file never written since its creation): it is the
// user's, and is never taken for a leftover of ours.
struct UsersFile {
    const char* what;
    DWORD attributes;
    const char* content;
};
inline constexpr UsersFile kUsersFiles[] = {
    {"ReadOnlyHiddenSystem", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, "theirs"},
    {"EmptyReadOnly", FILE_ATTRIBUTE_READONLY, ""},
};
// One at p, its three times t (100-ns units since 1601): created and written at once.
inline bool place_users_file(const std::filesystem::path& p, const UsersFile& f, uint64_t t) {
    std::filesystem::create_directories(p.parent_path());
    const HANDLE h = CreateFileA(p.string().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, f.attributes, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    DWORD n = 0;
    const DWORD size = static_cast<DWORD>(std::char_traits<char>::length(f.content));
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    const bool ok = WriteFile(h, f.content, size, &n, nullptr) && n == size && SetFileTime(h, &ft, &ft, &ft);
    CloseHandle(h);
    return ok && (GetFileAttributesA(p.string().c_str()) & 7) == f.attributes;
}

// A wait for another process, stretched where Wine's programs run through an emulator
// (QM_WINE_SCALE, set by the build).
inline DWORD scaled_ms(DWORD ms) {
    static const DWORD scale = [] {
        const char* v = std::getenv("QM_WINE_SCALE");
        const int n = v ? std::atoi(v) : 1;
        return n > 0 ? static_cast<DWORD>(n) : 1u;
    }();
    return ms * scale;
}

// The DLL, loaded once per test program from the directory the tests run in.
HMODULE dll();
std::string dll_path();

FARPROC by_name(const char* name);
FARPROC by_ordinal(int ordinal);

// Resolves name, checks that its ordinal resolves to the same address, and returns it
// as the typed pointer F.
template <typename F>
F get(const char* name, int ordinal) {
    FARPROC a = by_name(name);
    FARPROC b = by_ordinal(ordinal);
    if (!a || a != b) return nullptr;
    return reinterpret_cast<F>(reinterpret_cast<void*>(a));
}

// Every export, typed as include/quillmar.h declares it, resolved once by name with its
// ordinal checked as get() does (null when either fails).
struct Exports {
#define QM_TEST_POINTER(ordinal, name, ...) decltype(&::name) name = nullptr;
    QM_EXPORT_TABLE(QM_TEST_POINTER)
#undef QM_TEST_POINTER
};
const Exports& exports();

// An argument or a result as it travels: 32 bits in quillmar.dll, 64 in its x64 twin.
using Word = uintptr_t;
// Calls fn with the arguments and reports how many bytes of arguments the callee
// removed from the stack: on x86 4 per argument for the callee-cleans convention, 0 for
// caller-cleans; on x64, where there is one convention, always 0 (the arguments go in
// registers above the shadow space the caller owns). result gets the whole register.
int bytes_removed_by_callee(FARPROC fn, const std::vector<Word>& args, Word* result);
constexpr bool kX64 = sizeof(void*) == 8;

// One window the library showed: its caption, its text (for a message box), and what
// the hook did with it.
struct Shown {
    std::string caption;
    std::string text;
    std::string window_class;
};

// Installs a WH_CBT hook on this thread for the life of the object. Every top-level
// dialog that becomes active is recorded and handed to the handler (default: close it
// with IDOK). A timer closes anything still open after timeout_ms, and records that.
class DialogWatcher {
public:
    using Handler = std::function<void(HWND, const Shown&)>;
    explicit DialogWatcher(Handler handler = nullptr, UINT timeout_ms = 15000);
    ~DialogWatcher();
    DialogWatcher(const DialogWatcher&) = delete;
    DialogWatcher& operator=(const DialogWatcher&) = delete;

    const std::vector<Shown>& shown() const { return shown_; }
    bool timed_out() const { return timed_out_; }

    // Helpers for handlers.
    static void press(HWND dlg, int id);  // posts a button click (WM_COMMAND id)

private:
    static LRESULT CALLBACK cbt_proc(int code, WPARAM wp, LPARAM lp);
    static void CALLBACK timer_proc(HWND, UINT, UINT_PTR, DWORD);
    HHOOK hook_ = nullptr;
    UINT_PTR timer_ = 0;
    Handler handler_;
    std::vector<Shown> shown_;
    bool timed_out_ = false;
    std::vector<HWND> seen_;
};

std::string window_text(HWND w);
std::string class_name(HWND w);

// The text of a message box (the static control that carries it).
std::string message_box_text(HWND box);

}  // namespace qm::wintest
