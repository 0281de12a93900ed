#include "packages/expand.h"

#include <cstdio>
#include <cstring>

#include "platform/fs.h"
#include "platform/notify.h"
#include "tar/tar.h"

namespace qm::packages {

namespace {

using namespace qm::tar;

void lower_ascii(char* s) noexcept {
    for (; *s; ++s)
        if (*s >= 'A' && *s <= 'Z') *s = static_cast<char>(*s + 32);
}

void show_if_any(const TarContext* c) noexcept {
    const char* m = TarMessage(c);
    if (m[0] != '\0') plat::notify_error(m);
}

}  // namespace

void SplitFileName(const char* path, char* out, size_t size) noexcept {
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

int ExpandPackageObserved(const char* package, const char* target,
                          const ExpandObserver* observer) noexcept {
    (void)plat::change_dir(target);
    TarContextPtr c = TarCreate();
    if (!c) {
        plat::notify_error("ERROR: out of memory. Package not expanded.");
        return 0;
    }
    if (TarOpen(c.get(), package) != 0) return 0;
    int64_t members = 0;
    while (true) {
        if (observer) {
            observer->member(observer->context, ++members, c->cursor - c->image.get(), c->imageSize);
        }
        if (TarExtract(c.get()) == -1 && TarMessage(c.get())[0] != '\0') {
            show_if_any(c.get());
            break;
        }
        if (TarNext(c.get()) == -1 && TarMessage(c.get())[0] != '\0') {
            show_if_any(c.get());
            break;
        }
        if (TarAtEnd(c.get())) break;
    }
    return 0;
}

int GetManifestFile(const char* package, const char* target) noexcept {
    char base[256];
    SplitFileName(package, base, sizeof base);
    char manifest[sizeof base + 4];
    std::snprintf(manifest, sizeof manifest, "%s.mfs", base);

    (void)plat::change_dir(target);
    TarContextPtr c = TarCreate();
    if (!c) {
        plat::notify_error("ERROR: out of memory. Manifest not extracted.");
        return 0;
    }
    if (TarOpen(c.get(), package) != 0) return 0;
    lower_ascii(manifest);
    while (!TarAtEnd(c.get())) {
        TarEntry* e = c->currentEntry;
        lower_ascii(e->name);
        if (std::strstr(e->name, manifest)) {
            const int r = TarExtract(c.get());
            if (r == 0 || r == 2) break;
            if (r == -1 && TarMessage(c.get())[0] != '\0') {
                show_if_any(c.get());
                break;
            }
        }
        if (TarNext(c.get()) == -1 && TarMessage(c.get())[0] != '\0') {
            show_if_any(c.get());
            break;
        }
    }
    return 0;
}

}  // namespace qm::packages
