#include "platform/errors.h"

#include <cerrno>

namespace qm::plat {

namespace {
// The Windows C runtime's message table, in its order; the Windows tests compare it
// with the runtime's own strerror so the two never drift apart.
constexpr const char* kTexts[43] = {
    "No error",
    "Operation not permitted",
    "No such file or directory",
    "No such process",
    "Interrupted function call",
    "Input/output error",
    "No such device or address",
    "Arg list too long",
    "Exec format error",
    "Bad file descriptor",
    "No child processes",
    "Resource temporarily unavailable",
    "Not enough space",
    "Permission denied",
    "Bad address",
    "Unknown error",
    "Resource device",
    "File exists",
    "Improper link",
    "No such device",
    "Not a directory",
    "Is a directory",
    "Invalid argument",
    "Too many open files in system",
    "Too many open files",
    "Inappropriate I/O control operation",
    "Unknown error",
    "File too large",
    "No space left on device",
    "Invalid seek",
    "Read-only file system",
    "Too many links",
    "Broken pipe",
    "Domain error",
    "Result too large",
    "Unknown error",
    "Resource deadlock avoided",
    "Unknown error",
    "Filename too long",
    "No locks available",
    "Function not implemented",
    "Directory not empty",
    "Illegal byte sequence",
};
}  // namespace

const char* error_text(int number) noexcept {
    if (number < 0 || number >= 43) return nullptr;
    return kTexts[number];
}

const char* error_text_or_null(int number) noexcept {
    const char* t = error_text(number);
    return t ? t : "(null)";
}

int last_crt_error() noexcept { return from_native_errno(errno); }

}  // namespace qm::plat
