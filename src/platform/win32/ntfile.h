// Requests on an open file that the system takes directly (NtSetInformationFile), so
// that nothing looks the path up again. Each answers false when refused, with the
// system's error as the thread's last error (ERROR_ALREADY_EXISTS for a name taken),
// as the Win32 calls do: their callers turn it into an error number with the others.
#pragma once

#include <windows.h>

namespace qm::plat {

// SetFileAttributesA on the open file (times left as they are). False when refused.
bool set_attributes_on(HANDLE h, DWORD attributes) noexcept;
// Marks the open file for deletion when its last handle closes, or takes the mark back.
// The handle needs DELETE access. False when refused.
bool set_delete_pending(HANDLE h, bool pending) noexcept;

// Gives the open file the name path, never replacing what has it. The handle needs
// DELETE access.
bool rename_open_file(HANDLE h, const char* path) noexcept;

}  // namespace qm::plat
