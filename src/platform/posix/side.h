// What the POSIX side's handles are, and the state its objects keep between calls.
// Portable headers reach this file as "platform/side.h", which the build points at the
// side it compiles (as it picks that side's sources).
#pragma once

#include <dirent.h>
#include <pthread.h>
#include <semaphore.h>

#include "platform/unique_handle.h"

namespace qm::plat {

bool close_dir(DIR* d) noexcept;
constexpr DIR* no_dir() noexcept { return nullptr; }
using unique_dir = unique_any<DIR*, close_dir, no_dir>;

// An open file is a descriptor here.
using unique_file = unique_fd;

// A thread of the library's own, and a semaphore.
struct ThreadState {
    pthread_t id{};
    bool started = false;
};
struct SemaphoreState {
    sem_t sem;
    bool ok = false;
};

// A directory search reads the directory entry by entry and matches the pattern itself.
struct DirSearchState {
    unique_dir dir;
    char dir_path[4096] = {};  // the directory searched
    char pattern[260] = {};    // the pattern for its entries
};

// A whole-file write's descriptors: the file, and the directory its names are relative
// to, either the write's own or borrowed from the scope that keeps it open.
struct WholeFileHandles {
    unique_fd file;
    unique_fd own_dir;
    int dir = -1;  // own_dir's or the scope's; -1: names as given
};

// A text read stops at a 0x1A, which the C runtime here does not do.
struct TextInState {
    bool eof = false;  // the end of the file, or a 0x1A
};

}  // namespace qm::plat
