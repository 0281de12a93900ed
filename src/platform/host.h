// What the unattended session (src/session) asks of the platform: the live environment,
// whether anyone can see the screen, a log file appended to one line at a time, and
// the calling thread's last error in the Win32 numbering.
#pragma once

#include <cstddef>

namespace qm::plat {

// Win32 error codes the library reports as an export's last error. They are the
// platform's own numbers, so the same values serve on POSIX.
namespace win32 {
constexpr unsigned long kSuccess = 0;
constexpr unsigned long kFileNotFound = 2;       // ERROR_FILE_NOT_FOUND
constexpr unsigned long kPathNotFound = 3;       // ERROR_PATH_NOT_FOUND
constexpr unsigned long kTooManyOpenFiles = 4;   // ERROR_TOO_MANY_OPEN_FILES
constexpr unsigned long kAccessDenied = 5;       // ERROR_ACCESS_DENIED
constexpr unsigned long kInvalidHandle = 6;      // ERROR_INVALID_HANDLE
constexpr unsigned long kNotEnoughMemory = 8;    // ERROR_NOT_ENOUGH_MEMORY
constexpr unsigned long kBadFormat = 11;         // ERROR_BAD_FORMAT
constexpr unsigned long kInvalidData = 13;       // ERROR_INVALID_DATA
constexpr unsigned long kNotSameDevice = 17;     // ERROR_NOT_SAME_DEVICE
constexpr unsigned long kNoMoreFiles = 18;       // ERROR_NO_MORE_FILES
constexpr unsigned long kWriteProtect = 19;      // ERROR_WRITE_PROTECT
constexpr unsigned long kWriteFault = 29;        // ERROR_WRITE_FAULT
constexpr unsigned long kReadFault = 30;         // ERROR_READ_FAULT
constexpr unsigned long kGenFailure = 31;        // ERROR_GEN_FAILURE
constexpr unsigned long kSharingViolation = 32;  // ERROR_SHARING_VIOLATION
constexpr unsigned long kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER
constexpr unsigned long kDiskFull = 112;         // ERROR_DISK_FULL
constexpr unsigned long kDirNotEmpty = 145;      // ERROR_DIR_NOT_EMPTY
constexpr unsigned long kAlreadyExists = 183;    // ERROR_ALREADY_EXISTS
constexpr unsigned long kFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
constexpr unsigned long kDirectory = 267;        // ERROR_DIRECTORY
constexpr unsigned long kCancelled = 1223;       // ERROR_CANCELLED
}  // namespace win32

// What the environment holds for a variable.
enum class EnvValue {
    Unset,
    Set,
    // Longer than the buffer it was asked into: never handed over cut short (a name cut
    // short is another name), so out is left empty and the caller takes it for unset.
    TooLong,
};

// The variable as the process environment holds it now (GetEnvironmentVariableA,
// getenv), not as it was at load, read at its full length (the platform allows 32,767
// characters): out receives it whole or not at all.
EnvValue live_env(const char* name, char* out, size_t size) noexcept;

// Whether a person can be at the screen. Windows: the process's window station is
// the visible interactive one (WSF_VISIBLE); a service sits on an invisible one. POSIX, which has no window station: a controlling terminal
// can be opened, as the terminal prompts need.
bool interactive_station_visible() noexcept;

// What became of a line for the log.
enum class LogWrite {
    Written,
    // It could not be opened or written (a missing folder, a full disk): skipped.
    Failed,
    // The name is one the log is never written through, whoever put it there: a link
    // (another user's link would lead a privileged process's lines, or its new file, where
    // that user chose), a file with another link, a file another user owns, anything but a
    // regular file (a FIFO would hold the call until someone reads it). Nothing written.
    Refused,
};

// Appends text (len bytes, one line without its end) and the platform's line end to
// the file at path in ONE write at its end (POSIX: O_APPEND; Windows: at the end, the
// writers taking turns on a lock): two processes appending at once never mix within a
// line. Opened without following a link and without waiting; a missing file is made
// for the caller alone (POSIX 0600 whatever the umask; Windows: a protected DACL
// giving the caller and the administrators access). A refusal's reason ("a link", ...)
// goes to *why.
LogWrite append_line(const char* path, const char* text, size_t len, const char** why = nullptr) noexcept;

// What both sides' append_line share: a log the side found refused (refused non-null:
// its reason to *why), else text with the line end `end` into one buffer of size bytes
// (the text cut to fit), for one write.
struct LogLine {
    char bytes[4100];
    size_t len = 0;
};
bool log_refused(const char* refused, const char** why) noexcept;
void make_log_line(const char* text, size_t len, const char* end, LogLine* line) noexcept;

// The user's temporary folder with its trailing separator (GetTempPathA; $TMPDIR or
// "/tmp/"); false when it does not fit size.
bool temp_dir(char* out, size_t size) noexcept;

unsigned long process_id() noexcept;

// The local time as "YYYY-MM-DD HH:MM:SS.mmm".
void local_time(char* out, size_t size) noexcept;

// Sets the calling thread's last error: SetLastError on Windows, a thread's own value on
// POSIX (which the log's line for the call shows).
void set_last_error(unsigned long code) noexcept;

// A C runtime error number (errors.h numbering) as the Win32 code it stands for.
unsigned long win32_from_crt(int number) noexcept;

}  // namespace qm::plat
