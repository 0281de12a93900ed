#include "platform/win32/ntfile.h"

#include <winternl.h>

#include <cwchar>

namespace qm::plat {

namespace {

using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);
using StatusToErrorFn = ULONG(NTAPI*)(NTSTATUS);

// The system's own calls, looked up at run time: the DLL imports from kernel32 and the
// other user-mode libraries only.
template <typename Fn>
Fn from_ntdll(const char* name) noexcept {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll ? reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(ntdll, name))) : nullptr;
}

SetInformationFn set_information() noexcept {
    static const SetInformationFn fn = from_ntdll<SetInformationFn>("NtSetInformationFile");
    return fn;
}

StatusToErrorFn status_to_error() noexcept {
    static const StatusToErrorFn fn = from_ntdll<StatusToErrorFn>("RtlNtStatusToDosError");
    return fn;
}

// The request; a refusal leaves the system's error as the thread's last error.
bool set(HANDLE h, void* info, ULONG size, int info_class) noexcept {
    const SetInformationFn fn = set_information();
    if (!fn || h == INVALID_HANDLE_VALUE) {
        SetLastError(ERROR_INVALID_FUNCTION);
        return false;
    }
    IO_STATUS_BLOCK io;
    const NTSTATUS st = fn(h, &io, info, size, static_cast<FILE_INFORMATION_CLASS>(info_class));
    if (NT_SUCCESS(st)) return true;
    const StatusToErrorFn to_error = status_to_error();
    SetLastError(to_error ? to_error(st) : ERROR_GEN_FAILURE);
    return false;
}

}  // namespace

bool set_attributes_on(HANDLE h, DWORD attributes) noexcept {
    FILE_BASIC_INFORMATION info = {};  // times of 0 stay as they are
    info.FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
    return set(h, &info, sizeof info, FileBasicInformation);
}

bool set_delete_pending(HANDLE h, bool pending) noexcept {
    struct {
        BOOLEAN DeleteFile;
    } info = {static_cast<BOOLEAN>(pending ? TRUE : FALSE)};
    constexpr int kFileDispositionInformation = 13;
    return set(h, &info, sizeof info, kFileDispositionInformation);
}

bool rename_open_file(HANDLE h, const char* path) noexcept {
    // The system's form of the full path: \??\C:\dir\name, \??\UNC\server\share\name.
    wchar_t wide[4096], full[4096];
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, wide, 4096)) return false;
    const DWORD n = GetFullPathNameW(wide, 4096, full, nullptr);
    if (n == 0) return false;
    if (n >= 4096) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const wchar_t* rest = full;
    const wchar_t* prefix = L"\\??\\";
    if (full[0] == L'\\' && full[1] == L'\\') {
        const bool device = (full[2] == L'?' || full[2] == L'.') && full[3] == L'\\';
        rest = full + (device ? 4 : 2);
        if (!device) prefix = L"\\??\\UNC\\";
    }
    const size_t prefix_len = wcslen(prefix), rest_len = wcslen(rest);
    struct Info {
        BOOLEAN ReplaceIfExists;
        HANDLE RootDirectory;
        ULONG FileNameLength;
        WCHAR FileName[4096 + 8];
    } info = {};
    if (prefix_len + rest_len >= sizeof info.FileName / sizeof info.FileName[0]) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    info.ReplaceIfExists = FALSE;
    wmemcpy(info.FileName, prefix, prefix_len);
    wmemcpy(info.FileName + prefix_len, rest, rest_len);
    info.FileNameLength = static_cast<ULONG>((prefix_len + rest_len) * sizeof(WCHAR));
    constexpr int kFileRenameInformation = 10;
    return set(h, &info, sizeof info, kFileRenameInformation);
}

}  // namespace qm::plat
