// What the Windows side's handles are, and the state its objects keep between calls.
// Portable headers reach this file as "platform/side.h", which the build points at the
// side it compiles (as it picks that side's sources). It does not include <windows.h>:
// a HANDLE is a void*, and side.cpp checks that the two agree.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "platform/unique_handle.h"

namespace qm::plat {

using Handle = void*;  // HANDLE
bool close_handle(Handle h) noexcept;  // CloseHandle
bool close_find(Handle h) noexcept;    // FindClose
inline Handle no_handle() noexcept { return reinterpret_cast<Handle>(static_cast<intptr_t>(-1)); }  // INVALID_HANDLE_VALUE
using unique_handle = unique_any<Handle, close_handle, no_handle>;
using unique_find = unique_any<Handle, close_find, no_handle>;

// Threads and semaphores answer NULL, not INVALID_HANDLE_VALUE, when there is none.
constexpr Handle null_handle() noexcept { return nullptr; }
using unique_sync = unique_any<Handle, close_handle, null_handle>;

struct ThreadState {
    unique_sync thread;
};
// The count is kept in the process; the system's semaphore is touched only when a thread
// must sleep or be woken (under Wine each touch is a request to its server). count < 0:
// that many threads wait.
struct SemaphoreState {
    std::atomic<long> count{0};
    unique_sync semaphore;
};

// An open file is a HANDLE here.
using unique_file = unique_handle;

// A directory search is the system's own (FindFirstFileA): it matches the pattern.
struct DirSearchState {
    unique_find find;
};

// A whole-file write's file (the temporary it stages in): its handle, owned by the runtime's descriptor made over it
// (the runtime's calls take the descriptor, the system's the handle) or, until that
// descriptor exists, by itself.
struct WholeFileHandles {
    unique_handle own;
    unique_fd file;
    Handle handle = no_handle();
};

// A whole-file scope's side: the temporaries its replacements have handed to the system
// to be put in place (by a hash of the path). No handle of theirs is open then, so they
// would pass for what an ended run left: no other write of the scope removes one.
struct WholeFileScopeState {
    std::mutex mutex;
    std::unordered_set<uint64_t> handed_over;
};

// A file opened to be removed is one handle, with the right to delete it.
struct RemovableFileState {
    unique_handle file;
};

// A journal is held open without sharing.
struct JournalFileState {
    unique_handle file;
};

// What a whole-file write knows of its file between its steps.
struct WholeFileState {
    bool flushed = false;     // FlushFileBuffers done, nothing written since
    bool attributed = false;  // carries end attributes a replacement must shed first
};

// The C runtime here ends a text read at a 0x1A itself.
struct TextInState {};

}  // namespace qm::plat
