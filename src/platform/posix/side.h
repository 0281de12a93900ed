// What the POSIX side's handles are, and the state its objects keep between calls.
// Portable headers reach this file as "platform/side.h", which the build points at the
// side it compiles (as it picks that side's sources).
#pragma once

#include <dirent.h>
#include <pthread.h>
#include <semaphore.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

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
    // The mode a new file gets there (umask, default ACL), and its owner and group, once
    // the first one showed them; the mode -1 until then (set last).
    std::atomic<int> new_mode{-1};
    std::atomic<uid_t> new_uid{0};
    std::atomic<gid_t> new_gid{0};
    // On the file system a batched scope syncs (known when it is opened).
    bool on_flush_device = false;
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
    // Whom the writes are made as: asked once, not for every file made writable.
    const uid_t euid = ::geteuid();

    // A batched scope's durability: the file system of the first directory opened is
    // synced once for every file staged there before the sync began. A file records the
    // syncs begun when it was last changed (its ticket); a sync numbered above it covers
    // it. One sync at a time; the stages only read the counters.
    std::mutex flush_mutex;                   // the syncs, and the choice of flush_fd
    unique_fd flush_fd;                       // a directory there, opened before any file in it
    std::atomic<dev_t> flush_dev{0};
    std::atomic<bool> flush_device_known{false};
    std::atomic<uint64_t> flushes_begun{0};
    std::atomic<uint64_t> flushes_done{0};
    std::atomic<bool> flush_failed{false};    // from then on each replacement flushes itself
    // The file system held in memory (tmpfs, ramfs): nothing to write back, so neither
    // a file's write-back nor a sync is asked for (set with flush_dev).
    std::atomic<bool> flush_in_memory{false};
    std::atomic<bool> named_since_flush{false};
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

// What a whole-file write knows of its file between its steps.
struct WholeFileState {
    // The file as it stands, once known: owner, group and permission bits.
    bool known = false;
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t mode = 0;
    // What the last look found at the name, for the settle that follows it; and whether
    // the file there refuses a change of mode whoever asks (immutable, append-only).
    bool looked = false;
    struct stat at_name {};
    bool fixed_mode = false;
    // Staged on the file system its batched scope syncs: its data is on disk once a sync
    // numbered above ticket is done.
    bool batched = false;
    bool ticketed = false;
    uint64_t ticket = 0;
};

// A text read stops at a 0x1A, which the C runtime here does not do.
struct TextInState {
    bool eof = false;  // the end of the file, or a 0x1A
};

}  // namespace qm::plat
