#include "win32/harness.h"

#include <cstdlib>

namespace qm::wintest {

namespace {
DialogWatcher* g_watcher = nullptr;
}

std::string dll_path() {
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, buf, sizeof buf);
    std::string p(buf, n);
    p = p.substr(0, p.find_last_of("\\/") + 1);
    return p + QM_DLL_FILE;
}

HMODULE dll() {
    // By its plain name, as an install script does; it is found beside the test program.
    static HMODULE h = LoadLibraryA(QM_DLL_FILE);
    return h;
}

FARPROC by_name(const char* name) { return GetProcAddress(dll(), name); }

FARPROC by_ordinal(int ordinal) {
    return GetProcAddress(dll(), reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(ordinal)));
}

const Exports& exports() {
    static const Exports all = [] {
        Exports e;
#define QM_TEST_RESOLVE(ordinal, name, ...) e.name = get<decltype(e.name)>(#name, ordinal);
        QM_EXPORT_TABLE(QM_TEST_RESOLVE)
#undef QM_TEST_RESOLVE
        return e;
    }();
    return all;
}

extern "C" int qm_call_measure(void* fn, int n, const Word* args, Word* ret);
#if defined(__x86_64__)
// Microsoft x64: the first four arguments in rcx, rdx, r8, r9, with 32 bytes of shadow
// space above the return address that the caller reserves and removes.
asm(".text\n"
    ".globl qm_call_measure\n"
    "qm_call_measure:\n"
    "  pushq %rbp\n"
    "  movq %rsp, %rbp\n"
    "  pushq %rsi\n"
    "  pushq %rdi\n"
    "  pushq %rbx\n"
    "  pushq %r12\n"              // rsp is 16-byte aligned again here
    "  movq %rcx, %rbx\n"         // fn
    "  movl %edx, %edi\n"         // n (at most 4)
    "  movq %r8, %rsi\n"          // args
    "  movq %r9, %r12\n"          // ret
    "  xorl %ecx, %ecx\n"
    "  xorl %edx, %edx\n"
    "  xorl %r8d, %r8d\n"
    "  xorl %r9d, %r9d\n"
    "  testl %edi, %edi\n"
    "  jz 2f\n"
    "  movq (%rsi), %rcx\n"
    "  cmpl $1, %edi\n"
    "  je 2f\n"
    "  movq 8(%rsi), %rdx\n"
    "  cmpl $2, %edi\n"
    "  je 2f\n"
    "  movq 16(%rsi), %r8\n"
    "  cmpl $3, %edi\n"
    "  je 2f\n"
    "  movq 24(%rsi), %r9\n"
    "2:\n"
    "  subq $32, %rsp\n"
    "  movq %rsp, %rsi\n"         // the stack before the call
    "  call *%rbx\n"
    "  movq %rax, (%r12)\n"
    "  movq %rsp, %rax\n"
    "  subq %rsi, %rax\n"         // what the callee removed: 0 when it kept the convention
    "  leaq -32(%rbp), %rsp\n"
    "  popq %r12\n"
    "  popq %rbx\n"
    "  popq %rdi\n"
    "  popq %rsi\n"
    "  popq %rbp\n"
    "  ret\n");
#else
asm(".text\n"
    ".globl _qm_call_measure\n"
    "_qm_call_measure:\n"
    "  pushl %ebp\n"
    "  movl %esp, %ebp\n"
    "  pushl %esi\n"
    "  pushl %edi\n"
    "  pushl %ebx\n"
    "  movl %esp, %esi\n"          // the stack before any argument
    "  movl 12(%ebp), %ecx\n"
    "  movl 16(%ebp), %edx\n"
    "1:\n"
    "  testl %ecx, %ecx\n"
    "  jz 2f\n"
    "  decl %ecx\n"
    "  pushl (%edx,%ecx,4)\n"
    "  jmp 1b\n"
    "2:\n"
    "  call *8(%ebp)\n"
    "  movl %esp, %edi\n"          // the stack as the callee left it
    "  movl 20(%ebp), %ecx\n"
    "  movl %eax, (%ecx)\n"
    "  movl %edi, %eax\n"
    "  subl %esi, %eax\n"          // after - before = -4n + removed
    "  movl 12(%ebp), %ecx\n"
    "  leal (%eax,%ecx,4), %eax\n"  // removed
    "  movl %esi, %esp\n"
    "  popl %ebx\n"
    "  popl %edi\n"
    "  popl %esi\n"
    "  popl %ebp\n"
    "  ret\n");
#endif

int bytes_removed_by_callee(FARPROC fn, const std::vector<Word>& args, Word* result) {
    Word r = 0;
    int removed = qm_call_measure(reinterpret_cast<void*>(fn), static_cast<int>(args.size()),
                                  args.data(), &r);
    if (result) *result = r;
    return removed;
}

std::string window_text(HWND w) {
    char buf[1024];
    int n = GetWindowTextA(w, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string class_name(HWND w) {
    char buf[256];
    int n = GetClassNameA(w, buf, sizeof buf);
    return std::string(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string message_box_text(HWND box) {
    char buf[1024];
    UINT n = GetDlgItemTextA(box, 0xFFFF, buf, sizeof buf);
    if (n > 0) return std::string(buf, n);
    // Fallback: the longest static text in the box.
    std::string best;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        if (_stricmp(class_name(c).c_str(), "Static") == 0) {
            std::string t = window_text(c);
            if (t.size() > best.size()) best = t;
        }
    }
    return best;
}

DialogWatcher::DialogWatcher(Handler handler, UINT timeout_ms) : handler_(std::move(handler)) {
    g_watcher = this;
    hook_ = SetWindowsHookExA(WH_CBT, cbt_proc, nullptr, GetCurrentThreadId());
    timer_ = SetTimer(nullptr, 0, timeout_ms, timer_proc);
}

DialogWatcher::~DialogWatcher() {
    if (timer_) KillTimer(nullptr, timer_);
    if (hook_) UnhookWindowsHookEx(hook_);
    g_watcher = nullptr;
}

void DialogWatcher::press(HWND dlg, int id) {
    PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
}

LRESULT CALLBACK DialogWatcher::cbt_proc(int code, WPARAM wp, LPARAM lp) {
    DialogWatcher* w = g_watcher;
    if (code == HCBT_ACTIVATE && w) {
        HWND h = reinterpret_cast<HWND>(wp);
        bool known = false;
        for (HWND s : w->seen_) known = known || s == h;
        if (!known && class_name(h) == "#32770") {
            w->seen_.push_back(h);
            Shown s{window_text(h), message_box_text(h), class_name(h)};
            w->shown_.push_back(s);
            if (w->handler_)
                w->handler_(h, s);
            else
                press(h, IDOK);
        }
    }
    return CallNextHookEx(w ? w->hook_ : nullptr, code, wp, lp);
}

void CALLBACK DialogWatcher::timer_proc(HWND, UINT, UINT_PTR, DWORD) {
    DialogWatcher* w = g_watcher;
    if (!w) return;
    w->timed_out_ = true;
    // Close whatever modal window is still up, so the test can fail instead of hang.
    for (HWND h : w->seen_) {
        if (IsWindow(h)) {
            PostMessageA(h, WM_COMMAND, IDCANCEL, 0);
            PostMessageA(h, WM_CLOSE, 0, 0);
        }
    }
    HWND fg = GetForegroundWindow();
    if (fg && class_name(fg) == "#32770") PostMessageA(fg, WM_COMMAND, IDCANCEL, 0);
}

}  // namespace qm::wintest
