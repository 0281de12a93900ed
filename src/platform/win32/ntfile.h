// Requests on an open file that the system takes directly (NtSetInformationFile), so
// that nothing looks the path up again.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qm::plat {

// SetFileAttributesA on the open file (times left as they are). False when refused.
bool set_attributes_on(HANDLE h, DWORD attributes) noexcept;
// Marks the open file for deletion when its last handle closes, or takes the mark back.
// The handle needs DELETE access. False when refused.
bool set_delete_pending(HANDLE h, bool pending) noexcept;

// A new file carries these attributes from its create until it is complete: read-only,
// hidden and system together, which an installed file does not have. A file that still
// has them is what a process that ended during the write left, and is taken for older
// than anything, so that the next write of its name replaces it. Under Wine the create
// gives the read-only attribute at once and the other two a moment later: a process
// ended in between leaves a read-only file that is empty and was never written after
// its creation, which is taken for unfinished too.
constexpr DWORD kUnfinishedAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
inline bool unfinished(DWORD attributes, uint64_t size, const FILETIME& created, const FILETIME& written) noexcept {
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
    if ((attributes & kUnfinishedAttributes) == kUnfinishedAttributes) return true;
    return (attributes & FILE_ATTRIBUTE_READONLY) && size == 0 && CompareFileTime(&created, &written) == 0;
}
inline bool unfinished(const WIN32_FILE_ATTRIBUTE_DATA& d) noexcept {
    return unfinished(d.dwFileAttributes, (static_cast<uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow,
                      d.ftCreationTime, d.ftLastWriteTime);
}
// The same for a path: false when it cannot be looked at.
inline bool unfinished(const char* path) noexcept {
    WIN32_FILE_ATTRIBUTE_DATA d;
    return GetFileAttributesExA(path, GetFileExInfoStandard, &d) && unfinished(d);
}

}  // namespace qm::plat
