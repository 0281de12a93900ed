// Package expansion and manifest extraction, as the install script sees them.
#pragma once

#include <cstddef>

namespace qm::packages {

// Extracts every member of package into target (which becomes the current directory).
// Always 0; an extraction error or a refused header type reaches the user through the
// "Error" notifier.
int ExpandPackage(const char* package, const char* target) noexcept;

// Extracts only the first member whose (lower-cased) name contains the package's file
// name with ".mfs". Always 0.
int GetManifestFile(const char* package, const char* target) noexcept;

// The file-name part of a path as the runtime's _splitpath gives it: the text after the
// last "\" or "/" (and after a drive), before the last "." that follows; at most 255
// characters.
void SplitFileName(const char* path, char* out, size_t size) noexcept;

}  // namespace qm::packages
