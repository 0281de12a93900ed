#include "packages/expand.h"

#include <cstdio>
#include <cstring>

#include "platform/fs.h"
#include "platform/notify.h"
#include "platform/whole_file.h"
#include "extract/extract.h"
#include "tar/tar.h"

namespace qm::packages {

namespace {

using namespace qm::tar;
using extract::Extracted;

void lower_ascii(char* s) noexcept {
    for (; *s; ++s)
        if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s + 32);
}

// Creates the context and opens the package; false when there is nothing to walk.
// what_not ("Package not expanded.") ends the texts the user is shown.
bool open_package(TarContextPtr& c, const char* package, const char* what_not,
                  PackageOutcome* outcome) noexcept {
    char text[kMessageSize];
    c = TarCreate();
    if (!c) {
        TarFormat(text, "ERROR: out of memory. %s", what_not);
        plat::notify_error(text);
        if (outcome) {
            outcome->load = TarLoad::NoMemory;
            std::snprintf(outcome->message, sizeof outcome->message, "%s", text);
        }
        return false;
    }
    const TarLoad load = TarOpen(c.get(), package);
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
    (void)plat::change_dir(target);
    const plat::WholeFileDirectoryScope directories;
    TarContextPtr c;
    if (!open_package(c, package, "Package not expanded.", outcome)) return 0;
    int64_t members = 0;
    char message[kMessageSize];
    TarStep step = TarStep::Member;
    do {
        const TarEntry& e = TarCurrent(c.get());
        if (observer) observer->member(observer->context, ++members, e.offset, TarPackageSize(c.get()));
        // A newer file kept on disk goes on silently.
        if (extract::TarExtract(e, message) == Extracted::Failed) {
            plat::notify_error(message);
            break;
        }
        step = TarNext(c.get());
        if (step == TarStep::Stopped) plat::notify_error(TarMessage(c.get()));
    } while (step == TarStep::Member);
    return 0;
}

int GetManifestFile(const char* package, const char* target) noexcept {
    return GetManifestFileReported(package, target, nullptr);
}

int GetManifestFileReported(const char* package, const char* target, PackageOutcome* outcome) noexcept {
    char base[256];
    split_file_name(package, base, sizeof base);
    char manifest[sizeof base + 4];
    std::snprintf(manifest, sizeof manifest, "%s.mfs", base);

    (void)plat::change_dir(target);
    const plat::WholeFileDirectoryScope directories;
    TarContextPtr c;
    if (!open_package(c, package, "Manifest not extracted.", outcome)) return 0;
    lower_ascii(manifest);
    char message[kMessageSize];
    while (!TarAtEnd(c.get())) {
        // The member is extracted under its lower-cased name.
        TarEntry e = TarCurrent(c.get());
        lower_ascii(e.name);
        if (std::strstr(e.name, manifest)) {
            // Only the first match counts, even when a newer file on disk kept it.
            if (extract::TarExtract(e, message) == Extracted::Failed) plat::notify_error(message);
            break;
        }
        if (TarNext(c.get()) == TarStep::Stopped) {
            plat::notify_error(TarMessage(c.get()));
            break;
        }
    }
    return 0;
}

}  // namespace qm::packages
