#include <windows.h>

#include "platform/errors.h"
#include "platform/fileops.h"
#include "platform/fs.h"
#include "platform/whole_file.h"
#include "platform/win32/errmap.h"

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

CallResult ExclusiveFile::open(const char* path, Access access) noexcept {
    file_.reset();
    if (!path) return failed_with(FileStep::Open, kEINVAL);
    // Setting times needs no more than the right to write attributes, so a read-only
    // file's times can be set too.
    const DWORD rights = access == Access::Read ? GENERIC_READ : FILE_WRITE_ATTRIBUTES;
    file_.reset(CreateFileA(path, rights, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file_ ? CallResult{} : failed_now(FileStep::Open);
}

CallResult ExclusiveFile::get_times(FileTimes* out) const noexcept {
    BY_HANDLE_FILE_INFORMATION info;
    if (!file_) return failed_with(FileStep::Read, kEBADF);
    if (!GetFileInformationByHandle(file_.get(), &info)) return failed_now(FileStep::Read);
    out->creation = from_filetime(info.ftCreationTime);
    out->access = from_filetime(info.ftLastAccessTime);
    out->write = from_filetime(info.ftLastWriteTime);
    return {};
}

CallResult ExclusiveFile::set_times(const FileTimes& t) noexcept {
    const FILETIME c = to_filetime(t.creation), a = to_filetime(t.access), w = to_filetime(t.write);
    if (!file_) return failed_with(FileStep::Time, kEBADF);
    return SetFileTime(file_.get(), &c, &a, &w) ? CallResult{} : failed_now(FileStep::Time);
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

CallResult FileCopy::stage_side(const char* from, const char* to, WholeFileScope* scope) noexcept {
    if (!from || !to) return failed_with(FileStep::Open, kEINVAL);
    const unique_handle source(CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source) return failed_now(FileStep::Open);
    const HANDLE in = source.get();
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(in, &info)) return failed_now(FileStep::Read);
    // As CopyFileA: a directory is refused the access.
    if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return failed_with_code(FileStep::Open, ERROR_ACCESS_DENIED);

    WholeFile::Intent intent = WholeFile::Intent::New;
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A link at the destination is replaced by the copy, never written through.
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            if (!((attributes & FILE_ATTRIBUTE_DIRECTORY) ? RemoveDirectoryA(to) : DeleteFileA(to)))
                return failed_now(FileStep::Open);
        } else {
            // Windows refuses to replace a read-only file; Wine, run by a user whom the
            // host's permissions do not stop, replaces it. Said here so that both behave
            // alike. A file is never copied onto itself.
            if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) || same_file(from, to))
                return failed_with_code(FileStep::Open, ERROR_ACCESS_DENIED);
            intent = WholeFile::Intent::Replace;
        }
    }
    if (const int e = out_.begin(to, intent, scope)) return failed_with(FileStep::Create, e);
    char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) return failed_now(FileStep::Read);
        if (got == 0) break;
        if (const int e = out_.write(buffer, got)) return failed_with(FileStep::Write, e);
    }
    // As CopyFileA leaves it: the source's attributes, and its times as they are once it
    // has been read (what a copy of its times made after the copy would give the copy).
    if (!GetFileInformationByHandle(in, &info)) return failed_now(FileStep::Read);
    WholeFileEnd end;
    end.mode_kind = WholeFileEnd::Mode::Exact;
    end.mode = info.dwFileAttributes;
    end.times_kind = WholeFileEnd::Times::Exact;
    end.times.creation = from_filetime(info.ftCreationTime);
    end.times.access = from_filetime(info.ftLastAccessTime);
    end.times.write = from_filetime(info.ftLastWriteTime);
    return out_.stage(end);
}

CallResult move_file(const char* from, const char* to) noexcept {
    if (!from || !to) return failed_with(FileStep::Place, kEINVAL);
    return MoveFileA(from, to) ? CallResult{} : failed_now(FileStep::Place);
}

CallResult delete_file(const char* path) noexcept {
    if (!path) return failed_with(FileStep::Remove, kEINVAL);
    return DeleteFileA(path) ? CallResult{} : failed_now(FileStep::Remove);
}

}  // namespace qm::plat
