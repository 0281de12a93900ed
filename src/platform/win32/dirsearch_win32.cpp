#include <windows.h>

#include <cstdio>

#include "platform/dirsearch.h"

namespace qm::plat {

namespace {
HANDLE as_handle(void* p) noexcept { return static_cast<HANDLE>(p); }

void copy_entry(const WIN32_FIND_DATAA& d, char* name, size_t size, bool* is_dir) noexcept {
    std::snprintf(name, size, "%s", d.cFileName);
    *is_dir = (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
}  // namespace

bool DirSearch::Traits::close(void* p) noexcept { return FindClose(as_handle(p)) != 0; }

bool DirSearch::first(const char* pattern) noexcept {
    handle_.reset();
    WIN32_FIND_DATAA d;
    HANDLE h = FindFirstFileA(pattern, &d);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_.reset(h);
    copy_entry(d, name_, sizeof name_, &is_dir_);
    return true;
}

bool DirSearch::next() noexcept {
    if (!handle_) return false;
    WIN32_FIND_DATAA d;
    if (!FindNextFileA(as_handle(handle_.get()), &d)) return false;
    copy_entry(d, name_, sizeof name_, &is_dir_);
    return true;
}

}  // namespace qm::plat
