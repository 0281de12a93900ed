#include <cstdio>
#include <cstring>

#include "cli.h"
#include "packages/package_list.h"
#include "packages/reinstall.h"
#include "packages/selection_dialog.h"

namespace qm::cli {
namespace {

namespace pk = qm::packages;

// Exit status of a list command beyond the usual ones: nothing was chosen or found.
constexpr int kNothing = 3;

// The list as the install script reads it back, one entry per line. Read from the table:
// GetNextFile's end of the list is the script's signal to stop, not a failure of the
// command (it would leave ERROR_NO_MORE_FILES as the command's last error).
void print_list() {
    for (int32_t i = 0; i < pk::PackageList.count && i < pk::MAX_PACKAGES; ++i)
        std::printf("%s\n", shown(pk::PackageList.entries[i], stdout).c_str());
}

int run_select(int argc, char** argv) {
    int mode = 1;
    if (argc == 2) {
        if (std::strcmp(argv[1], "--uninstall") != 0) {
            std::fprintf(stderr, "usage: quillmar select DIR [--uninstall]\n");
            return 2;
        }
        mode = 0;
    }
    const int r = pk::DisplayPackageSelectionList(nullptr, argv[0], mode);
    if (r == -1) {
        std::fprintf(stderr, "quillmar: the selection list needs a terminal\n");
        return 1;
    }
    print_list();
    return r == 1 ? 0 : kNothing;
}

int run_pick(int, char**) {
    if (pk::GetPackageFile(nullptr) != 1) return kNothing;
    print_list();
    return 0;
}

int run_reinstall(int, char** argv) {
    const int r = pk::GetReInstallPackageList(argv[0]);
    print_list();
    return r == -1 ? kNothing : 0;
}

const Command kSelect{"select", "DIR [--uninstall]",
                      "choose packages of DIR in the selection list (DisplayPackageSelectionList)",
                      1, 2, run_select};
const Command kPick{"pick", "", "choose .pkg files of the current directory (GetPackageFile)", 0, 0,
                    run_pick};
const Command kReinstall{"reinstall-list", "ROOT",
                         "list the packages installed under ROOT (GetReInstallPackageList)", 1, 1,
                         run_reinstall};
const Registrar r1(kSelect), r2(kPick), r3(kReinstall);

}  // namespace
}  // namespace qm::cli
