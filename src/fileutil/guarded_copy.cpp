#include "fileutil/guarded_copy.h"

#include <cstdio>
#include <cstring>

#include "fileutil/install_log.h"
#include "platform/alloc.h"
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

// The age test: 1 when first was last written strictly earlier than second. A file that
// cannot be opened or read gives 0, and that step's result goes to *failure.
int compare_write_times(const char* first, const char* second, plat::CallResult* failure) noexcept {
    // The second file is opened first: when it cannot be opened (most often a copy's
    // destination that is not there yet) the first need not be, and the result is 0
    // whichever open fails.
    ExclusiveFile a, b;
    plat::FileTimes ta, tb;
    plat::CallResult r = b.open(second, ExclusiveFile::Access::Read);
    if (r.ok()) r = a.open(first, ExclusiveFile::Access::Read);
    if (r.ok()) r = a.get_times(&ta);
    if (r.ok()) r = b.get_times(&tb);
    if (!r.ok()) {
        *failure = r;
        return 0;
    }
    return plat::compare_file_time(ta.write, tb.write) == -1 ? 1 : 0;
}

// One entry of a guarded copy: what a worker does with it (the age test, then the copy
// staged with its times), the name it then gets in the search's order, and what the
// walking thread then reports.
struct CopyJob {
    char name[261];  // as the search gives it (MAX_PATH)
    char source[kMaxPath + 1];
    char destination[kMaxPath + 1];
    bool fits;
    bool is_dir;
    CopyOutcome outcome;
    plat::FileCopy copy;
    plat::CallResult failure;  // NotCopied: the failing step's
};

// The age test, then the copy staged with its times; Refused here is not logged yet. The
// times go onto the copy before it takes the destination's name, never onto a
// destination the copy could not replace (they would make its old content pass for the
// source's).
void stage_copy(CopyJob& j, void* scope) noexcept {
    j.failure = plat::CallResult{};
    j.copy.discard();
    if (!j.fits) {
        j.outcome = CopyOutcome::Skipped;
        return;
    }
    plat::CallResult missing_destination;  // the usual case of a copy, no failure
    if (compare_write_times(j.source, j.destination, &missing_destination) == 1) {
        j.outcome = CopyOutcome::Refused;
        return;
    }
    j.failure = j.copy.stage(j.source, j.destination, static_cast<plat::WholeFileScope*>(scope));
    j.outcome = j.failure.ok() ? CopyOutcome::Copied : CopyOutcome::NotCopied;
}

// The staged copy takes the destination's name, in the search's order. A copy that
// failed never stops the others.
bool name_copy(CopyJob& j, void*) noexcept {
    if (j.outcome != CopyOutcome::Copied) return true;
    j.failure = j.copy.publish();
    if (!j.failure.ok()) j.outcome = CopyOutcome::NotCopied;
    return true;
}

// A copy whose staging found no room may have lost it to the copies staged beside it.
bool copy_found_no_room(const CopyJob& j, void*) noexcept {
    return j.outcome == CopyOutcome::NotCopied && j.failure.code == plat::win32::kDiskFull;
}

void let_copy_go(CopyJob& j, void*) noexcept { j.copy.discard(); }

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

int compare(const char* first, const char* second, session::Status& st) noexcept {
    if (!first || !second) {
        st.add(plat::win32::kInvalidParameter);
        return 0;
    }
    plat::CallResult failure;
    const int r = compare_write_times(first, second, &failure);
    st.add(failure);
    return r;
}

int copy_matches(const char* source_dir, const char* destination_dir, const char* pattern, CopyObserver* observer,
                 session::Status& st) noexcept {
    if (!source_dir || !destination_dir || !pattern) {
        st.add(plat::win32::kInvalidParameter);
        return 0;
    }
    char search[kMaxPath + 1];
    if (!join_path(source_dir, pattern, search, sizeof search)) {
        st.add(plat::win32::kFilenameTooLong);
        return 0;
    }
    plat::DirSearch found;
    if (const plat::CallResult r = found.first(search); !r.ok()) {
        st.add(r);
        return 0;
    }
    plat::WholeFileScope writes;
    // The files are copied side by side; what the caller sees of each (the install log's
    // line, the session's note, the observer) comes in the search's order.
    // A copy that found no room beside others (the disk full for the moment with their
    // temporaries) is done again alone, as it would have been one after another. The
    // window of copies is on the heap, not on the caller's stack.
    const auto pipeline = try_make<plat::Pipeline<CopyJob>>(plat::writing_threads(), &stage_copy, &writes,
                                                            &name_copy, &copy_found_no_room, &let_copy_go);
    if (!pipeline) {
        st.add(plat::win32::kNotEnoughMemory);
        return 1;  // the search found what it was asked for; nothing was copied
    }
    plat::Pipeline<CopyJob>& copies = *pipeline;
    const auto report = [&] {
        CopyJob& j = copies.take();
        CopyOutcome outcome = j.outcome;
        if (outcome == CopyOutcome::Refused) outcome = log_refusal(j.source, j.destination);
        // A directory is never copied (".", ".." and subdirectories match a pattern too):
        // that is no failure of the call.
        if (outcome == CopyOutcome::NotCopied && !j.is_dir) {
            st.add(j.failure);
            session::note("copy of \"%s\" to \"%s\" failed: error %lu", j.source, j.destination, j.failure.code);
        }
        if (outcome == CopyOutcome::Skipped && !j.is_dir) {
            st.add(plat::win32::kFilenameTooLong);
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

}  // namespace

int MyFileCompare(const char* first, const char* second) noexcept {
    return session::reporting([&](session::Status& st) { return compare(first, second, st); });
}

int MyCopyFiles(const char* source_dir, const char* destination_dir, const char* pattern,
                CopyObserver* observer) noexcept {
    return session::reporting(
        [&](session::Status& st) { return copy_matches(source_dir, destination_dir, pattern, observer, st); });
}

}  // namespace qm::fileutil
