// INI files, read and written by section and key. On Windows the platform does the work
// (GetPrivateProfileStringA, WritePrivateProfileStringA); the POSIX side keeps the same
// rules and edits the file in place of a whole-file rewrite:
// - section and key names match without regard to case; blanks around names and values
//   do not count; only the first section of a name is looked at;
// - a value enclosed in one pair of double or single quotes is read without them;
// - a write creates a missing file, section or key, replaces an existing value on its own
//   line and keeps every other line byte for byte (comments, blank lines, unknown
//   sections, a UTF-8 byte-order mark, the file's line ends); a new key goes after the
//   last line of its section, a new section at the end of the file;
// - a path without any "\" or "/" names a file in the Windows directory (sys.h).
#pragma once

#include <cstddef>

#include "platform/result.h"

namespace qm::plat {

// The value of key in section of file, or def when the file, the section, the key or its
// "=" is missing; copied into out (size bytes), cut to size - 1 characters. Returns the
// number of characters copied.
unsigned ini_read(const char* section, const char* key, const char* def, char* out,
                  size_t size, const char* file) noexcept;

// Sets key in section of file to value (leading blanks dropped). On
// POSIX the file is replaced as a whole through a temporary file beside it, so a failed
// write leaves it as it was; names or values that would break the line structure (a line
// break, "=" in a key, "]" in a section name) are refused.
CallResult ini_write(const char* section, const char* key, const char* value, const char* file) noexcept;

}  // namespace qm::plat
