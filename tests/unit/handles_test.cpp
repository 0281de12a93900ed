// The library keeps no file, search or other descriptor open across calls: the built
// shared library is loaded the way a host program loads it, every export is called twice
// by name over a small installation tree, and the process's descriptors are counted
// before and after each export. The Windows DLL gets the same treatment with handle
// counts in tests/win32/handles_test.cpp.
#ifndef _WIN32
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/tar_builder.h"
#include "common/temp_dir.h"

namespace fs = std::filesystem;
using qm::test::TarBuilder;
using qm::test::TempDir;
using qm::test::write_file;

namespace {

int open_descriptors() {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1;  // the directory stream's own
}

using Text = const char*;

// One export and what calling it does in the tree.
struct Call {
    const char* name;
    std::function<void(void*)> run;
};

template <typename F, typename... A>
auto as(void* fn, A... a) {
    return reinterpret_cast<F*>(fn)(a...);
}

// The tree every export works on, all under one scratch directory.
struct Tree {
    explicit Tree(const fs::path& base) : root(base.string()) {
        TarBuilder pkg;
        pkg.file("etc/devices/router.mfs", "manifest").file("readme.txt", "text");
        qm::test::Member refused;  // a type the reader refuses: the error path runs too
        refused.name = "link";
        refused.type = '2';
        pkg.add(refused).end();
        qm::test::write_bytes(base / "pkgs" / "router.pkg", pkg.bytes());
        fs::create_directories(base / "target" / "etc" / "devices");
        write_file(base / "ini" / "group.ini", "[program]\r\nico1=a\r\nico2=b\r\ndis1=c\r\n");
        write_file(base / "src" / "a.txt", "new a");
        write_file(base / "src" / "b.txt", "old b");
        write_file(base / "dst" / "b.txt", "newer b");
        qm::test::set_mtime(base / "src" / "b.txt", 1000000000);  // older: refused and logged
        write_file(base / "append" / "from.txt", "line\n");
        write_file(base / "nms" / "etc" / "dorva" / "devices" / "atm.mfs", "m");
        write_file(base / "nms" / "bin" / "rzgatewy.ini", "[SERVICES]\r\nCurrentService=0\r\n");
        write_file(base / "nms" / "bin" / "txgatewy.exe", "tx");
        write_file(base / "nms" / "bin" / "rzgatewy.exe", "rz");
        write_file(base / "nms" / "bin" / "wish.exe", "#!/bin/sh\nexit 0\n");
        fs::permissions(base / "nms" / "bin" / "wish.exe", fs::perms::owner_all);
        fs::create_directories(base / "windows");
        write_file(base / "ren" / "old.txt", "r");
        write_file(base / "del" / "gone.txt", "d");
        fs::create_directories(base / "ren" / "olddir");
    }
    std::string p(const std::string& rel) const { return root + "/" + rel; }
    std::string root;
};

std::vector<Call> calls(const Tree& t) {
    // Every text lives as long as the table.
    static std::deque<std::string> keep;
    auto s = [](std::string v) {
        keep.push_back(std::move(v));
        return keep.back().c_str();
    };
    const Text pkg = s(t.p("pkgs/router.pkg")), target = s(t.p("target")), ini = s(t.p("ini/group.ini")),
               src = s(t.p("src")), dst = s(t.p("dst")), nms = s(t.p("nms")), from = s(t.p("append/from.txt")),
               to = s(t.p("append/to.txt")), old_file = s(t.p("ren/old.txt")), new_file = s(t.p("ren/new.txt")),
               old_dir = s(t.p("ren/olddir")), new_dir = s(t.p("ren/newdir")), gone = s(t.p("del/gone.txt")),
               a = s(t.p("src/a.txt")), b = s(t.p("dst/b.txt"));
    // exports-list:begin (tests/source/every_export_listed.sh: a row for every export)
    return {
        {"AppendFile", [=](void* f) { as<int(Text, Text)>(f, to, from); }},
        {"GetLastIconEntry", [=](void* f) { as<int(Text)>(f, ini); }},
        {"GetLastDisEntry", [=](void* f) { as<int(Text)>(f, ini); }},
        {"ExpandPackage", [=](void* f) { as<int(Text, Text)>(f, pkg, target); }},
        {"GetPackageFile", [=](void* f) { as<int(void*)>(f, nullptr); }},
        {"DisplayPackageSelectionList", [=](void* f) { as<int(void*, Text, int)>(f, nullptr, t.root.c_str(), 1); }},
        {"GetFirstFile", [=](void* f) { as<Text()>(f); }},
        {"GetNextFile", [=](void* f) { as<Text()>(f); }},
        {"ModifyGatewayFile", [=](void* f) { as<int(Text, int)>(f, nms, 2048); }},
        {"GetShortFileName", [=](void* f) { as<Text(Text)>(f, nms); }},
        {"CreateTopTcl", [=](void* f) { as<int(Text)>(f, nms); }},
        {"SetEnvVariable", [=](void* f) { as<int(Text, Text)>(f, "QM_HANDLES_TEST", "value"); }},
        {"RenDirectory", [=](void* f) { as<int(Text, Text)>(f, old_dir, new_dir); }},
        {"GetManifestFile", [=](void* f) { as<int(Text, Text)>(f, pkg, target); }},
        {"MyRenameFile", [=](void* f) { as<int(Text, Text)>(f, old_file, new_file); }},
        {"MyDeleteFile", [=](void* f) { as<int(Text)>(f, gone); }},
        {"GetReInstallPackageList", [=](void* f) { as<int(Text)>(f, nms); }},
        {"ClearPackageList", [=](void* f) { as<int()>(f); }},
        {"MyFileCompare", [=](void* f) { as<int(Text, Text)>(f, a, b); }},
        {"MyCopyFiles", [=](void* f) { as<int(Text, Text, Text)>(f, src, dst, "*"); }},
        {"RemovePackage", [=](void* f) { as<int(Text, Text)>(f, pkg, target); }},
    };
    // exports-list:end
}

// In a new session (no controlling terminal, as under an installer service, so the two
// dialogs report that they cannot be shown instead of waiting for a user): loads the
// library, and per export writes "name before after" to out.
int run_child(const std::string& base, int out) {
    setsid();
    setenv("WINDIR", (base + "/windows").c_str(), 1);
    void* lib = dlopen(QM_NATIVE_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        dprintf(out, "dlopen %s\n", dlerror());
        return 1;
    }
    Tree tree(base);
    for (const Call& c : calls(tree)) {
        void* fn = dlsym(lib, c.name);
        if (!fn) {
            dprintf(out, "missing %s\n", c.name);
            continue;
        }
        const int before = open_descriptors();
        c.run(fn);
        c.run(fn);
        // The launcher's children may still be starting; the parent's descriptors are
        // what counts, and those are closed before the launch returns.
        const int after = open_descriptors();
        dprintf(out, "%s %d %d\n", c.name, before, after);
    }
    dlclose(lib);
    return 0;
}

TEST(OpenDescriptors, EveryExportCalledTwiceLeavesNoneBehind) {
    TempDir t(false);
    int pipefd[2];
    ASSERT_EQ(pipe(pipefd), 0);
    const pid_t pid = fork();
    if (pid == 0) {
        close(pipefd[0]);
        _exit(run_child(t.str(), pipefd[1]));
    }
    close(pipefd[1]);
    std::string report;
    char buf[4096];
    ssize_t n;
    while ((n = read(pipefd[0], buf, sizeof buf)) > 0) report.append(buf, static_cast<size_t>(n));
    close(pipefd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << report;

    std::istringstream lines(report);
    std::string name;
    int before = 0, after = 0, seen = 0;
    while (lines >> name >> before >> after) {
        ++seen;
        EXPECT_GT(before, 0) << name;
        EXPECT_EQ(after, before) << name << " left " << after - before << " descriptor(s) open";
    }
    EXPECT_EQ(seen, 21) << report;  // the whole export table
    std::printf("descriptors open around each export: %d\n", before);
}

}  // namespace
#endif
