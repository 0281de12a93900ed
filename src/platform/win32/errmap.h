// Win32 error codes translated into the C runtime's error numbers, the way the
// runtime itself does it for the calls it wraps.
#pragma once

namespace qm::plat {

int crt_error_from_win32(unsigned long code) noexcept;
// GetLastError() translated.
int last_win32_error() noexcept;

}  // namespace qm::plat
