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
#include "authoring/json.h"
#include "authoring/pack.h"
#include "platform/calendar.h"

namespace qm::cli {
namespace {

namespace fs = std::filesystem;
using namespace qm::authoring;

// How plan and verify write their rows: as text, or one JSON object a line, names
// decoded from the package's code page.
struct Output {
    bool json = false;
    CodePage code_page = CodePage::Windows1252;
};

void print_row(const Output& o, const char* key, const std::string& name, const char* what,
               const std::string& reason) {
    if (!o.json) {
        std::printf("  %-11s %-36s %s\n", what, shown(name, stdout).c_str(), shown(reason, stdout).c_str());
        return;
    }
    const std::string text = to_utf8(name, o.code_page);
    // The bytes too, where the text is not them: nothing of the name is lost.
    const std::string bytes = text == name ? "" : ",\"member_bytes\":\"" + hex_of(name) + "\"";
    std::printf("{\"member\":%s%s,\"%s\":\"%s\",\"reason\":%s}\n", json_quoted(text).c_str(), bytes.c_str(), key, what,
                json_quoted(to_utf8(reason, o.code_page)).c_str());
}

// "--json" and "--codepage CP" after the fixed arguments; false with a message for
// anything else.
bool output_options(int argc, char** argv, int fixed, Output* o) {
    for (int i = fixed; i < argc; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            o->json = true;
        } else if (std::strcmp(argv[i], "--codepage") == 0 && i + 1 < argc) {
            if (!code_page_named(argv[++i], &o->code_page)) {
                std::fprintf(stderr, "quillmar: unknown code page '%s' (1252, 437, 850 or utf-8)\n", argv[i]);
                return false;
            }
        } else {
            std::fprintf(stderr, "quillmar: unknown option '%s'\n", argv[i]);
            return false;
        }
    }
    return true;
}

bool is_directory(const char* dir) {
    std::error_code ec;
    if (fs::is_directory(dir, ec)) return true;
    std::fprintf(stderr, "quillmar: target directory '%s' does not exist\n", dir);
    return false;
}

int run_plan_remove(int argc, char** argv) {
    Output out;
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillmar plan --remove PACKAGE DIR [--json] [--codepage CP]\n");
        return 2;
    }
    if (!output_options(argc, argv, 2, &out) || !is_directory(argv[1])) return 2;
    const RemovalPlanReport r = plan_removal(argv[0], argv[1]);
    if (!r.readable) {
        std::fprintf(stderr, "quillmar: %s cannot be read: %s\n", argv[0], r.error.c_str());
        return 2;
    }
    if (!out.json) std::printf("%s out of %s:\n", argv[0], argv[1]);
    for (const PlannedRemoval& s : r.steps)
        print_row(out, "action", s.name, qm::packages::removal_action_name(s.action), s.reason);
    if (!out.json) {
        std::printf("the removal would return %lld (%s), last error %lu%s\n", static_cast<long long>(r.result),
                    r.result == 0 ? "nothing of the package left" : "files of the package kept", r.last_error,
                    r.box ? ", with a box" : "");
    }
    return r.result == 0 && r.last_error == 0 ? 0 : 1;
}

int run_plan(int argc, char** argv) {
    if (std::strcmp(argv[0], "--remove") == 0) return run_plan_remove(argc - 1, argv + 1);
    Output out;
    if (!output_options(argc, argv, 2, &out) || !is_directory(argv[1])) return 2;
    const PlanReport r = plan_expansion(argv[0], argv[1]);
    if (!r.readable) {
        std::fprintf(stderr, "quillmar: %s cannot be read: %s\n", argv[0], r.error.c_str());
        return 2;
    }
    if (!out.json) std::printf("%s into %s:\n", argv[0], argv[1]);
    for (const PlannedMember& m : r.members) print_row(out, "action", m.name, qm::extract::outcome_name(m.action), m.reason);
    if (!out.json) {
        if (!r.ending.empty()) std::printf("%s\n", shown(r.ending, stdout).c_str());
        std::printf("%s\n", r.runs_to_end ? "the expansion would run to its end without a box"
                                          : "the expansion would stop with a box");
    }
    return r.runs_to_end ? 0 : 1;
}

int run_verify(int argc, char** argv) {
    Output out;
    if (!output_options(argc, argv, 2, &out) || !is_directory(argv[1])) return 2;
    const VerifyReport r = verify_install(argv[0], argv[1]);
    if (!r.readable) {
        std::fprintf(stderr, "quillmar: %s cannot be read: %s\n", argv[0], r.error.c_str());
        return 2;
    }
    size_t differ = 0;
    if (!out.json) std::printf("%s against %s:\n", argv[0], argv[1]);
    for (const VerifiedMember& m : r.members) {
        differ += m.state != VerifyState::Ok;
        print_row(out, "status", m.name, verify_state_name(m.state), m.reason);
    }
    if (!out.json) {
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
        for (const std::string& p : r.problems) std::fprintf(stderr, "quillmar: %s\n", shown(p, stderr).c_str());
        std::fprintf(stderr, "quillmar: nothing written\n");
        return 2;
    }
    std::printf("%s: %d files, %d directories, %lld bytes, every member dated %s\n", argv[1], r.files,
                r.directories, static_cast<long long>(r.bytes), utc_text(r.mtime).c_str());
    return print_findings(check_package(argv[1]).findings);
}

#define QM_JSON_NOTE                                                                                      \
    "; --json: one object a line, UTF-8, names decoded from the package's code page, Windows-1252 unless " \
    "--codepage says 437, 850 or utf-8 (a byte without a character becomes U+FFFD), with \"member_bytes\" " \
    "in hex where the text is not the name's bytes"

const Command kPack{"pack", "TREE PACKAGE [--mtime TIME]",
                    "pack TREE's files and directories into a package the installer takes whole "
                    "(exit 0 clean, 1 written with findings, 2 nothing written)",
                    2, 4, run_pack};
const Command kPlan{"plan", "[--remove] PACKAGE DIR [--json] [--codepage CP]",
                    "what expanding PACKAGE into DIR would do, member by member, changing nothing "
                    "(exit 0 no box, 1 a box, 2 unreadable); with --remove what removing it would do: "
                    "remove, keep-changed, keep-link, missing, superseded, refuse, fail, then per directory "
                    "remove-dir, keep-dir (exit 0 nothing of the package left, 1 files kept or a failure, "
                    "2 unreadable)" QM_JSON_NOTE,
                    2, 6, run_plan};
const Command kVerify{"verify", "PACKAGE DIR [--json] [--codepage CP]",
                      "whether DIR holds each member as PACKAGE does "
                      "(exit 0 all ok, 1 some differ, 2 unreadable)" QM_JSON_NOTE,
                      2, 5, run_verify};
const Registrar r1(kPack), r2(kPlan), r3(kVerify);

}  // namespace
}  // namespace qm::cli
