// Environment, the Windows directory and short names.
#pragma once

#include <cstddef>

namespace qm::plat {

// SetEnvironmentVariableA: the process environment, inherited by programs started
// afterwards. Nonzero on success, 0 on failure.
int set_env(const char* name, const char* value) noexcept;

// The value of NMSROOT (name matched without regard to case) as the environment held it
// when the library was loaded, or null when it was not defined then. Later changes to
// the process environment do not show here.
const char* nmsroot_at_load() noexcept;

// GetWindowsDirectoryA into out (size bytes): the length written, 0 on failure. On
// POSIX the stand-in is $WINDIR when set, otherwise "$HOME/.quillmar/windows" (created
// when missing).
unsigned windows_dir(char* out, size_t size) noexcept;

// GetShortPathNameA into out (size bytes): the length of the short form, 0 on failure
// (the path does not exist), or the size needed when out is too small. On POSIX the
// short form of an existing path is the path unchanged.
unsigned short_path(const char* path, char* out, size_t size) noexcept;

}  // namespace qm::plat
