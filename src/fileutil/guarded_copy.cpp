#include "fileutil/guarded_copy.h"

#include <cstdio>
#include <cstring>

#include "fileutil/install_log.h"
#include "platform/dirsearch.h"
#include "platform/fileops.h"
#include "platform/whole_file.h"
#include "session/session.h"

namespace qm::fileutil {

using plat::ExclusiveFile;

bool join_path(const char* dir, const char* name, char* out, size_t size) noexcept {
    if (size == 0) return false;
    const size_t len = std::strlen(dir);
    const char* sep = (len > 0 && dir[len - 1] == '\\') ? "" : "\\";
    const int n = std::snprintf(out, size, "%s%s%s", dir, sep, name);
    if (n < 0 || static_cast<size_t>(n) >= size || static_cast<size_t>(n) > kMaxPath) {
        out[0] = '\0';
        return false;
    }
    return true;
}

namespace {

// The age test; code gets the failing call's code when a file cannot be opened or read.
int compare_write_times(const char* first, const char* second, unsigned long* code) noexcept {
    // The second file is opened first: when it cannot be opened (most often a copy's
    // destination that is not there yet) the first need not be, and the result is 0
    // whichever open fails.
    ExclusiveFile a, b;
    plat::FileTimes ta, tb;
    if (!b.open(second, ExclusiveFile::Access::Read) || !a.open(first, ExclusiveFile::Access::Read) ||
        !a.get_times(&ta) || !b.get_times(&tb)) {
        *code = plat::failed_call_error();
        return 0;
    }
    return plat::compare_file_time(ta.write, tb.write) == -1 ? 1 : 0;
}

}  // namespace

int MyFileCompare(const char* first, const char* second) noexcept {
    if (!first || !second) {
        session::fail(plat::win32::kInvalidParameter);
        return 0;
    }
    unsigned long code = 0;
    const int r = compare_write_times(first, second, &code);
    if (code != 0) session::fail(code);
    return r;
}

int CopyFileTimes(const char* source, const char* destination) noexcept {
    ExclusiveFile from, to;
    if (!from.open(source, ExclusiveFile::Access::Read)) return 0;
    if (!to.open(destination, ExclusiveFile::Access::SetTimes)) return 0;
    plat::FileTimes t;
    if (from.get_times(&t)) (void)to.set_times(t);
    return 1;
}

CopyOutcome GuardedCopy(const char* source, const char* destination, plat::WholeFileScope* scope) noexcept {
    unsigned long missing_destination = 0;  // the usual case of a copy, no failure
    if (compare_write_times(source, destination, &missing_destination) == 1) {
        char line[kMaxLogLine + 1];
        const int n = std::snprintf(line, sizeof line, "%s is older than %s\n", source, destination);
        // A line cut short would name a file that was never refused: it stays unwritten,
        // as when the log cannot be opened. The refusal stands either way.
        session::note("not copied: \"%s\" is older than \"%s\"", source, destination);
        if (n < 0 || static_cast<size_t>(n) >= sizeof line) return CopyOutcome::RefusedUnlogged;
        return AppendInstallLog(line) ? CopyOutcome::Refused : CopyOutcome::RefusedUnlogged;
    }
    // The times go only onto a copy that was made: stamped on a destination the copy
    // could not replace, they would make its old content pass for the source's.
    if (!plat::copy_file_replace(source, destination, scope)) return CopyOutcome::NotCopied;
    (void)CopyFileTimes(source, destination);
    return CopyOutcome::Copied;
}

int GuardedCopyFile(const char* source, const char* destination) noexcept {
    const CopyOutcome o = GuardedCopy(source, destination);
    return (o == CopyOutcome::Refused || o == CopyOutcome::RefusedUnlogged) ? 0 : 1;
}

int MyCopyFiles(const char* source_dir, const char* destination_dir, const char* pattern,
                CopyObserver* observer) noexcept {
    if (!source_dir || !destination_dir || !pattern) {
        session::fail(plat::win32::kInvalidParameter);
        return 0;
    }
    char search[kMaxPath + 1];
    if (!join_path(source_dir, pattern, search, sizeof search)) {
        session::fail(plat::win32::kFilenameTooLong);
        return 0;
    }
    plat::DirSearch found;
    if (!found.first(search)) {
        session::fail_platform();
        return 0;
    }
    plat::WholeFileScope writes;
    do {
        char source[kMaxPath + 1], destination[kMaxPath + 1];
        // Both joins always run, so the observer sees whichever path did fit.
        const bool src_fits = join_path(source_dir, found.name(), source, sizeof source);
        const bool dst_fits = join_path(destination_dir, found.name(), destination, sizeof destination);
        const CopyOutcome outcome =
            (src_fits && dst_fits) ? GuardedCopy(source, destination, &writes) : CopyOutcome::Skipped;
        // A directory is never copied (".", ".." and subdirectories match a pattern too):
        // that is no failure of the call.
        if (outcome == CopyOutcome::NotCopied && !found.is_dir()) {
            const unsigned long code = plat::failed_call_error();  // the copy's, just now
            session::fail(code);
            session::note("copy of \"%s\" to \"%s\" failed: error %lu", source, destination, code);
        }
        if (outcome == CopyOutcome::Skipped && !found.is_dir()) {
            session::fail(plat::win32::kFilenameTooLong);
            session::note("\"%s\" not copied: its path is too long", found.name());
        }
        if (observer) observer->entry(CopyEvent{found.name(), found.is_dir(), source, destination, outcome});
    } while (found.next());
    (void)found.close();
    return 1;
}

}  // namespace qm::fileutil
