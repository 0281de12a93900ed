// What the POSIX side's handles are, and the state its objects keep between calls.
// Portable headers reach this file as "platform/side.h", which the build points at the
// side it compiles (as it picks that side's sources).
#pragma once

#include <dirent.h>

#include "platform/unique_handle.h"

namespace qm::plat {

bool close_dir(DIR* d) noexcept;
constexpr DIR* no_dir() noexcept { return nullptr; }
using unique_dir = unique_any<DIR*, close_dir, no_dir>;

// An open file is a descriptor here.
using unique_file = unique_fd;

// A directory search reads the directory entry by entry and matches the pattern itself.
struct DirSearchState {
    unique_dir dir;
    char dir_path[4096] = {};  // the directory searched
    char pattern[260] = {};    // the pattern for its entries
};

// A text read stops at a 0x1A, which the C runtime here does not do.
struct TextInState {
    bool eof = false;  // the end of the file, or a 0x1A
};

}  // namespace qm::plat
