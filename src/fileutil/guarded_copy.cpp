#include "fileutil/guarded_copy.h"

#include <cstdio>
#include <cstring>

#include "fileutil/install_log.h"
#include "platform/dirsearch.h"
#include "platform/fileops.h"
#include "platform/pipeline.h"
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

namespace {

// One entry of a guarded copy: what a worker does with it (the age test, then the copy
// and its times), and what the walking thread then reports, in the search's order.
struct CopyJob {
    char name[261];  // as the search gives it (MAX_PATH)
    char source[kMaxPath + 1];
    char destination[kMaxPath + 1];
    bool fits;
    bool is_dir;
    CopyOutcome outcome;
    unsigned long code;  // NotCopied: the failing call's
};

// The age test, then the copy with its times; Refused here is not logged yet. The times
// go onto the copy before it takes the destination's name, never onto a destination the
// copy could not replace (they would make its old content pass for the source's).
CopyOutcome copy_unlogged(const char* source, const char* destination, plat::WholeFileScope* scope) noexcept {
    unsigned long missing_destination = 0;  // the usual case of a copy, no failure
    if (compare_write_times(source, destination, &missing_destination) == 1) return CopyOutcome::Refused;
    return plat::copy_file_replace(source, destination, scope) ? CopyOutcome::Copied : CopyOutcome::NotCopied;
}

void copy_one(CopyJob& j, void* scope) noexcept {
    j.outcome = j.fits ? copy_unlogged(j.source, j.destination, static_cast<plat::WholeFileScope*>(scope))
                       : CopyOutcome::Skipped;
    // The failing call's code is this thread's, just now.
    j.code = j.outcome == CopyOutcome::NotCopied ? plat::failed_call_error() : 0;
}

// A refusal's line in the install log, in the walk's order.
CopyOutcome log_refusal(const char* source, const char* destination) noexcept {
    char line[kMaxLogLine + 1];
    const int n = std::snprintf(line, sizeof line, "%s is older than %s\n", source, destination);
    // A line cut short would name a file that was never refused: it stays unwritten,
    // as when the log cannot be opened. The refusal stands either way.
    session::note("not copied: \"%s\" is older than \"%s\"", source, destination);
    if (n < 0 || static_cast<size_t>(n) >= sizeof line) return CopyOutcome::RefusedUnlogged;
    return AppendInstallLog(line) ? CopyOutcome::Refused : CopyOutcome::RefusedUnlogged;
}

}  // namespace

CopyOutcome GuardedCopy(const char* source, const char* destination, plat::WholeFileScope* scope) noexcept {
    const CopyOutcome o = copy_unlogged(source, destination, scope);
    return o == CopyOutcome::Refused ? log_refusal(source, destination) : o;
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
    // The files are copied side by side; what the caller sees of each (the install log's
    // line, the session's note, the observer) comes in the search's order.
    plat::Pipeline<CopyJob> copies(plat::writing_threads(), &copy_one, &writes);
    const auto report = [&] {
        CopyJob& j = copies.take();
        // A copy that failed beside others (the disk full for the moment with their
        // temporaries) is tried once more alone, as it would have been one after another.
        if (j.outcome == CopyOutcome::NotCopied && !j.is_dir && copies.workers() > 0) copy_one(j, &writes);
        CopyOutcome outcome = j.outcome;
        if (outcome == CopyOutcome::Refused) outcome = log_refusal(j.source, j.destination);
        // A directory is never copied (".", ".." and subdirectories match a pattern too):
        // that is no failure of the call.
        if (outcome == CopyOutcome::NotCopied && !j.is_dir) {
            session::fail(j.code);
            session::note("copy of \"%s\" to \"%s\" failed: error %lu", j.source, j.destination, j.code);
        }
        if (outcome == CopyOutcome::Skipped && !j.is_dir) {
            session::fail(plat::win32::kFilenameTooLong);
            session::note("\"%s\" not copied: its path is too long", j.name);
        }
        if (observer) observer->entry(CopyEvent{j.name, j.is_dir, j.source, j.destination, outcome});
    };
    do {
        if (copies.full()) report();
        CopyJob& j = copies.next();
        std::snprintf(j.name, sizeof j.name, "%s", found.name());
        // Both joins always run, so the observer sees whichever path did fit.
        const bool src_fits = join_path(source_dir, found.name(), j.source, sizeof j.source);
        const bool dst_fits = join_path(destination_dir, found.name(), j.destination, sizeof j.destination);
        j.fits = src_fits && dst_fits;
        j.is_dir = found.is_dir();
        copies.give();
    } while (found.next());
    while (!copies.empty()) report();
    (void)found.close();
    return 1;
}

}  // namespace qm::fileutil
