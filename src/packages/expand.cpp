#include "packages/expand.h"

#include <cstdio>
#include <cstring>

#include "platform/alloc.h"
#include "platform/errors.h"
#include "platform/pipeline.h"
#include "platform/fs.h"
#include "platform/whole_file.h"
#include "extract/extract.h"
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
void enter_target(const char* target) noexcept {
    if (const int e = plat::change_dir(target)) {
        session::fail_crt(e);
        session::note("cannot enter the target directory \"%s\": %s; members go into the current directory",
                      target ? target : "(null)", plat::error_text_or_null(e));
    }
}

// A package that cannot be loaded passes silently in attended use; the last error and
// the log say which and why.
void report_not_loaded(const char* package, TarLoad load, unsigned long platform_code, const char* message,
                       const char* nothing_done) noexcept {
    unsigned long code = win32::kInvalidData;
    switch (load) {
        case TarLoad::Loaded: return;
        case TarLoad::Missing: code = win32::kFileNotFound; break;
        case TarLoad::NotAFile: code = win32::kAccessDenied; break;
        case TarLoad::NoMemory: code = win32::kNotEnoughMemory; break;
        case TarLoad::TooLarge: code = win32::kFileTooLarge; break;
        // Read while another program wrote it: what Windows says of a file in use.
        case TarLoad::Changed: code = win32::kSharingViolation; break;
        case TarLoad::CannotOpen:
        case TarLoad::ReadError: code = platform_code; break;
        default: break;
    }
    session::fail(code);
    session::note("package \"%s\" not loaded, %s: %s", package ? package : "(null)", nothing_done,
                  message && *message ? message : "the first block is not a usable header");
}

}  // namespace

bool open_package(TarContextPtr& c, const char* package, const char* what_not, const char* nothing_done,
                  PackageOutcome* outcome) noexcept {
    char text[kMessageSize];
    c = TarCreate();
    if (!c) {
        session::fail(win32::kNotEnoughMemory);
        TarFormat(text, "ERROR: out of memory. %s", what_not);
        session::show_error(text);
        if (outcome) {
            outcome->load = TarLoad::NoMemory;
            std::snprintf(outcome->message, sizeof outcome->message, "%s", text);
        }
        return false;
    }
    const TarLoad load = TarOpen(c.get(), package);
    const unsigned long platform_code =
        (load == TarLoad::CannotOpen || load == TarLoad::ReadError) ? plat::failed_call_error() : 0;
    report_not_loaded(package, load, platform_code, TarMessage(c.get()), nothing_done);
    if (outcome) {
        outcome->load = load;
        outcome->size = TarPackageSize(c.get());
        std::snprintf(outcome->message, sizeof outcome->message, "%s", TarMessage(c.get()));
    }
    // Too large for this process, or for the reader: the load failures the user is told of.
    const long long size = static_cast<long long>(TarPackageSize(c.get()));
    if (load == TarLoad::NoMemory) {
        TarFormat(text, "ERROR: out of memory for package \"%s\" (%lld bytes). %s", package, size, what_not);
        session::show_error(text);
    }
    if (load == TarLoad::TooLarge) {
        TarFormat(text, "ERROR: package \"%s\" is too large (%lld bytes; at most %lld). %s", package, size,
                  static_cast<long long>(kMaxPackageSize), what_not);
        session::show_error(text);
    }
    return load == TarLoad::Loaded;
}

namespace {

// A member assumed new: staged on a worker, then committed in member order by whichever
// worker is free; the calling thread only reports.
struct MemberJob {
    extract::StagedMember member;
    extract::Extraction result;
};

void stage_on_worker(MemberJob& j, void* scope) noexcept {
    j.result = extract::Extraction{};  // what a job the halt left uncommitted holds
    j.result.outcome = Outcome::NotReached;
    extract::stage_member(j.member, static_cast<plat::WholeFileScope*>(scope));
}

bool commit_in_order(MemberJob& j, void* scope) noexcept {
    j.result = extract::commit_member(j.member, static_cast<plat::WholeFileScope*>(scope));
    return !extract::stops_expansion(j.result.outcome);
}

// The reader refused a header's type: the walk, and the operation, stop with its text.
void report_reader_stop(const TarContext* c) noexcept {
    session::Status st;
    st.code = win32::kInvalidData;
    std::snprintf(st.message, sizeof st.message, "%s", TarMessage(c));
    session::report(st);
}

}  // namespace

void describe_ending(const TarContext* c, const Ending& end, char* out, size_t size) noexcept {
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
            session::fail(win32::kInvalidData);
            char first[kNameSize] = "";
            const int64_t after = TarHeadersAfter(c, end.offset, first, sizeof first);
            std::snprintf(out, size, "ended at a %s header (offset %lld); %lld member(s) after it never reached",
                          end.kind == Ending::Kind::Damaged ? "damaged" : "nameless", at,
                          static_cast<long long>(after));
            return;
        }
    }
}

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
                          PackageOutcome* outcome) noexcept {
    if (!package || !target) session::fail(win32::kInvalidParameter);
    enter_target(target);
    plat::WholeFileScope directories;
    TarContextPtr c;
    if (!open_package(c, package, "Package not expanded.", "nothing installed", outcome)) return 0;
    int64_t members = 0, written = 0, kept = 0;
    int refused = 0;
    char stopped[kNameSize + 96] = "";
    // Members assumed new are staged and committed on the workers, in member order;
    // everything else happens here, after what is in flight. Every report is made here.
    plat::Pipeline<MemberJob> stager(plat::writing_threads(), &stage_on_worker, &directories,
                                     &commit_in_order);
    const auto counted = [&](const TarEntry& e, const extract::Extraction& x) {
        if (extract::stops_expansion(x.outcome)) {
            refused = 1;
            std::snprintf(stopped, sizeof stopped, "stopped at member \"%s\" (offset %lld)", e.name,
                          static_cast<long long>(e.offset));
            session::report(x.status);
            return false;
        }
        // A newer file kept on disk goes on silently.
        ++(x.outcome == Outcome::KeepNewer ? kept : written);
        return true;
    };
    // A member that found no room while others were staged beside it may have lost the
    // room to their files: those after it are let go (none of them is committed after a
    // failure anyway), and it is written again alone, then they one after another, as
    // they would have been without the workers; only then does its failure stand.
    const auto again_alone = [&](const TarEntry& failed) {
        std::unique_ptr<TarEntry[]> later = try_make_array<TarEntry>(stager.window());
        if (!later) return false;
        size_t n = 0;
        while (!stager.empty()) {
            MemberJob& j = stager.take();
            j.member.out.discard();
            later[n++] = j.member.entry;
        }
        stager.resume();
        if (!counted(failed, extract::TarExtract(failed, &directories))) return true;
        for (size_t i = 0; i < n; ++i)
            if (!counted(later[i], extract::TarExtract(later[i], &directories))) return true;
        return true;
    };
    const auto commit_oldest = [&] {
        MemberJob& j = stager.take();
        if (j.result.status.code == win32::kDiskFull && stager.workers() > 0) {
            const TarEntry failed = j.member.entry;
            j.member.out.discard();
            if (again_alone(failed)) return !stopped[0];
        }
        return counted(j.member.entry, j.result);
    };
    const auto commit_all = [&] {
        while (!stager.empty())
            if (!commit_oldest()) return false;
        return true;
    };
    const Ending end = walk_package(c.get(), [&](const TarEntry& e) {
        if (observer) observer->member(observer->context, ++members, e.offset, TarPackageSize(c.get()));
        if (extract::stages_ahead(e)) {
            if (stager.full() && !commit_oldest()) return false;
            stager.next().member.entry = e;
            stager.give();
            return true;
        }
        return commit_all() && counted(e, extract::TarExtract(e, &directories));
    });
    if (!stopped[0] && commit_all()) {
        if (end.stopped()) {
            refused = 1;
            report_reader_stop(c.get());
        }
        describe_ending(c.get(), end, stopped, sizeof stopped);
    }
    session::note("expanded \"%s\": %lld written, %lld kept (newer on disk), %d refused or failed; %s; %u worker(s)",
                  package, static_cast<long long>(written), static_cast<long long>(kept), refused, stopped,
                  stager.workers());
    return 0;
}

int GetManifestFile(const char* package, const char* target) noexcept {
    return GetManifestFileReported(package, target, nullptr);
}

int GetManifestFileReported(const char* package, const char* target, PackageOutcome* outcome) noexcept {
    if (!package || !target) session::fail(win32::kInvalidParameter);
    if (!package) package = "";  // no package: nothing to find, as for a missing one
    char base[256];
    split_file_name(package, base, sizeof base);
    char manifest[sizeof base + 4];
    std::snprintf(manifest, sizeof manifest, "%s.mfs", base);

    enter_target(target);
    plat::WholeFileScope directories;
    TarContextPtr c;
    if (!open_package(c, package, "Manifest not extracted.", "nothing installed", outcome)) return 0;
    lower_ascii(manifest);
    const char* what = nullptr;
    const Ending end = walk_package(c.get(), [&](const TarEntry& member) {
        // A nameless first header leaves nothing to look at.
        if (member.name[0] == '\0') return false;
        // The member is extracted under its lower-cased name.
        TarEntry e = member;
        lower_ascii(e.name);
        if (!std::strstr(e.name, manifest)) return true;
        // Only the first match counts, even when a newer file on disk kept it.
        const extract::Extraction x = extract::TarExtract(e, &directories);
        what = x.outcome == Outcome::KeepNewer ? "kept (newer on disk)"
               : extract::stops_expansion(x.outcome) ? "refused" : "written";
        session::report(x.status);
        return false;
    });
    if (end.stopped()) report_reader_stop(c.get());
    if (!what) session::fail(win32::kFileNotFound);
    session::note("manifest \"%s\" of \"%s\": %s", manifest, package, what ? what : "not in the package");
    return 0;
}

}  // namespace qm::packages
