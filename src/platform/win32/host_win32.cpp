#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/host.h"
#include "platform/side.h"
#include "platform/win32/private_file.h"

namespace qm::plat {

EnvValue live_env(const char* name, char* out, size_t size) noexcept {
    if (size == 0) return EnvValue::TooLong;
    out[0] = '\0';
    // A variable defined but empty reads as 0 with no error; without the clear, an
    // earlier call's ERROR_ENVVAR_NOT_FOUND would make it read as undefined.
    SetLastError(0);
    const DWORD n = GetEnvironmentVariableA(name, out, static_cast<DWORD>(size));
    if (n == 0) {
        out[0] = '\0';
        return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? EnvValue::Unset : EnvValue::Set;
    }
    // Too long for out: the size it needs is returned, and out holds nothing usable.
    if (n >= size) {
        out[0] = '\0';
        return EnvValue::TooLong;
    }
    return EnvValue::Set;
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

LogWrite append_line(const char* path, const char* text, size_t len, const char** why) noexcept {
    // FILE_FLAG_OPEN_REPARSE_POINT: a link at the name is opened itself (and refused
    // below), never its target. A security that cannot be built makes no new log.
    PrivateFileSecurity security;
    unique_handle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   security.ok() ? security.attributes() : nullptr,
                                   security.ok() ? OPEN_ALWAYS : OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    const DWORD attributes = file ? 0 : GetFileAttributesA(path);
    const char* refused = file ? refusal_of(file.get())
                          : attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)
                              ? "a directory"
                              : nullptr;
    if (log_refused(refused, why)) return LogWrite::Refused;
    if (!file) return LogWrite::Failed;
    LogLine line;
    make_log_line(text, len, "\r\n", &line);
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
    const bool ok = WriteFile(file.get(), line.bytes, static_cast<DWORD>(line.len), &written, &at_end) && written == line.len;
    if (locked) UnlockFileEx(file.get(), 0, 1, 0, &turn);
    return ok ? LogWrite::Written : LogWrite::Failed;
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

}  // namespace qm::plat
