// "call": runs a sequence of export calls in one process, as an install script would,
// so that what one call leaves (the package list, the environment, the current
// directory) is there for the next. Every export can be called by its own name.
//
//   quillmar call GetReInstallPackageList /opt/nms -- GetFirstFile -- GetNextFile
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli.h"
#include "config/gateway.h"
#include "config/probes.h"
#include "config/tcl_launcher.h"
#include "fileutil/file_ops.h"
#include "fileutil/guarded_copy.h"
#include "packages/expand.h"
#include "packages/package_list.h"
#include "packages/reinstall.h"
#include "packages/selection_dialog.h"

namespace qm::cli {
namespace {

using Args = std::vector<const char*>;

int number(const char* s) { return static_cast<int>(std::strtol(s, nullptr, 0)); }

struct Export {
    const char* name;
    int args;
    const char* synopsis;
    long (*call)(const Args& a);          // for a 32-bit result
    const char* (*call_text)(const Args& a);  // for a text result
};

const Export kExports[] = {
    {"AppendFile", 2, "DST SRC", [](const Args& a) -> long { return fileutil::AppendFile(a[0], a[1]); }, nullptr},
    {"GetLastIconEntry", 1, "INI", [](const Args& a) -> long { return config::GetLastIconEntry(a[0]); }, nullptr},
    {"GetLastDisEntry", 1, "INI", [](const Args& a) -> long { return config::GetLastDisEntry(a[0]); }, nullptr},
    {"ExpandPackage", 2, "PACKAGE DIR",
     [](const Args& a) -> long { return packages::ExpandPackage(a[0], a[1]); }, nullptr},
    {"GetPackageFile", 0, "", [](const Args&) -> long { return packages::GetPackageFile(nullptr); }, nullptr},
    {"DisplayPackageSelectionList", 2, "DIR MODE",
     [](const Args& a) -> long { return packages::DisplayPackageSelectionList(nullptr, a[0], number(a[1])); },
     nullptr},
    {"GetFirstFile", 0, "", nullptr, [](const Args&) { return packages::GetFirstFile(); }},
    {"GetNextFile", 0, "", nullptr, [](const Args&) { return packages::GetNextFile(); }},
    {"ModifyGatewayFile", 2, "ROOT CODE",
     [](const Args& a) -> long { return config::ModifyGatewayFile(a[0], number(a[1])); }, nullptr},
    {"GetShortFileName", 1, "PATH", nullptr, [](const Args& a) { return fileutil::GetShortFileName(a[0]); }},
    {"CreateTopTcl", 1, "ROOT", [](const Args& a) -> long { return config::CreateTopTcl(a[0]); }, nullptr},
    {"SetEnvVariable", 2, "NAME VALUE",
     [](const Args& a) -> long { return fileutil::SetEnvVariable(a[0], a[1]); }, nullptr},
    {"RenDirectory", 2, "OLD NEW", [](const Args& a) -> long { return fileutil::RenDirectory(a[0], a[1]); },
     nullptr},
    {"GetManifestFile", 2, "PACKAGE DIR",
     [](const Args& a) -> long { return packages::GetManifestFile(a[0], a[1]); }, nullptr},
    {"MyRenameFile", 2, "OLD NEW", [](const Args& a) -> long { return fileutil::MyRenameFile(a[0], a[1]); },
     nullptr},
    {"MyDeleteFile", 1, "PATH", [](const Args& a) -> long { return fileutil::MyDeleteFile(a[0]); }, nullptr},
    {"GetReInstallPackageList", 1, "ROOT",
     [](const Args& a) -> long { return packages::GetReInstallPackageList(a[0]); }, nullptr},
    {"ClearPackageList", 0, "", [](const Args&) -> long { return packages::ClearPackageList(); }, nullptr},
    {"MyFileCompare", 2, "A B", [](const Args& a) -> long { return fileutil::MyFileCompare(a[0], a[1]); },
     nullptr},
    {"MyCopyFiles", 3, "SRC DST PATTERN",
     [](const Args& a) -> long { return fileutil::MyCopyFiles(a[0], a[1], a[2]); }, nullptr},
};

const Export* find(const char* name) {
    for (const Export& e : kExports)
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

int run_call(int argc, char** argv) {
    // Split at "--" into calls; check them all before running any.
    std::vector<Args> calls(1);
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            calls.emplace_back();
        } else {
            calls.back().push_back(argv[i]);
        }
    }
    for (const Args& c : calls) {
        const Export* e = c.empty() ? nullptr : find(c[0]);
        if (!e) {
            std::fprintf(stderr, "quillmar call: %s is not an export; exports:\n", c.empty() ? "(nothing)" : c[0]);
            for (const Export& x : kExports) std::fprintf(stderr, "  %s %s\n", x.name, x.synopsis);
            return 2;
        }
        if (static_cast<int>(c.size()) - 1 != e->args) {
            std::fprintf(stderr, "quillmar call: %s %s\n", e->name, e->synopsis);
            return 2;
        }
    }
    for (const Args& c : calls) {
        const Export* e = find(c[0]);
        const Args args(c.begin() + 1, c.end());
        std::printf("%s(", e->name);
        for (size_t i = 0; i < args.size(); ++i) std::printf("%s\"%s\"", i ? ", " : "", args[i]);
        if (e->call_text) {
            const char* t = e->call_text(args);
            if (t)
                std::printf(") = \"%s\"\n", t);
            else
                std::printf(") = NULL\n");
        } else {
            std::printf(") = %ld\n", e->call(args));
        }
        std::fflush(stdout);
    }
    return 0;
}

const Command kCall{"call", "EXPORT [ARG...] [-- EXPORT [ARG...]]...",
                    "call exports in sequence in one process, as a script does (the window owner is null)",
                    1, 1000, run_call};
const Registrar r(kCall);

}  // namespace
}  // namespace qm::cli
