#include <windows.h>

#include "platform/fileops.h"
#include "platform/fs.h"

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

namespace {

// Volume and index of an existing file or directory, whoever else holds it open.
bool identity(const char* path, BY_HANDLE_FILE_INFORMATION* out) noexcept {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = GetFileInformationByHandle(h, out) != 0;
    CloseHandle(h);
    return ok;
}

bool same_file(const char* a, const char* b) noexcept {
    BY_HANDLE_FILE_INFORMATION x, y;
    return identity(a, &x) && identity(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

bool same_size(const char* a, const char* b) noexcept {
    WIN32_FILE_ATTRIBUTE_DATA x, y;
    return GetFileAttributesExA(a, GetFileExInfoStandard, &x) && GetFileAttributesExA(b, GetFileExInfoStandard, &y) &&
           x.nFileSizeHigh == y.nFileSizeHigh && x.nFileSizeLow == y.nFileSizeLow;
}

void remove_temporary(const char* path) noexcept {
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);  // the copy takes the source's attributes
    DeleteFileA(path);
}

}  // namespace

bool copy_file_replace(const char* from, const char* to) noexcept {
    if (!from || !to) return false;
    // Onto a destination that is not there yet the copy is the same whether it may
    // replace or not, and needs no temporary: there is nothing to protect.
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        if (CopyFileA(from, to, TRUE)) return true;
        // The destination was not there before: whatever a failed copy left at its name
        // (a file cut short by a full disk) is ours to take away.
        if (GetLastError() != ERROR_FILE_EXISTS && GetFileAttributesA(from) != INVALID_FILE_ATTRIBUTES)
            DeleteFileA(to);
        return false;
    }
    // Windows refuses to replace a read-only file; Wine, run by a user whom the host's
    // permissions do not stop, replaces it. Said here so that both behave alike.
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) || same_file(from, to))
        return false;
    // CopyFileA writes into the destination itself: a disk that fills up half-way leaves
    // it cut short (under Wine even stamped with the source's time). The copy goes beside
    // it instead and takes its name only once whole.
    char tmp[MAX_PATH * 4];
    {
        OutFile holder;
        if (holder.create_temp_beside(to, tmp, sizeof tmp) != 0) return false;
        if (holder.close() != 0) {
            remove_temporary(tmp);
            return false;
        }
    }
    const bool ok = CopyFileA(from, tmp, FALSE) && same_size(from, tmp) && replace_file(tmp, to) == 0;
    if (!ok) remove_temporary(tmp);
    return ok;
}

bool move_file(const char* from, const char* to) noexcept {
    return from && to && MoveFileA(from, to) != 0;
}

int delete_file(const char* path) noexcept { return path ? DeleteFileA(path) : 0; }

}  // namespace qm::plat
