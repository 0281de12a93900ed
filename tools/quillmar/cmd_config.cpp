#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "config/gateway.h"
#include "config/probes.h"
#include "config/tcl_launcher.h"

namespace qm::cli {
namespace {

int run_next_entry(int, char** argv) {
    int n;
    if (!std::strcmp(argv[0], "ico")) {
        n = qm::config::GetLastIconEntry(argv[1]);
    } else if (!std::strcmp(argv[0], "dis")) {
        n = qm::config::GetLastDisEntry(argv[1]);
    } else {
        std::fprintf(stderr, "usage: quillmar next-entry ico|dis INIFILE\n");
        return 2;
    }
    std::printf("%d\n", n);
    return 0;
}

int run_gateway(int, char** argv) {
    char* end = nullptr;
    errno = 0;
    const long code = std::strtol(argv[1], &end, 10);
    if (errno || end == argv[1] || *end || code < INT_MIN || code > INT_MAX) {
        std::fprintf(stderr, "quillmar gateway: CODE must be a decimal integer, not '%s'\n", argv[1]);
        return 2;
    }
    qm::config::ModifyGatewayFile(argv[0], static_cast<int>(code));
    return 0;
}

int run_tcl(int, char** argv) {
    const int result = qm::config::CreateTopTcl(argv[0]);
    std::printf("%d\n", result);
    return result > 31 ? 0 : 1;
}

const Command kNextEntry{"next-entry", "ico|dis INIFILE",
                         "print the first free entry number of INIFILE's [program] series "
                         "(GetLastIconEntry, GetLastDisEntry)",
                         2, 2, run_next_entry};
const Command kGateway{"gateway", "ROOT CODE",
                       "put ROOT's gateway INI and the program for CODE in place (ModifyGatewayFile)",
                       2, 2, run_gateway};
const Command kTcl{"tcl", "ROOT",
                   "set the Tcl environment and start ROOT's set-up scripts; print the result "
                   "(CreateTopTcl)",
                   1, 1, run_tcl};
const Registrar r1(kNextEntry), r2(kGateway), r3(kTcl);

}  // namespace
}  // namespace qm::cli
