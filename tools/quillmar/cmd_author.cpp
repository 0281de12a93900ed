// The package author's tools beside "check": "pack" builds a package the installer takes
// whole, "plan" says what an expansion would do to a target as it stands, "verify" says
// whether a target holds what the package holds.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli.h"
#include "authoring/author.h"
#include "authoring/check.h"
#include "authoring/pack.h"
#include "platform/calendar.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;
using namespace qm::authoring;

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (const char ch : s) {
        const unsigned char u = static_cast<unsigned char>(ch);
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += ch;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

void print_row(bool json, const char* key, const std::string& name, const char* what, const std::string& reason) {
    if (json)
        std::printf("{\"member\":%s,\"%s\":%s,\"reason\":%s}\n", json_string(name).c_str(), key, what,
                    json_string(reason).c_str());
    else
        std::printf("  %-11s %-36s %s\n", what, name.c_str(), reason.c_str());
}

// "--json" as the optional last argument; false with a usage message for anything else.
bool json_flag(int argc, char** argv, int fixed, bool* json) {
    *json = argc > fixed && std::strcmp(argv[fixed], "--json") == 0;
    if (argc > fixed && !*json) {
        std::fprintf(stderr, "quillmar: unknown option '%s'\n", argv[fixed]);
        return false;
    }
    return true;
}

bool is_directory(const char* dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return true;
    std::fprintf(stderr, "quillmar: target directory '%s' does not exist\n", dir);
    return false;
}

int run_plan(int argc, char** argv) {
    bool json = false;
    if (!json_flag(argc, argv, 2, &json) || !is_directory(argv[1])) return 2;
    const PlanReport r = plan_expansion(argv[0], argv[1]);
    if (!r.readable) {
        std::fprintf(stderr, "quillmar: %s cannot be read: %s\n", argv[0], r.error.c_str());
        return 2;
    }
    if (!json) std::printf("%s into %s:\n", argv[0], argv[1]);
    for (const PlannedMember& m : r.members) {
        const std::string action = json ? "\"" + std::string(qm::extract::outcome_name(m.action)) + "\"" : qm::extract::outcome_name(m.action);
        print_row(json, "action", m.name, action.c_str(), m.reason);
    }
    if (!json) {
        if (!r.ending.empty()) std::printf("%s\n", r.ending.c_str());
        std::printf("%s\n", r.runs_to_end ? "the expansion would run to its end without a box"
                                          : "the expansion would stop with a box");
    }
    return r.runs_to_end ? 0 : 1;
}

int run_verify(int argc, char** argv) {
    bool json = false;
    if (!json_flag(argc, argv, 2, &json) || !is_directory(argv[1])) return 2;
    const VerifyReport r = verify_install(argv[0], argv[1]);
    if (!r.readable) {
        std::fprintf(stderr, "quillmar: %s cannot be read: %s\n", argv[0], r.error.c_str());
        return 2;
    }
    size_t differ = 0;
    if (!json) std::printf("%s against %s:\n", argv[0], argv[1]);
    for (const VerifiedMember& m : r.members) {
        differ += m.state != VerifyState::Ok;
        const std::string state = json ? "\"" + std::string(verify_state_name(m.state)) + "\"" : verify_state_name(m.state);
        print_row(json, "status", m.name, state.c_str(), m.reason);
    }
    if (!json) {
        if (r.all_ok)
            std::printf("all %zu members are on disk as the package holds them\n", r.members.size());
        else
            std::printf("%zu of %zu members differ\n", differ, r.members.size());
    }
    return r.all_ok ? 0 : 1;
}

std::string utc_text(int64_t t) {
    const time_t tt = static_cast<time_t>(t);
    struct tm tmv;
    if (!qm::plat::utc_calendar(tt, &tmv)) return std::to_string(t);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S UTC", &tmv);
    return buf;
}

// Whether the package would land inside the tree it is packed from.
bool inside(const char* package, const char* tree) {
    std::error_code ec;
    const fs::path p = fs::weakly_canonical(fs::absolute(package, ec), ec);
    const fs::path t = fs::weakly_canonical(fs::absolute(tree, ec), ec);
    if (ec) return false;
    auto pi = p.begin();
    for (auto ti = t.begin(); ti != t.end(); ++ti, ++pi)
        if (pi == p.end() || *pi != *ti) return false;
    return true;
}

int run_pack(int argc, char** argv) {
    PackOptions options;
    if (argc == 3 || (argc == 4 && std::strcmp(argv[2], "--mtime") != 0)) {
        std::fprintf(stderr, "usage: quillmar pack TREE PACKAGE [--mtime TIME]\n");
        return 2;
    }
    const char* given = argc == 4 ? argv[3] : std::getenv("SOURCE_DATE_EPOCH");
    if (given && *given) {
        if (!parse_pack_time(given, &options.mtime) || options.mtime < 0) {
            std::fprintf(stderr, "quillmar: '%s' is not a time (seconds since 1970, or YYYY-MM-DD[ HH:MM[:SS]])\n",
                         given);
            return 2;
        }
        options.has_mtime = true;
    }
    if (inside(argv[1], argv[0])) {
        std::fprintf(stderr, "quillmar: %s would be inside %s, which is packed\n", argv[1], argv[0]);
        return 2;
    }
    const PackReport r = pack_tree(argv[0], argv[1], options);
    if (!r.written) {
        for (const std::string& p : r.problems) std::fprintf(stderr, "quillmar: %s\n", p.c_str());
        std::fprintf(stderr, "quillmar: nothing written\n");
        return 2;
    }
    std::printf("%s: %d files, %d directories, %lld bytes, every member dated %s\n", argv[1], r.files,
                r.directories, static_cast<long long>(r.bytes), utc_text(r.mtime).c_str());
    return print_findings(check_package(argv[1]).findings);
}

const Command kPack{"pack", "TREE PACKAGE [--mtime TIME]",
                    "pack TREE's files and directories into a package the installer takes whole "
                    "(exit 0 clean, 1 written with findings, 2 nothing written)",
                    2, 4, run_pack};
const Command kPlan{"plan", "PACKAGE DIR [--json]",
                    "what expanding PACKAGE into DIR would do, member by member, changing nothing "
                    "(exit 0 no box, 1 a box, 2 unreadable)",
                    2, 3, run_plan};
const Command kVerify{"verify", "PACKAGE DIR [--json]",
                      "whether DIR holds each member as PACKAGE does "
                      "(exit 0 all ok, 1 some differ, 2 unreadable)",
                      2, 3, run_verify};
const Registrar r1(kPack), r2(kPlan), r3(kVerify);

}  // namespace
}  // namespace qm::cli
