#include "platform/win32/errmap.h"

#include <windows.h>

#include "platform/errors.h"

namespace qm::plat {

// The runtime here is the one whose numbering the library speaks.
int from_native_errno(int e) noexcept { return e; }

int crt_error_from_win32(unsigned long code) noexcept {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_NO_MORE_FILES:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return kENOENT;
        case ERROR_TOO_MANY_OPEN_FILES:
            return kEMFILE;
        case ERROR_ACCESS_DENIED:
        case ERROR_CURRENT_DIRECTORY:
        case ERROR_NETWORK_ACCESS_DENIED:
        case ERROR_CANNOT_MAKE:
        case ERROR_FAIL_I24:
        case ERROR_DRIVE_LOCKED:
        case ERROR_SEEK_ON_DEVICE:
        case ERROR_NOT_LOCKED:
        case ERROR_LOCK_FAILED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_WRITE_PROTECT:
            return kEACCES;
        case ERROR_INVALID_HANDLE:
        case ERROR_INVALID_TARGET_HANDLE:
        case ERROR_DIRECT_ACCESS_HANDLE:
            return kEBADF;
        case ERROR_ARENA_TRASHED:
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_INVALID_BLOCK:
        case ERROR_NOT_ENOUGH_QUOTA:
            return kENOMEM;
        case ERROR_NOT_SAME_DEVICE:
            return kEXDEV;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return kEEXIST;
        case ERROR_DIR_NOT_EMPTY:
            return kENOTEMPTY;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return kENOSPC;
        default:
            return kEINVAL;
    }
}

int last_win32_error() noexcept { return crt_error_from_win32(GetLastError()); }

CallResult failed_with_code(FileStep step, unsigned long code) noexcept {
    return CallResult{step, crt_error_from_win32(code), code != 0 ? code : ERROR_GEN_FAILURE};
}

CallResult failed_now(FileStep step) noexcept { return failed_with_code(step, GetLastError()); }

}  // namespace qm::plat
