#include "packages/expand.h"

#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/notify.h"
#include "platform/whole_file.h"
#include "extract/extract.h"
#include "session/session.h"
#include "tar/tar.h"

namespace qm::packages {

namespace {

using namespace qm::tar;
using extract::Extracted;

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
void report_not_loaded(const char* package, TarLoad load, unsigned long platform_code,
                       const char* message) noexcept {
    unsigned long code = win32::kInvalidData;
    switch (load) {
        case TarLoad::Loaded: return;
        case TarLoad::Missing: code = win32::kFileNotFound; break;
        case TarLoad::NotAFile: code = win32::kAccessDenied; break;
        case TarLoad::NoMemory: code = win32::kNotEnoughMemory; break;
        case TarLoad::CannotOpen:
        case TarLoad::ReadError: code = platform_code; break;
        default: break;
    }
    session::fail(code);
    session::note("package \"%s\" not loaded, nothing installed: %s", package ? package : "(null)",
                  message && *message ? message : "the first block is not a usable header");
}

// Creates the context and opens the package; false when there is nothing to walk.
// what_not ("Package not expanded.") ends the texts the user is shown.
bool open_package(TarContextPtr& c, const char* package, const char* what_not,
                  PackageOutcome* outcome) noexcept {
    char text[kMessageSize];
    c = TarCreate();
    if (!c) {
        session::fail(win32::kNotEnoughMemory);
        TarFormat(text, "ERROR: out of memory. %s", what_not);
        plat::notify_error(text);
        if (outcome) {
            outcome->load = TarLoad::NoMemory;
            std::snprintf(outcome->message, sizeof outcome->message, "%s", text);
        }
        return false;
    }
    const TarLoad load = TarOpen(c.get(), package);
    const unsigned long platform_code =
        (load == TarLoad::CannotOpen || load == TarLoad::ReadError) ? plat::failed_call_error() : 0;
    report_not_loaded(package, load, platform_code, TarMessage(c.get()));
    if (outcome) {
        outcome->load = load;
        outcome->size = TarPackageSize(c.get());
        std::snprintf(outcome->message, sizeof outcome->message, "%s", TarMessage(c.get()));
    }
    if (load == TarLoad::NoMemory) {
        // Too large for this process: the one load failure the user is told of.
        TarFormat(text, "ERROR: out of memory for package \"%s\" (%lld bytes). %s", package,
                  static_cast<long long>(TarPackageSize(c.get())), what_not);
        plat::notify_error(text);
    }
    return load == TarLoad::Loaded;
}

// Where and why the walk ended, for the log; a damaged header is a failure of the call.
void describe_ending(const TarContext* c, char* out, size_t size) noexcept {
    const TarEnding end = TarWhyEnded(c);
    const long long at = static_cast<long long>(end.offset);
    switch (end.kind) {
        case TarEnding::Kind::ImageEnd:
            std::snprintf(out, size, "ended at the end of the package (offset %lld)", at);
            return;
        case TarEnding::Kind::Blank:
            std::snprintf(out, size, "ended at the end-of-archive block (offset %lld)", at);
            return;
        case TarEnding::Kind::RefusedType:
            std::snprintf(out, size, "stopped at a refused header type (offset %lld)", at);
            return;
        case TarEnding::Kind::Damaged:
        case TarEnding::Kind::EmptyName: {
            session::fail(win32::kInvalidData);
            char first[kNameSize] = "";
            const int64_t after = TarHeadersAfter(c, end.offset, first, sizeof first);
            std::snprintf(out, size, "ended at a %s header (offset %lld); %lld member(s) after it never reached",
                          end.kind == TarEnding::Kind::Damaged ? "damaged" : "nameless", at,
                          static_cast<long long>(after));
            return;
        }
    }
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
                          PackageOutcome* outcome) noexcept {
    if (!package || !target) session::fail(win32::kInvalidParameter);
    enter_target(target);
    plat::WholeFileScope directories;
    TarContextPtr c;
    if (!open_package(c, package, "Package not expanded.", outcome)) return 0;
    int64_t members = 0, written = 0, kept = 0;
    int refused = 0;
    char message[kMessageSize];
    char stopped[kNameSize + 96] = "";
    TarStep step = TarStep::Member;
    do {
        const TarEntry& e = TarCurrent(c.get());
        if (observer) observer->member(observer->context, ++members, e.offset, TarPackageSize(c.get()));
        // A newer file kept on disk goes on silently.
        const Extracted x = extract::TarExtract(e, message, &directories);
        if (x == Extracted::Failed) {
            // A step of the write has recorded its own code; what is left is a refusal.
            session::fail(win32::kInvalidData);
            refused = 1;
            std::snprintf(stopped, sizeof stopped, "stopped at member \"%s\" (offset %lld)", e.name,
                          static_cast<long long>(e.offset));
            plat::notify_error(message);
            break;
        }
        ++(x == Extracted::KeptNewer ? kept : written);
        step = TarNext(c.get());
        if (step == TarStep::Stopped) {
            session::fail(win32::kInvalidData);
            refused = 1;
            plat::notify_error(TarMessage(c.get()));
        }
    } while (step == TarStep::Member);
    if (!stopped[0]) describe_ending(c.get(), stopped, sizeof stopped);
    session::note("expanded \"%s\": %lld written, %lld kept (newer on disk), %d refused or failed; %s",
                  package, static_cast<long long>(written), static_cast<long long>(kept), refused, stopped);
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
    if (!open_package(c, package, "Manifest not extracted.", outcome)) return 0;
    lower_ascii(manifest);
    char message[kMessageSize];
    const char* what = nullptr;
    while (!TarAtEnd(c.get())) {
        // The member is extracted under its lower-cased name.
        TarEntry e = TarCurrent(c.get());
        lower_ascii(e.name);
        if (std::strstr(e.name, manifest)) {
            // Only the first match counts, even when a newer file on disk kept it.
            const Extracted x = extract::TarExtract(e, message, &directories);
            what = x == Extracted::Written ? "written" : x == Extracted::KeptNewer ? "kept (newer on disk)" : "refused";
            if (x == Extracted::Failed) {
                session::fail(win32::kInvalidData);
                plat::notify_error(message);
            }
            break;
        }
        if (TarNext(c.get()) == TarStep::Stopped) {
            session::fail(win32::kInvalidData);
            plat::notify_error(TarMessage(c.get()));
            break;
        }
    }
    if (!what) session::fail(win32::kFileNotFound);
    session::note("manifest \"%s\" of \"%s\": %s", manifest, package, what ? what : "not in the package");
    return 0;
}

}  // namespace qm::packages
