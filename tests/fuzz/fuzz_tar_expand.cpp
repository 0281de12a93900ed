// Any bytes as a package: the walk, the extraction into a scratch directory and the
// removal of the same package from it must never crash, never read outside the image,
// and never write or remove outside the scratch directory.
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
    // Nothing may exist beside the package and the target, and a removal of the same
    // package afterwards keeps both.
    const auto only_package_and_target = [&](const char* what) {
        int both = 0;
        DIR* d = opendir(s.root.c_str());
        while (dirent* e = readdir(d)) {
            const char* n = e->d_name;
            if (!std::strcmp(n, ".") || !std::strcmp(n, "..")) continue;
            if (!std::strcmp(n, "target") || !std::strcmp(n, "p.pkg")) {
                ++both;
                continue;
            }
            std::fprintf(stderr, "%s outside the target: %s\n", what, n);
            abort();
        }
        closedir(d);
        if (both != 2) abort();
    };
    only_package_and_target("written");
    c = qm::tar::TarCreate();
    if (c && qm::tar::TarOpen(c.get(), s.package.c_str()) == qm::tar::TarLoad::Loaded)
        qm::packages::remove_members(c.get(), "", true, {[](void*, const qm::packages::RemovalStep&) noexcept {}, nullptr});
    c.reset();
    only_package_and_target("removed");
    clear_dir(s.target);
    return 0;
}
