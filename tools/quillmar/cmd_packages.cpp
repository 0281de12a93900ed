#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli.h"
#include "packages/expand.h"

namespace qm::cli {
namespace {

// The library opens the package after it has moved into the target directory; the
// tool takes a relative package path relative to where the user typed it.
std::string from_here(const char* path) {
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(path, ec);
    return ec ? std::string(path) : p.string();
}

// The library quietly extracts into the current directory when the target cannot be
// entered; on the command line that is a mistake worth stopping for.
bool target_ok(const char* dir) {
    std::error_code ec;
    if (std::filesystem::is_directory(dir, ec)) return true;
    std::fprintf(stderr, "quillmar: target directory '%s' does not exist\n", dir);
    return false;
}

int run_expand(int, char** argv) {
    if (!target_ok(argv[1])) return 2;
    qm::packages::ExpandPackage(from_here(argv[0]).c_str(), argv[1]);
    return 0;
}

int run_manifest(int, char** argv) {
    if (!target_ok(argv[1])) return 2;
    qm::packages::GetManifestFile(from_here(argv[0]).c_str(), argv[1]);
    return 0;
}

const Command kExpand{"expand", "PACKAGE DIR",
                      "expand every member of PACKAGE into DIR, keeping newer files (ExpandPackage)",
                      2, 2, run_expand};
const Command kManifest{"manifest", "PACKAGE DIR",
                        "extract only PACKAGE's manifest into DIR (GetManifestFile)", 2, 2,
                        run_manifest};
const Registrar r1(kExpand), r2(kManifest);

}  // namespace
}  // namespace qm::cli
