// Environment, the Windows directory and short names.
#pragma once

#include <cstddef>

#include "platform/result.h"

namespace qm::plat {

// SetEnvironmentVariableA: the process environment, inherited by programs started
// afterwards; a null value removes the variable.
CallResult set_env(const char* name, const char* value) noexcept;

// The value of NMSROOT (name matched without regard to case) as the environment held it
// when the library was loaded, or null when it was not defined then. Later changes to
// the process environment do not show here.
const char* nmsroot_at_load() noexcept;

// GetWindowsDirectoryA into out (size bytes): *length gets the length written, or the
// size needed when out is too small. On POSIX the stand-in is $WINDIR when set,
// otherwise "$HOME/.quillmar/windows" (created when missing).
CallResult windows_dir(char* out, size_t size, unsigned* length) noexcept;

// GetShortPathNameA into out (size bytes): *length gets the length of the short form,
// or the size needed when out is too small; a failure when there is none (the path
// does not exist). On POSIX the short form of an existing path is the path unchanged.
CallResult short_path(const char* path, char* out, size_t size, unsigned* length) noexcept;

}  // namespace qm::plat
