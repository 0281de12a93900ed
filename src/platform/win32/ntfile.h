// Requests on an open file that the system takes directly (NtSetInformationFile), so
// that nothing looks the path up again.
#pragma once

#include <windows.h>

namespace qm::plat {

// SetFileAttributesA on the open file (times left as they are). False when refused.
bool set_attributes_on(HANDLE h, DWORD attributes) noexcept;
// Marks the open file for deletion when its last handle closes, or takes the mark back.
// The handle needs DELETE access. False when refused.
bool set_delete_pending(HANDLE h, bool pending) noexcept;

}  // namespace qm::plat
