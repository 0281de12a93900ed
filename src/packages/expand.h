// Package expansion and manifest extraction, as the install script sees them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "session/status.h"
#include "tar/tar.h"

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

// What became of the package file itself. In attended use a package that cannot be
// loaded passes silently (an install script may offer optional packages that are not
// there), except one that memory cannot be had for, which the user is shown; a caller
// that reports more (the command line, a log) finds the rest here.
struct PackageOutcome {
    tar::TarLoad load = tar::TarLoad::Loaded;
    int64_t size = 0;                     // of the package file, when it was found
    char message[tar::kMessageSize] = ""; // the reader's text for a failed load
};

// ExpandPackage with an observer and the package's outcome (null: none). whole: the
// package whole or not at all (transaction.h), whatever QUILLMAR_WHOLE_PACKAGE says.
int ExpandPackageObserved(const char* package, const char* target, const ExpandObserver* observer,
                          PackageOutcome* outcome = nullptr, bool whole = false) noexcept;

// Extracts only the first member whose (lower-cased) name contains the package's file
// name with ".mfs". Always 0.
int GetManifestFile(const char* package, const char* target) noexcept;
int GetManifestFileReported(const char* package, const char* target, PackageOutcome* outcome) noexcept;

// What the package operations make of the package itself, written once for them all.
// open_package creates the context and opens the package, false when there is nothing to
// walk: a package that cannot be loaded is passed over without a box (but for one too
// large, for memory or for the reader, whose text ends with what_not, "Package not
// expanded."); its code, and that text, are added to st, and a log line says why and what
// was not done (nothing_done: "nothing installed"). describe_ending says where and why
// the walk ended, for the log; a damaged or nameless header is a failure of the call,
// added to st.
bool open_package(tar::TarContextPtr& c, const char* package, const char* what_not, const char* nothing_done,
                  PackageOutcome* outcome, session::Status& st) noexcept;
void describe_ending(const tar::TarContext* c, const tar::Ending& end, char* out, size_t size,
                     session::Status& st) noexcept;

// The file-name part of a path as the runtime's _splitpath gives it: the text after the
// last "\" or "/" (and after a drive), before the last "." that follows; at most 255
// characters.
void split_file_name(const char* path, char* out, size_t size) noexcept;

}  // namespace qm::packages
