// The guarded copy: files copied from one directory into another, never over a newer
// file, each refusal recorded in the install log.
#pragma once

#include <cstddef>

namespace qm::fileutil {

// Longest path the copy builds (search text, source and destination), without its
// terminator.
constexpr size_t kMaxPath = 255;

// dir, then "\" unless dir ends in one (a "/" does not count; an empty dir does not end
// in one), then name. False, with out empty, when the result would exceed kMaxPath or
// size: a path is never cut short into another file's path.
bool join_path(const char* dir, const char* name, char* out, size_t size) noexcept;

// The age test: 1 when first's last-write time is strictly earlier than second's; 0
// when it is equal or later, and when either file cannot be opened (exclusively, on
// Windows: a file someone else holds open counts as not older).
int MyFileCompare(const char* first, const char* second) noexcept;

enum class CopyOutcome {
    Copied,           // the file was copied and its times carried over
    NotCopied,        // the copy was attempted and failed (a directory, a file in use...)
    Refused,          // the source is older: destination untouched, line logged
    RefusedUnlogged,  // the same, but the log could not take the line
    Skipped,          // a path did not fit in kMaxPath: nothing was done
};

// What the directory walk did with one entry; a path that did not fit is empty.
struct CopyEvent {
    const char* name;
    bool is_dir;
    const char* source;
    const char* destination;
    CopyOutcome outcome;
};

class CopyObserver {
public:
    virtual void entry(const CopyEvent& event) noexcept = 0;

protected:
    ~CopyObserver() = default;
};

// Every entry of source_dir that matches pattern (files and subdirectories alike,
// hidden and dot names too, in the search's order) is copied to the same name in
// destination_dir, guarded: the age test, then either the install log's line (the
// source is older) or the copy, which carries the source's times. 1 when the search found at least one entry, else 0 (also
// when the search text does not fit). The observer, when given, hears of each entry.
int MyCopyFiles(const char* source_dir, const char* destination_dir, const char* pattern,
                CopyObserver* observer = nullptr) noexcept;

}  // namespace qm::fileutil
