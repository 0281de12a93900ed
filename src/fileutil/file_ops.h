// Plain file and environment chores of the install script. Results keep the three
// conventions the script relies on: 1/0 (AppendFile), nonzero/0 (SetEnvVariable,
// MyDeleteFile) and 0/-1 (RenDirectory, MyRenameFile: 0 is success).
#pragma once

#include <cstddef>

namespace qm::fileutil {

// Size of the transfer buffer AppendFile reads into.
constexpr size_t kAppendChunk = 10000;

// Appends source's text to destination (opened "a+": created when absent, a final
// 0x1A removed). 1 when both opened, also when a read error cut the copy short; 0
// when either could not be opened, or when both name the same file (the copy would
// chase its own writes without end).
int AppendFile(const char* destination, const char* source) noexcept;

// The short (8.3) form of path, in a library-owned buffer that the next call
// overwrites. Where the platform gives none (the path does not exist, or the short
// form would need 255 characters or more) the text is the path itself when it has at
// most 254 characters, else empty.
const char* GetShortFileName(const char* path) noexcept;

// The variable in the process environment, inherited by programs started afterwards
// (not by the install log's NMSROOT). Nonzero on success.
int SetEnvVariable(const char* name, const char* value) noexcept;

// Renames or moves a directory or a file, never over an existing one. 0 or -1.
int RenDirectory(const char* old_path, const char* new_path) noexcept;
int MyRenameFile(const char* old_path, const char* new_path) noexcept;

// Deletes one file; a directory, a read-only file and a missing one give 0.
int MyDeleteFile(const char* path) noexcept;

}  // namespace qm::fileutil
