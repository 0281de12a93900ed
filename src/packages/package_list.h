// The one list of package names the library keeps between calls: filled by the
// file-open dialog, the list dialog and the reinstall list, read back by the install
// script one entry per call.
#pragma once

#include <cstdint>

namespace qm::packages {

constexpr int MAX_PACKAGES = 100;
constexpr int PACKAGE_NAME_SIZE = 100;  // 99 characters and the terminator

struct PackageListTable {
    char entries[MAX_PACKAGES][PACKAGE_NAME_SIZE];  // slot i at 100 * i bytes
    int32_t count;                                  // valid slots 0 .. count - 1
    int32_t cursor;                                 // the slot GetNextFile returns next
};

// Library-global, zero at load, never released. Pointers handed out point into it.
extern PackageListTable PackageList;

// Entry 0 (the cursor moves to 1), or null when the list is empty (cursor 0).
const char* GetFirstFile() noexcept;
// The entry at the cursor (the cursor moves on), or null when none is left.
const char* GetNextFile() noexcept;
// Empties the list and rewinds the cursor; 0.
int ClearPackageList() noexcept;

// Replaces the list with the file-open dialog's selection text: the full path of one
// file, or a directory followed by names, separated by runs of spaces (the text is
// split in place). Each name becomes "directory\name"; the cursor goes back to 0.
// Returns the number of entries now in the list; 0 means the list was left exactly as
// it was (a null, empty or all-space text, or no entry that fits a slot).
int FillPackageList(char* selection) noexcept;

// Every filling operation stores its entries through this one rule, so they agree on the
// limits: the entry goes into the slot at count and count grows by one, unless the list
// already holds MAX_PACKAGES entries or the text would not fit a slot whole. A shortened
// entry would name a different file, so a text that is too long is skipped instead.
// True when the entry was stored.
bool append_package_entry(const char* format, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

}  // namespace qm::packages
