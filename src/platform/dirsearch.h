// Directory search with the platform's wildcard rules: the pattern's last component
// is matched against every entry of its directory ("*" any run, "?" one character,
// letters without regard to case, "*.*" every name), files and subdirectories alike,
// "." and ".." included where the platform yields them.
#pragma once

#include <cstddef>

#include "platform/result.h"
#include "platform/side.h"

namespace qm::plat {

class DirSearch {
public:
    DirSearch() noexcept = default;
    DirSearch(const DirSearch&) = delete;
    DirSearch& operator=(const DirSearch&) = delete;

    // Starts the search (FindFirstFileA): ok when a first entry was found, otherwise the
    // search's failure (FileStep::Search; kENOENT when nothing matches).
    CallResult first(const char* pattern) noexcept;
    // Moves to the next entry (FindNextFileA); false when there is none.
    bool next() noexcept;
    // The current entry's full name, without its directory.
    const char* name() const noexcept { return name_; }
    bool is_dir() const noexcept { return is_dir_; }
    // Ends the search (FindClose) and returns its result: true on success. A search
    // that was never started or is already closed gives false.
    bool close() noexcept;

private:
    DirSearchState state_;  // the side's (platform/side.h)
    char name_[260] = {};
    bool is_dir_ = false;
};

}  // namespace qm::plat
