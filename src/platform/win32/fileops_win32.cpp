#include <windows.h>

#include "platform/fileops.h"

namespace qm::plat {

namespace {

HANDLE as_handle(intptr_t h) noexcept { return reinterpret_cast<HANDLE>(h); }

uint64_t from_filetime(const FILETIME& f) noexcept {
    return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
}

FILETIME to_filetime(uint64_t v) noexcept {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFFu);
    f.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return f;
}

}  // namespace

int compare_file_time(uint64_t a, uint64_t b) noexcept {
    const FILETIME fa = to_filetime(a), fb = to_filetime(b);
    return static_cast<int>(CompareFileTime(&fa, &fb));
}

bool ExclusiveFile::Traits::close(intptr_t h) noexcept { return CloseHandle(as_handle(h)) != 0; }

bool ExclusiveFile::open(const char* path, Access access) noexcept {
    handle_.reset();
    if (!path) return false;
    // Setting times needs no more than the right to write attributes, so a read-only
    // file's times can be set too.
    const DWORD rights = access == Access::Read ? GENERIC_READ : FILE_WRITE_ATTRIBUTES;
    HANDLE h = CreateFileA(path, rights, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    handle_.reset(reinterpret_cast<intptr_t>(h));
    return true;
}

bool ExclusiveFile::get_times(FileTimes* out) const noexcept {
    FILETIME c, a, w;
    if (!handle_ || !GetFileTime(as_handle(handle_.get()), &c, &a, &w)) return false;
    out->creation = from_filetime(c);
    out->access = from_filetime(a);
    out->write = from_filetime(w);
    return true;
}

bool ExclusiveFile::set_times(const FileTimes& t) noexcept {
    const FILETIME c = to_filetime(t.creation), a = to_filetime(t.access), w = to_filetime(t.write);
    return handle_ && SetFileTime(as_handle(handle_.get()), &c, &a, &w) != 0;
}

bool copy_file_replace(const char* from, const char* to) noexcept {
    if (!from || !to) return false;
    // Onto a destination that is not there yet the copy is the same whether it may
    // replace or not, and the attribute check below has nothing to find: one look-up
    // of the destination saved. Any failure takes the full way.
    if (CopyFileA(from, to, TRUE)) return true;
    // Windows refuses to replace a read-only file; Wine, run by a user whom the host's
    // permissions do not stop, replaces it. Said here so that both behave alike.
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) return false;
    return CopyFileA(from, to, FALSE) != 0;
}

bool move_file(const char* from, const char* to) noexcept {
    return from && to && MoveFileA(from, to) != 0;
}

int delete_file(const char* path) noexcept { return path ? DeleteFileA(path) : 0; }

}  // namespace qm::plat
