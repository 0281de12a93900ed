// The Windows wildcard rule for one name, which the POSIX directory search applies
// itself (FindFirstFileA does it on Windows): "*" any run, "?" exactly one character,
// letters without regard to case; a pattern ending in ".*" also matches a name without
// a dot ("*.*" is every name). Declared apart for tests and fuzzing.
#pragma once

namespace qm::plat {

bool wildcard_match(const char* pattern, const char* name) noexcept;

}  // namespace qm::plat
