// What the POSIX side's handles are, and the state its objects keep between calls.
// Portable headers reach this file as "platform/side.h", which the build points at the
// side it compiles (as it picks that side's sources).
#pragma once

#include <dirent.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

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

// A directory a whole-file scope keeps open, relative to the current directory; the
// writes into it share it, each holding a reference while it is in use.
struct OpenDirectory {
    std::string path;
    unique_fd fd;
    // The mode a new file gets there (umask, default ACL), once the first one showed it;
    // -1 until then.
    std::atomic<int> new_mode{-1};
};

// A whole-file scope's side: the directories written into, open (a few, the most
// recently opened), and what the system was found to refuse, so it is not asked again.
struct WholeFileScopeState {
    static constexpr size_t kOpenDirectories = 64;
    std::mutex mutex;  // open, next and last
    std::shared_ptr<OpenDirectory> open[kOpenDirectories];
    size_t next = 0;
    size_t last = 0;  // the one found last
    std::atomic<bool> no_openat2{false};
    std::atomic<bool> no_direct_link{false};
};

// A whole-file write's descriptors: the file, and the directory its names are relative
// to, either the write's own or one its scope keeps open.
struct WholeFileHandles {
    unique_fd file;
    unique_fd own_dir;
    std::shared_ptr<OpenDirectory> shared_dir;
    int dir = -1;  // own_dir's or shared_dir's; -1: names as given
};

// A file opened to be removed: the directory its name is in (opened without a link on
// the way; none: the current one), the file, and its name there.
struct RemovableFileState {
    unique_fd dir;
    unique_fd file;
    char name[256] = {};
};

// A journal is held as a descriptor, locked.
struct JournalFileState {
    unique_fd file;
};

// A text read stops at a 0x1A, which the C runtime here does not do.
struct TextInState {
    bool eof = false;  // the end of the file, or a 0x1A
};

}  // namespace qm::plat
