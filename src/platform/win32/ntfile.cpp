#include "platform/win32/ntfile.h"

#include <winternl.h>

namespace qm::plat {

namespace {

using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, FILE_INFORMATION_CLASS);

// The system's own call, looked up at run time: the DLL imports from kernel32 and the
// other user-mode libraries only.
SetInformationFn set_information() noexcept {
    static SetInformationFn fn = [] {
        HMODULE ntdll = GetModuleHandleA("ntdll.dll");
        return ntdll ? reinterpret_cast<SetInformationFn>(reinterpret_cast<void*>(
                           GetProcAddress(ntdll, "NtSetInformationFile")))
                     : nullptr;
    }();
    return fn;
}

bool set(HANDLE h, void* info, ULONG size, int info_class) noexcept {
    const SetInformationFn fn = set_information();
    if (!fn || h == INVALID_HANDLE_VALUE) return false;
    IO_STATUS_BLOCK io;
    return NT_SUCCESS(fn(h, &io, info, size, static_cast<FILE_INFORMATION_CLASS>(info_class)));
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

}  // namespace qm::plat
