#include <windows.h>

#include <cstdio>

#include "platform/dirsearch.h"
#include "platform/win32/errmap.h"

namespace qm::plat {

namespace {
void copy_entry(const WIN32_FIND_DATAA& d, char* name, size_t size, bool* is_dir) noexcept {
    std::snprintf(name, size, "%s", d.cFileName);
    *is_dir = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
}  // namespace

CallResult DirSearch::first(const char* pattern) noexcept {
    state_.find.reset();
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) return failed_now(FileStep::Search);
    state_.find.reset(h);
    copy_entry(d, name_, sizeof name_, &is_dir_);
    return {};
}

bool DirSearch::next() noexcept {
    if (!state_.find) return false;
    WIN32_FIND_DATAA d;
    if (!FindNextFileA(state_.find.get(), &d)) return false;
    copy_entry(d, name_, sizeof name_, &is_dir_);
    return true;
}

bool DirSearch::close() noexcept { return state_.find && state_.find.reset(); }

}  // namespace qm::plat
