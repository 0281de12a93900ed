// Windows side of removal: the file is opened as itself (a reparse point is not
// followed), with the right to delete it and sharing only reading, so that nobody
// writes, renames or deletes it between the look and the delete; the delete marks that
// open file, never a name looked up again.
#include <windows.h>

#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/host.h"
#include "platform/removable.h"
#include "platform/win32/errmap.h"
#include "platform/win32/ntfile.h"

namespace qm::plat {

namespace {

HANDLE open_as_itself(const char* path, DWORD access) noexcept {
    return CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

}  // namespace

CallResult RemovableFile::open(const char* path) noexcept {
    close();
    HANDLE h = open_as_itself(path, GENERIC_READ | DELETE);
    if (h == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        // No right to delete it (a read-only file, say): still looked at; remove() then
        // fails as the delete does.
        h = open_as_itself(path, GENERIC_READ);
    }
    if (h == INVALID_HANDLE_VALUE) return failed_now(FileStep::Open);
    state_.file.reset(h);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) {
        const CallResult r = failed_now(FileStep::Open);
        close();
        return r;
    }
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        close();
        link_ = true;
        return failed_with_code(FileStep::Open, ERROR_CANT_ACCESS_FILE);
    }
    regular_ = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && GetFileType(h) == FILE_TYPE_DISK;
    read_only_ = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    size_ = static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    // The time as the runtime's stat converts it, as every other look at a file here
    // has it; the name still holds this file, which nobody may rename while it is open.
    PathStat st;
    if (const int e = path_stat(path, &st)) {
        close();
        return failed_with(FileStep::Open, e);
    }
    mtime_ = st.mtime;
    return {};
}

CallResult RemovableFile::read_exact(void* buffer, size_t size) noexcept {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
        const DWORD want = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(state_.file.get(), p, want, &got, nullptr)) return failed_now(FileStep::Read);
        if (got == 0) return failed_with_code(FileStep::Read, ERROR_HANDLE_EOF);
        p += got;
        size -= got;
    }
    return {};
}

CallResult RemovableFile::remove() noexcept {
    const CallResult r = !state_.file ? failed_with_code(FileStep::Remove, ERROR_INVALID_HANDLE)
                         : set_delete_pending(state_.file.get(), true) ? CallResult{}
                                                                       : failed_now(FileStep::Remove);
    close();  // the file goes with its last handle
    return r;
}

void RemovableFile::close() noexcept {
    state_.file.reset();
    link_ = regular_ = read_only_ = false;
    size_ = mtime_ = 0;
}

CallResult remove_empty_directory(const char* path) noexcept {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return failed_now(FileStep::Remove);
    // RemoveDirectoryA would remove a junction itself: one is never the package's.
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return failed_with_code(FileStep::Remove, ERROR_DIRECTORY);
    return RemoveDirectoryA(path) ? CallResult{} : failed_now(FileStep::Remove);
}

}  // namespace qm::plat
