// Windows side of the journal: made exclusively with a protected DACL and held open
// without sharing from its creation on, so that no other process can open it while its
// call runs (an opener is refused with a sharing violation, which tells a call under way
// from one that ended). Read back only when it is a file on a disk with one name and no
// reparse point.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/journal_file.h"
#include "platform/win32/errmap.h"
#include "platform/win32/ntfile.h"
#include "platform/win32/private_file.h"

namespace qm::plat {

namespace {

constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE | DELETE;

bool write_all(HANDLE h, const char* p, size_t size) noexcept {
    while (size > 0) {
        DWORD done = 0;
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        if (!WriteFile(h, p, chunk, &done, nullptr)) return false;
        if (done == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        p += done;
        size -= done;
    }
    return true;
}

}  // namespace

JournalFile::~JournalFile() = default;

CallResult JournalFile::create(const char* path, const void* data, size_t size) noexcept {
    state_.file.reset();
    if (int e = fault::check(fault::Op::Journal)) return failed_with(FileStep::Create, e);
    const int n = std::snprintf(path_, sizeof path_, "%s", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path_) return failed_with(FileStep::Create, kENAMETOOLONG);
    PrivateFileSecurity security;
    if (!security.ok()) return failed_now(FileStep::Create);
    unique_handle h(CreateFileA(path_, kAccess, 0, security.attributes(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return failed_with(FileStep::Create, kEEXIST);
        return failed_with_code(FileStep::Create, code);
    }
    // Removed should the process end before it is whole (closing the handle removes it).
    const bool pending = set_delete_pending(h.get(), true);
    if (!write_all(h.get(), static_cast<const char*>(data), size) || !FlushFileBuffers(h.get()) ||
        (pending && !set_delete_pending(h.get(), false))) {
        const CallResult r = failed_now(FileStep::Write);
        set_delete_pending(h.get(), true);
        return r;
    }
    state_.file = std::move(h);
    return {};
}

JournalFile::Found JournalFile::open_existing(const char* path, int64_t* size, const char** why,
                                              int* error) noexcept {
    state_.file.reset();
    *why = nullptr;
    *error = 0;
    const int n = std::snprintf(path_, sizeof path_, "%s", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path_) {
        *error = kENAMETOOLONG;
        return Found::Failed;
    }
    // FILE_FLAG_OPEN_REPARSE_POINT: a link at the name is opened itself, and refused.
    unique_handle h(CreateFileA(path_, kAccess, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return Found::Absent;
        if (code == ERROR_SHARING_VIOLATION) return Found::Held;
        const DWORD attributes = GetFileAttributesA(path_);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            *why = "a directory";
            return Found::Refused;
        }
        *error = crt_error_from_win32(code);
        return Found::Failed;
    }
    if ((*why = refusal_of(h.get()))) return Found::Refused;
    LARGE_INTEGER length;
    if (!GetFileSizeEx(h.get(), &length)) {
        *error = last_win32_error();
        return Found::Failed;
    }
    *size = static_cast<int64_t>(length.QuadPart);
    state_.file = std::move(h);
    return Found::Opened;
}

CallResult JournalFile::read(void* out, size_t size) noexcept {
    if (!state_.file) return failed_with(FileStep::Read, kEBADF);
    LARGE_INTEGER zero = {};
    if (!SetFilePointerEx(state_.file.get(), zero, nullptr, FILE_BEGIN)) return failed_now(FileStep::Read);
    size_t done = 0;
    while (done < size) {
        DWORD got = 0;
        const DWORD chunk = size - done > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size - done);
        if (!ReadFile(state_.file.get(), static_cast<char*>(out) + done, chunk, &got, nullptr))
            return failed_now(FileStep::Read);
        if (got == 0) return failed_with(FileStep::Read, kEIO);
        done += got;
    }
    return {};
}

CallResult JournalFile::mark(int64_t offset, char byte) noexcept {
    if (!state_.file) return failed_with(FileStep::Write, kEBADF);
    if (int e = fault::check(fault::Op::Journal)) return failed_with(FileStep::Write, e);
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD done = 0;
    if (!SetFilePointerEx(state_.file.get(), at, nullptr, FILE_BEGIN) ||
        !WriteFile(state_.file.get(), &byte, 1, &done, nullptr) || done != 1 || !FlushFileBuffers(state_.file.get()))
        return failed_now(FileStep::Write);
    return {};
}

CallResult JournalFile::remove() noexcept {
    if (!state_.file) return {};
    if (int e = fault::check(fault::Op::Journal)) return failed_with(FileStep::Remove, e);
    // Gone once the handle closes: nobody else has it open.
    const CallResult r = set_delete_pending(state_.file.get(), true) ? CallResult{} : failed_now(FileStep::Remove);
    state_.file.reset();
    return r;
}

}  // namespace qm::plat
