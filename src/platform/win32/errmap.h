// Win32 error codes translated into the C runtime's error numbers, the way the
// runtime itself does it for the calls it wraps.
#pragma once

#include "platform/result.h"

namespace qm::plat {

int crt_error_from_win32(unsigned long code) noexcept;
// GetLastError() translated.
int last_win32_error() noexcept;
// The failure of the system call that has just failed, as GetLastError says at once.
CallResult failed_now(FileStep step) noexcept;
// A failure the side decides itself, given the code the system would have given.
CallResult failed_with_code(FileStep step, unsigned long code) noexcept;

}  // namespace qm::plat
