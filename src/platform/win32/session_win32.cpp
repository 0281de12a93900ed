#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/session.h"
#include "platform/side.h"

namespace qm::plat {

bool live_env(const char* name, char* out, size_t size) noexcept {
    if (size == 0) return false;
    out[0] = '\0';
    // A variable defined but empty reads as 0 with no error; without the clear, an
    // earlier call's ERROR_ENVVAR_NOT_FOUND would make it read as undefined.
    SetLastError(0);
    const DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
    if (n == 0) {
        out[0] = '\0';
        return GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    }
    if (n >= size) {
        // Too long for out: read whole into a buffer of the platform's limit, then cut.
        static thread_local char whole[32768];
        const DWORD m = GetEnvironmentVariableA(name, whole, sizeof whole);
        if (m == 0 || m >= sizeof whole) {
            out[0] = '\0';
            return m != 0;
        }
        std::snprintf(out, size, "%s", whole);
    }
    return true;
}

bool interactive_station_visible() noexcept {
    HWINSTA station = GetProcessWindowStation();
    if (!station) return false;
    USEROBJECTFLAGS flags;
    std::memset(&flags, 0, sizeof flags);
    DWORD needed = 0;
    // A station that cannot be asked is taken for the visible one: the boxes behave as
    // they always did.
    if (!GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool append_line(const char* path, const char* text, size_t len) noexcept {
    unique_handle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    char line[4100];
    if (len > sizeof line - 2) len = sizeof line - 2;
    std::memcpy(line, text, len);
    line[len] = '\r';
    line[len + 1] = '\n';
    // Windows appends a write to an append-only handle whole; Wine writes it where it
    // found the end a moment before, so two processes could overwrite each other's
    // lines. The writers therefore take turns on one byte far beyond any log's end
    // (nothing ever writes there), held for one write and released by the close even
    // when the process dies; a writer that cannot get it in a moment writes anyway.
    OVERLAPPED turn;
    std::memset(&turn, 0, sizeof turn);
    turn.OffsetHigh = 0x7FFFFFFF;
    bool locked = false;
    for (int tries = 0; tries < 500 && !(locked = LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK |
                                                                 LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &turn));
         ++tries)
        Sleep(1);
    OVERLAPPED at_end;
    std::memset(&at_end, 0, sizeof at_end);
    at_end.Offset = 0xFFFFFFFF;  // FILE_WRITE_TO_END_OF_FILE
    at_end.OffsetHigh = 0xFFFFFFFF;
    DWORD written = 0;
    const bool ok = WriteFile(file.get(), line, static_cast<DWORD>(len + 2), &written, &at_end) && written == len + 2;
    if (locked) UnlockFileEx(file.get(), 0, 1, 0, &turn);
    return ok;
}

bool temp_dir(char* out, size_t size) noexcept {
    const DWORD n = GetTempPathA(static_cast<DWORD>(size), out);
    return n > 0 && n < size;
}

unsigned long process_id() noexcept { return GetCurrentProcessId(); }

void local_time(char* out, size_t size) noexcept {
    SYSTEMTIME t;
    GetLocalTime(&t);
    std::snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u.%03u", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
}

void set_last_error(unsigned long code) noexcept { SetLastError(code); }

unsigned long last_error() noexcept { return GetLastError(); }

unsigned long failed_call_error() noexcept {
    const DWORD code = GetLastError();
    return code != 0 ? code : win32::kGenFailure;
}

}  // namespace qm::plat
