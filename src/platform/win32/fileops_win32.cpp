#include <windows.h>

#include "platform/fileops.h"
#include "platform/fs.h"
#include "platform/whole_file.h"

namespace qm::plat {

namespace {

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

bool ExclusiveFile::open(const char* path, Access access) noexcept {
    file_.reset();
    if (!path) return false;
    // Setting times needs no more than the right to write attributes, so a read-only
    // file's times can be set too.
    const DWORD rights = access == Access::Read ? GENERIC_READ : FILE_WRITE_ATTRIBUTES;
    file_.reset(CreateFileA(path, rights, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return static_cast<bool>(file_);
}

bool ExclusiveFile::get_times(FileTimes* out) const noexcept {
    BY_HANDLE_FILE_INFORMATION info;
    if (!file_ || !GetFileInformationByHandle(file_.get(), &info)) return false;
    out->creation = from_filetime(info.ftCreationTime);
    out->access = from_filetime(info.ftLastAccessTime);
    out->write = from_filetime(info.ftLastWriteTime);
    return true;
}

bool ExclusiveFile::set_times(const FileTimes& t) noexcept {
    const FILETIME c = to_filetime(t.creation), a = to_filetime(t.access), w = to_filetime(t.write);
    return file_ && SetFileTime(file_.get(), &c, &a, &w) != 0;
}

namespace {

// Volume and index of an existing file or directory, whoever else holds it open.
bool identity(const char* path, BY_HANDLE_FILE_INFORMATION* out) noexcept {
    const unique_handle h(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return h && GetFileInformationByHandle(h.get(), out) != 0;
}

bool same_file(const char* a, const char* b) noexcept {
    BY_HANDLE_FILE_INFORMATION x, y;
    return identity(a, &x) && identity(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

}  // namespace

bool copy_file_replace(const char* from, const char* to, WholeFileScope* scope) noexcept {
    if (!from || !to) return false;
    const unique_handle source(CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) return false;
    const HANDLE in = source.get();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(in, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return false;

    WholeFile::Intent intent = WholeFile::Intent::New;
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A link at the destination is replaced by the copy, never written through.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            if (!((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(to) : DeleteFileA(to))) return false;
        } else {
            // Windows refuses to replace a read-only file; Wine, run by a user whom the
            // host's permissions do not stop, replaces it. Said here so that both behave
            // alike. A file is never copied onto itself.
            if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) || same_file(from, to)) return false;
            intent = WholeFile::Intent::Replace;
        }
    }
    WholeFile out;
    if (out.begin(to, intent, scope) != 0) return false;
    char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) return false;
        if (got == 0) break;
        if (out.write(buffer, got) != 0) return false;
    }
    // As CopyFileA leaves it: the source's attributes, and its times as they are once it
    // has been read (what a copy of its times made after the copy would give the copy).
    if (!GetFileInformationByHandle(in, &info)) return false;
    WholeFileEnd end;
    end.mode_kind = WholeFileEnd::Mode::Exact;
    end.mode = info.dwFileAttributes;
    end.times_kind = WholeFileEnd::Times::Exact;
    end.times.creation = from_filetime(info.ftCreationTime);
    end.times.access = from_filetime(info.ftLastAccessTime);
    end.times.write = from_filetime(info.ftLastWriteTime);
    return out.commit(end).ok();
}

bool move_file(const char* from, const char* to) noexcept {
    return from && to && MoveFileA(from, to) != 0;
}

int delete_file(const char* path) noexcept { return path ? DeleteFileA(path) : 0; }

}  // namespace qm::plat
