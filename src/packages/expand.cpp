#include "packages/expand.h"

#include <cstdio>
#include <cstring>

#include "platform/alloc.h"
#include "platform/errors.h"
#include "platform/pipeline.h"
#include "platform/fs.h"
#include "platform/whole_file.h"
#include "extract/extract.h"
#include "extract/member.h"
#include "packages/transaction.h"
#include "session/session.h"
#include "tar/tar.h"
#include "tar/walk.h"

namespace qm::packages {

namespace {

using namespace qm::tar;
using extract::Outcome;

void lower_ascii(char* s) noexcept {
    for (; *s; ++s)
        if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s + 32);
}

namespace win32 = plat::win32;

// The target is entered as the installer always did; one that cannot be is passed
// over (the members go where the current directory is), and only the log hears of it.
void enter_target(const char* target, session::Status& st) noexcept {
    if (const int e = plat::change_dir(target)) {
        st.add(session::code_from_crt(e));
        session::note("cannot enter the target directory \"%s\": %s; members go into the current directory",
                      target ? target : "(null)", plat::error_text_or_null(e));
    }
}

}  // namespace

bool open_package(TarContextPtr& c, const char* package, const char* what_not, const char* nothing_done,
                  PackageOutcome* outcome, session::Status& st) noexcept {
    session::Status failed;
    c = TarCreate();
    if (!c) {
        failed.code = win32::kNotEnoughMemory;
        TarFormat(failed.message, "ERROR: out of memory. %s", what_not);
        st.add(failed);
        if (outcome) {
            outcome->load = TarLoad::NoMemory;
            std::snprintf(outcome->message, sizeof outcome->message, "%s", failed.message);
        }
        return false;
    }
    const TarLoad load = TarOpen(c.get(), package);
    if (outcome) {
        outcome->load = load;
        outcome->size = TarPackageSize(c.get());
        std::snprintf(outcome->message, sizeof outcome->message, "%s", TarMessage(c.get()));
    }
    if (load == TarLoad::Loaded) return true;
    failed.code = TarLoadCode(c.get());
    session::note("package \"%s\" not loaded, %s: %s", package ? package : "(null)", nothing_done,
                  TarMessage(c.get())[0] ? TarMessage(c.get()) : "the first block is not a usable header");
    // Too large for this process, or for the reader: the load failures the user is told of.
    const long long size = static_cast<long long>(TarPackageSize(c.get()));
    if (load == TarLoad::NoMemory)
        TarFormat(failed.message, "ERROR: out of memory for package \"%s\" (%lld bytes). %s", package, size,
                  what_not);
    if (load == TarLoad::TooLarge)
        TarFormat(failed.message, "ERROR: package \"%s\" is too large (%lld bytes; at most %lld). %s", package, size,
                  static_cast<long long>(kMaxPackageSize), what_not);
    st.add(failed);
    return false;
}

namespace {

// A member on its way: decided on the walking thread, staged on a worker when it stages
// ahead, committed in member order by whichever worker is free; the walking thread only
// takes the outcomes back.
struct MemberJob {
    extract::MemberWrite member;
    extract::Extraction result;
};

void stage_on_worker(MemberJob& j, void* scope) noexcept {
    j.result = extract::Extraction{};  // what a job the halt left uncommitted holds
    j.result.outcome = Outcome::NotReached;
    j.member.stage(static_cast<plat::WholeFileScope*>(scope));
}

bool commit_in_order(MemberJob& j, void* scope) noexcept {
    j.result = j.member.commit(static_cast<plat::WholeFileScope*>(scope));
    return !extract::stops_expansion(j.result.outcome);
}

// Staging, or the commit, found no room.
bool found_no_room(const MemberJob& j, void*) noexcept {
    return j.member.no_room() || j.result.status.code == win32::kDiskFull;
}

void let_go(MemberJob& j, void*) noexcept { j.member.drop(); }

// Batches serve the flush of replacements: wanted once the walk meets some.
bool batches_serve(void* scope) noexcept { return static_cast<plat::WholeFileScope*>(scope)->expects_replacements(); }

// The reader refused a header's type: the walk, and the operation, stop with its text.
session::Status reader_stop(const TarContext* c) noexcept {
    session::Status st;
    st.code = win32::kInvalidData;
    std::snprintf(st.message, sizeof st.message, "%s", TarMessage(c));
    return st;
}

}  // namespace

void describe_ending(const TarContext* c, const Ending& end, char* out, size_t size, session::Status& st) noexcept {
    const long long at = static_cast<long long>(end.offset);
    switch (end.kind) {
        case Ending::Kind::Halted:
            return;  // the member that halted it says why
        case Ending::Kind::PackageEnd:
            std::snprintf(out, size, "ended at the end of the package (offset %lld)", at);
            return;
        case Ending::Kind::EndBlock:
            std::snprintf(out, size, "ended at the end-of-archive block (offset %lld)", at);
            return;
        case Ending::Kind::RefusedType:
            std::snprintf(out, size, "stopped at a refused header type (offset %lld)", at);
            return;
        case Ending::Kind::Damaged:
        case Ending::Kind::Nameless: {
            st.add(win32::kInvalidData);
            char first[kNameSize] = "";
            const int64_t after = TarHeadersAfter(c, end.offset, first, sizeof first);
            std::snprintf(out, size, "ended at a %s header (offset %lld); %lld member(s) after it never reached",
                          end.kind == Ending::Kind::Damaged ? "damaged" : "nameless", at,
                          static_cast<long long>(after));
            return;
        }
    }
}

namespace {

// What one expansion came to: its status for the session, and what the log is told of
// it once the user has seen the box.
struct Expansion {
    session::Status status;
    bool loaded = false;
    int64_t written = 0, kept = 0;
    int refused = 0;
    unsigned workers = 0;
    char stopped[kNameSize + 96] = "";
    bool whole = false;
    WholeExpansion whole_outcome;
};

void expand(const char* package, const char* target, const ExpandObserver* observer, PackageOutcome* outcome,
            Expansion& x) noexcept {
    if (!package || !target) x.status.add(win32::kInvalidParameter);
    enter_target(target, x.status);
    // An expansion into the target that was ended midway is finished or undone first.
    if (!recover_before(target, x.whole, x.status)) return;
    // The members of a window are staged before any of them is named: one flush makes
    // every replacement among them durable before its rename.
    plat::WholeFileScope directories(plat::WholeFileScope::Durability::Batched);
    TarContextPtr c;
    if (!open_package(c, package, "Package not expanded.", "nothing installed", outcome, x.status)) return;
    if (x.whole) {
        x.loaded = true;
        expand_whole(c.get(), package, target, observer, x.whole_outcome, x.status);
        return;
    }
    // Every member takes the one path (extract/member.h). Those that stage ahead are
    // staged on the workers and committed there in member order; the others are committed
    // here once what is in flight is. Every outcome is taken here. The window of members
    // is most of a megabyte: on the heap, not on the caller's stack.
    const auto pipeline = try_make<plat::Pipeline<MemberJob>>(plat::writing_threads(), &stage_on_worker,
                                                              &directories, &commit_in_order, &found_no_room, &let_go,
                                                              &batches_serve);
    if (!pipeline) {
        session::Status no_memory;
        no_memory.code = win32::kNotEnoughMemory;
        TarFormat(no_memory.message, "ERROR: out of memory. %s", "Package not expanded.");
        x.status.add(no_memory);
        return;
    }
    plat::Pipeline<MemberJob>& stager = *pipeline;
    x.loaded = true;
    int64_t members = 0;
    x.workers = stager.workers();
    const extract::PathProbe disk = extract::DiskProbe();
    extract::WayCache way;
    extract::RecentNames in_flight;
    static_assert(plat::Pipeline<MemberJob>::window() <= extract::RecentNames::kNames,
                  "every member the window may hold uncommitted is remembered");
    const auto counted = [&](const TarEntry& e, const extract::Extraction& m) {
        if (extract::stops_expansion(m.outcome)) {
            x.refused = 1;
            std::snprintf(x.stopped, sizeof x.stopped, "stopped at member \"%s\" (offset %lld)", e.name,
                          static_cast<long long>(e.offset));
            x.status.add(m.status);
            return false;
        }
        // A newer file kept on disk goes on silently.
        ++(m.outcome == Outcome::KeepNewer ? x.kept : x.written);
        return true;
    };
    const auto commit_oldest = [&] {
        MemberJob& j = stager.take();
        return counted(j.member.entry(), j.result);
    };
    const auto commit_all = [&] {
        while (!stager.empty())
            if (!commit_oldest()) return false;
        return true;
    };
    const Ending end = walk_package(c.get(), [&](const TarEntry& e) {
        if (observer) observer->member(observer->context, ++members, e.offset, TarPackageSize(c.get()));
        // A way not known yet is looked at as the members before left it.
        if (!extract::way_known(e, way) && !commit_all()) return false;
        if (stager.full() && !commit_oldest()) return false;
        MemberJob& j = stager.next();
        j.member.decide(e, disk, way);
        if (j.member.stages_ahead()) {
            if (!in_flight.repeats(e.name)) j.member.name_alone();
            stager.give();
            return true;
        }
        return commit_all() && counted(e, j.member.commit(&directories));
    });
    if (!x.stopped[0] && commit_all()) {
        if (end.stopped()) {
            x.refused = 1;
            x.status.add(reader_stop(c.get()));
        }
        describe_ending(c.get(), end, x.stopped, sizeof x.stopped, x.status);
    }
}

// What one manifest extraction came to.
struct ManifestRun {
    session::Status status;
    bool loaded = false;
    char manifest[256 + 4] = "";
    const char* what = nullptr;  // written, kept or refused; null: not in the package
};

void extract_manifest(const char* package, const char* target, PackageOutcome* outcome, ManifestRun& m) noexcept {
    if (!package || !target) m.status.add(win32::kInvalidParameter);
    if (!package) package = "";  // no package: nothing to find, as for a missing one
    char base[256];
    split_file_name(package, base, sizeof base);
    std::snprintf(m.manifest, sizeof m.manifest, "%s.mfs", base);

    enter_target(target, m.status);
    if (!recover_before(target, false, m.status)) return;
    plat::WholeFileScope directories;
    TarContextPtr c;
    if (!open_package(c, package, "Manifest not extracted.", "nothing installed", outcome, m.status)) return;
    m.loaded = true;
    lower_ascii(m.manifest);
    const Ending end = walk_package(c.get(), [&](const TarEntry& member) {
        // A nameless first header leaves nothing to look at.
        if (member.name[0] == '\0') return false;
        // The member is extracted under its lower-cased name.
        TarEntry e = member;
        lower_ascii(e.name);
        if (!std::strstr(e.name, m.manifest)) return true;
        // Only the first match counts, even when a newer file on disk kept it.
        const extract::Extraction x = extract::TarExtract(e, &directories);
        m.what = x.outcome == Outcome::KeepNewer ? "kept (newer on disk)"
                 : extract::stops_expansion(x.outcome) ? "refused" : "written";
        m.status.add(x.status);
        return false;
    });
    if (end.stopped()) m.status.add(reader_stop(c.get()));
    if (!m.what) m.status.add(win32::kFileNotFound);
}

}  // namespace

void split_file_name(const char* path, char* out, size_t size) noexcept {
    const char* p = path;
    if (p[0] != '\0' && p[1] == ':') p += 2;
    const char* base = p;
    for (const char* q = p; *q; ++q)
        if (*q == '\\' || *q == '/') base = q + 1;
    const char* dot = std::strrchr(base, '.');
    size_t len = dot ? static_cast<size_t>(dot - base) : std::strlen(base);
    if (len > 255) len = 255;
    if (size == 0) return;
    if (len >= size) len = size - 1;
    std::memcpy(out, base, len);
    out[len] = '\0';
}

int ExpandPackage(const char* package, const char* target) noexcept {
    return ExpandPackageObserved(package, target, nullptr);
}

int ExpandPackageObserved(const char* package, const char* target, const ExpandObserver* observer,
                          PackageOutcome* outcome, bool whole) noexcept {
    Expansion x;
    x.whole = whole || whole_package_asked();
    expand(package, target, observer, outcome, x);
    session::report(x.status);
    if (x.loaded && x.whole)
        session::note("expanded \"%s\" whole: %lld written, %lld kept (newer on disk); %s; %u worker(s)", package,
                      static_cast<long long>(x.whole_outcome.written), static_cast<long long>(x.whole_outcome.kept),
                      x.whole_outcome.outcome, x.whole_outcome.workers);
    else if (x.loaded)
        session::note("expanded \"%s\": %lld written, %lld kept (newer on disk), %d refused or failed; %s; %u worker(s)",
                      package, static_cast<long long>(x.written), static_cast<long long>(x.kept), x.refused,
                      x.stopped, x.workers);
    return 0;
}

int GetManifestFile(const char* package, const char* target) noexcept {
    return GetManifestFileReported(package, target, nullptr);
}

int GetManifestFileReported(const char* package, const char* target, PackageOutcome* outcome) noexcept {
    ManifestRun m;
    extract_manifest(package, target, outcome, m);
    session::report(m.status);
    if (m.loaded)
        session::note("manifest \"%s\" of \"%s\": %s", m.manifest, package ? package : "",
                      m.what ? m.what : "not in the package");
    return 0;
}

}  // namespace qm::packages
