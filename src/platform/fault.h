// Fault injection for tests: lets a test make a chosen platform operation fail with a
// chosen error number, so that failure paths (a full disk, a refused rename, a failed
// allocation, a flush the disk refuses) can be driven without a real broken disk.
//
// Only the core the tests link has it (QM_FAULT_INJECTION=1, src/platform/fault.cpp):
// in the library and the tool the checks below are inline no-ops, so neither carries
// the injection's state or a way to arm it. A file that includes this header is compiled
// for both (QM_FAULT_SEAM_SOURCES in CMakeLists.txt); any other is refused here.
#pragma once

#ifndef QM_FAULT_INJECTION
#error "platform/fault.h: add this source to QM_FAULT_SEAM_SOURCES in CMakeLists.txt"
#endif

namespace qm::plat::fault {

// Journal: each write of an expansion's journal (its creation, each change of its state,
// its removal); Remove: a file of the library's own let go (a backup, a staged file);
// Flush: a file's content, or a batch of files, made durable before a rename exposes it.
enum class Op { Write, Create, Rename, SetTime, Journal, Remove, Alloc, Read, Flush, Count_ };

#if QM_FAULT_INJECTION

// The call of kind op after `pass` more successful ones fails with `error`; it stays
// failing for `times` calls (-1: until disarmed).
void arm(Op op, int pass, int error, int times = 1) noexcept;
void disarm_all() noexcept;

// 0 when the operation may go ahead, otherwise the error number it must fail with.
// Disarmed, it costs one load.
int check(Op op) noexcept;
// The operation check() let go ahead failed on its own: it does not count as one of the
// successful ones that `pass` waits for.
void refund(Op op) noexcept;

// A test's look at the moment an operation is about to happen (for instance to see
// what a half-written file looks like to others, or to end the process there): called
// before every operation of every kind while set. Null removes it.
using Hook = void (*)(Op op, void* context);
void set_hook(Hook hook, void* context) noexcept;

// What another process might do just before make_dir makes a directory: action is
// called with the path first (null: nothing). For races that a test cannot time.
using BeforeMakeDir = void (*)(const char* path);
void before_make_dir(BeforeMakeDir action) noexcept;
void run_before_make_dir(const char* path) noexcept;

#else

// Inlined even where nothing else is (a debug build, a sanitizer's, whose check of
// indirect calls would keep a copy of each function it sees): no out-of-line copy, and so
// no fault symbol, is in what ships.
#if defined(__clang__)
#define QM_FAULT_NO_OP [[gnu::always_inline, clang::no_sanitize("function")]] inline
#else
#define QM_FAULT_NO_OP [[gnu::always_inline]] inline
#endif
QM_FAULT_NO_OP int check(Op) noexcept { return 0; }
QM_FAULT_NO_OP void refund(Op) noexcept {}
QM_FAULT_NO_OP void run_before_make_dir(const char*) noexcept {}
#undef QM_FAULT_NO_OP

#endif

}  // namespace qm::plat::fault
