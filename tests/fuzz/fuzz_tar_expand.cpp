// Any bytes as a package: the walk, the extraction into a scratch directory and the
// removal of the same package from it must never crash, never read outside the image,
// and never write outside the scratch directory, nor remove the package or the target.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/notify.h"
#include "extract/extract.h"
#include "packages/remove.h"
#include "tar/tar.h"
#include "tar/walk.h"

namespace {

void quiet(const char*) noexcept {}

// Removes everything below path (not path itself); no symlinks are ever created.
void clear_dir(const std::string& path) {
    DIR* d = opendir(path.c_str());
    if (!d) return;
    while (dirent* e = readdir(d)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        std::string p = path + "/" + e->d_name;
        struct stat st;
        if (lstat(p.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            chmod(p.c_str(), 0700);
            clear_dir(p);
            rmdir(p.c_str());
        } else {
            unlink(p.c_str());
        }
    }
    closedir(d);
}

struct Scratch {
    std::string root, target, package;
    Scratch() {
        char tmpl[] = "/tmp/qmfuzz-XXXXXX";
        root = mkdtemp(tmpl);
        target = root + "/target";
        package = root + "/p.pkg";
        mkdir(target.c_str(), 0700);
        qm::plat::set_notifier(quiet);
    }
    ~Scratch() {
        if (chdir("/") == 0) clear_dir(root);
        rmdir(root.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch s;
    FILE* f = std::fopen(s.package.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    if (chdir(s.target.c_str()) != 0) abort();

    qm::tar::TarContextPtr c = qm::tar::TarCreate();
    if (c && qm::tar::TarOpen(c.get(), s.package.c_str()) == qm::tar::TarLoad::Loaded) {
        int members = 0;
        qm::tar::walk_package(c.get(), [&](const qm::tar::TarEntry& e) {
            return ++members < 4096 && !qm::extract::stops_expansion(qm::extract::TarExtract(e).outcome);
        });
    }
    c.reset();

    // Nothing may exist beside the package and the target.
    DIR* d = opendir(s.root.c_str());
    while (dirent* e = readdir(d)) {
        const char* n = e->d_name;
        if (!std::strcmp(n, ".") || !std::strcmp(n, "..") || !std::strcmp(n, "target") ||
            !std::strcmp(n, "p.pkg"))
            continue;
        std::fprintf(stderr, "written outside the target: %s\n", n);
        abort();
    }
    closedir(d);
    c = qm::tar::TarCreate();
    if (c && qm::tar::TarOpen(c.get(), s.package.c_str()) == qm::tar::TarLoad::Loaded)
        qm::packages::remove_members(c.get(), "", true, {[](void*, const qm::packages::RemovalStep&) noexcept {}, nullptr});
    c.reset();
    if (access(s.package.c_str(), F_OK) != 0 || access(s.target.c_str(), F_OK) != 0) abort();
    clear_dir(s.target);
    return 0;
}
