// Package author tools: "check" predicts how the library treats each member and lists
// what would make an installation fail or surprise; "list" lists members as tar -tv.
#include <cstdio>
#include <ctime>
#include <string>

#include "cli.h"
#include "authoring/check.h"
#include "platform/calendar.h"

namespace qm::cli {
namespace {

using qm::authoring::CheckedMember;
using qm::authoring::check_package;
using qm::authoring::CheckReport;

std::string mode_text(const CheckedMember& m) {
    const bool dir = m.type == '5' || (!m.name.empty() && m.name.back() == '/');
    std::string s(1, dir ? 'd' : (m.type == '0' || m.type == '\0') ? '-' : m.type == 'L' ? 'L' : '?');
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) s += (m.mode & (0400u >> i)) ? rwx[i] : '-';
    return s;
}

std::string time_text(int64_t t) {
    if (t < 0) return "----------- --:--";
    const time_t tt = static_cast<time_t>(t);
    struct tm tmv;
    if (!qm::plat::local_calendar(tt, &tmv)) return "----------- --:--";
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tmv);
    return buf;
}

void print_member(const CheckedMember& m, bool with_action) {
    std::printf("%s %d/%d %10lld %s %s", mode_text(m).c_str(), m.uid, m.gid, static_cast<long long>(m.size),
                time_text(m.mtime).c_str(), shown(m.name, stdout).c_str());
    if (with_action) std::printf("  [%s]", qm::authoring::action_text(m.action));
    std::printf("\n");
}

}  // namespace

int print_findings(const std::vector<std::string>& findings) {
    if (findings.empty()) {
        std::printf("no findings: the package installs cleanly\n");
        return 0;
    }
    std::printf("%zu finding(s):\n", findings.size());
    for (const std::string& f : findings) std::printf("  - %s\n", shown(f, stdout).c_str());
    return 1;
}

namespace {

int run_list(int, char** argv) {
    const CheckReport r = check_package(argv[0]);
    if (!r.readable) {
        std::fprintf(stderr, "quillmar: %s cannot be loaded: %s\n", argv[0], r.error.c_str());
        return 1;
    }
    for (const CheckedMember& m : r.members) print_member(m, false);
    return 0;
}

int run_check(int, char** argv) {
    const CheckReport r = check_package(argv[0]);
    if (!r.readable) {
        std::fprintf(stderr, "quillmar: %s cannot be loaded: %s\n", argv[0], r.error.c_str());
        return 1;
    }
    int files = 0, dirs = 0;
    for (const CheckedMember& m : r.members) {
        files += m.action == qm::extract::Outcome::Write;
        dirs += m.action == qm::extract::Outcome::Directory;
    }
    std::printf("%s: %lld bytes, %zu members (%d files, %d directories)\n", argv[0],
                static_cast<long long>(r.size), r.members.size(), files, dirs);
    for (const CheckedMember& m : r.members) {
        std::printf("  ");
        print_member(m, true);
    }
    std::printf("manifest: %s\n", shown(r.manifest_member.empty() ? "none (looked for " + r.manifest_pattern + ")"
                                                                 : r.manifest_member,
                                       stdout)
                                     .c_str());
    return print_findings(r.findings);
}

const Command kCheck{"check", "PACKAGE",
                     "predict how each member is treated and report what would fail or surprise "
                     "(exit 0 clean, 1 findings or a package that cannot be loaded)",
                     1, 1, run_check};
const Command kList{"list", "PACKAGE",
                    "list the members the library reaches, as tar -tv does (exit 1 when it cannot be loaded)", 1,
                    1, run_list};
const Registrar r1(kCheck), r2(kList);

}  // namespace
}  // namespace qm::cli
