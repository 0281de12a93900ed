#include <cstdio>

#include "cli.h"
#include "packages/expand.h"

namespace qm::cli {
namespace {

int run_expand(int, char** argv) {
    qm::packages::ExpandPackage(argv[0], argv[1]);
    return 0;
}

int run_manifest(int, char** argv) {
    qm::packages::GetManifestFile(argv[0], argv[1]);
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
