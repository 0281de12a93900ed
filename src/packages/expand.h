// Package expansion and manifest extraction, as the install script sees them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qm::packages {

// Extracts every member of package into target (which becomes the current directory).
// Always 0; an extraction error or a refused header type reaches the user through the
// "Error" notifier.
int ExpandPackage(const char* package, const char* target) noexcept;

// Told of each member before it is extracted: its number (from 1), the offset of its
// header and the package's size; for progress displays.
struct ExpandObserver {
    void (*member)(void* context, int64_t number, int64_t offset, int64_t size) noexcept;
    void* context;
};

// ExpandPackage with an observer (null: none).
int ExpandPackageObserved(const char* package, const char* target,
                          const ExpandObserver* observer) noexcept;

// Extracts only the first member whose (lower-cased) name contains the package's file
// name with ".mfs". Always 0.
int GetManifestFile(const char* package, const char* target) noexcept;

// The file-name part of a path as the runtime's _splitpath gives it: the text after the
// last "\" or "/" (and after a drive), before the last "." that follows; at most 255
// characters.
void SplitFileName(const char* path, char* out, size_t size) noexcept;

}  // namespace qm::packages
