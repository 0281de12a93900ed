#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "cli.h"
#include "packages/expand.h"
#include "packages/remove.h"
#include "packages/transaction.h"

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

// Progress on a terminal, once an expansion has taken more than a moment.
struct Progress {
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point shown{};
    bool any = false;

    static void member(void* self, int64_t number, int64_t offset, int64_t size) noexcept {
        auto* p = static_cast<Progress*>(self);
        const auto now = std::chrono::steady_clock::now();
        if (now - p->start < std::chrono::milliseconds(500)) return;
        if (p->any && now - p->shown < std::chrono::milliseconds(100)) return;
        p->shown = now;
        p->any = true;
        std::fprintf(stderr, "\rexpanding: member %lld, %lld of %lld KiB (%d%%)   ",
                     static_cast<long long>(number), static_cast<long long>(offset / 1024),
                     static_cast<long long>(size / 1024),
                     size > 0 ? static_cast<int>(offset * 100 / size) : 100);
    }
    void finish() const {
        if (any) std::fprintf(stderr, "\r%60s\r", "");
    }
};

// The library passes over a package it cannot load without a word (but for one too
// large for memory or for the reader, which it shows); on the command line every such
// package is named.
int report_load(const char* package, const qm::packages::PackageOutcome& outcome) {
    using qm::tar::TarLoad;
    if (outcome.load == TarLoad::Loaded) return 0;
    if (outcome.load != TarLoad::NoMemory && outcome.load != TarLoad::TooLarge) {
        std::fprintf(stderr, "quillmar: %s cannot be loaded: %s\n", package,
                     outcome.message[0] ? outcome.message
                                        : "the first block is not a usable header: nothing installed");
    }
    return 1;
}

int run_expand(int argc, char** argv) {
    const bool whole = argc == 3 && std::strcmp(argv[2], "--whole") == 0;
    if (argc == 3 && !whole) {
        std::fprintf(stderr, "usage: quillmar expand PACKAGE DIR [--whole]\n");
        return 2;
    }
    if (!target_ok(argv[1])) return 2;
    const std::string package = from_here(argv[0]);
    qm::packages::PackageOutcome outcome;
    if (!qm::cli::stderr_is_terminal()) {
        qm::packages::ExpandPackageObserved(package.c_str(), argv[1], nullptr, &outcome, whole);
        return report_load(argv[0], outcome);
    }
    Progress progress;
    const qm::packages::ExpandObserver observer{&Progress::member, &progress};
    qm::packages::ExpandPackageObserved(package.c_str(), argv[1], &observer, &outcome, whole);
    progress.finish();
    return report_load(argv[0], outcome);
}

int run_recover(int, char** argv) {
    if (!target_ok(argv[0])) return 2;
    using qm::packages::Recovery;
    switch (qm::packages::RecoverTarget(argv[0])) {
        case Recovery::Nothing:
            std::printf("nothing to recover in %s\n", shown(argv[0], stdout).c_str());
            return 0;
        case Recovery::Undone:
            std::printf("undone: %s is as it was before the expansion that ended early\n", shown(argv[0], stdout).c_str());
            return 0;
        case Recovery::Finished:
            std::printf("finished: the expansion into %s that ended early had given every member its name\n",
                        shown(argv[0], stdout).c_str());
            return 0;
        case Recovery::UnderWay:
            std::fprintf(stderr, "quillmar: an expansion into %s is under way in another process\n",
                         shown(argv[0], stderr).c_str());
            return 1;
        case Recovery::Failed:
            break;
    }
    return 1;
}

int run_manifest(int, char** argv) {
    if (!target_ok(argv[1])) return 2;
    qm::packages::PackageOutcome outcome;
    qm::packages::GetManifestFileReported(from_here(argv[0]).c_str(), argv[1], &outcome);
    return report_load(argv[0], outcome);
}

// What a removal kept, and why, as it happens; whether anything failed.
struct KeptFiles {
    bool failed = false;
    static void step(void* self, const qm::packages::RemovalStep& s) noexcept {
        using qm::packages::RemovalAction;
        const RemovalAction a = s.verdict.action;
        static_cast<KeptFiles*>(self)->failed |= s.verdict.code != 0;
        if (a == RemovalAction::Remove || a == RemovalAction::RemoveDir || a == RemovalAction::Missing ||
            a == RemovalAction::Superseded || a == RemovalAction::Refuse)
            return;  // a refusal is on stderr, as the box's text
        std::printf("  %-12s %-36s %s\n", qm::packages::removal_action_name(a), shown(s.name, stdout).c_str(),
                    shown(s.verdict.reason, stdout).c_str());
    }
};

int run_remove(int, char** argv) {
    if (!target_ok(argv[1])) return 2;
    qm::packages::PackageOutcome outcome;
    KeptFiles kept;
    const qm::packages::RemovalObserver observer{&KeptFiles::step, &kept};
    const int r = qm::packages::remove_package_observed(from_here(argv[0]).c_str(), argv[1], &observer, &outcome);
    if (const int load = report_load(argv[0], outcome)) return load;
    std::printf("%s: %s\n", shown(argv[0], stdout).c_str(),
                r == 0 ? "nothing of the package is left" : (std::to_string(r) + " of its files kept").c_str());
    return kept.failed ? 1 : 0;
}

const Command kExpand{"expand", "PACKAGE DIR [--whole]",
                      "expand every member of PACKAGE into DIR, keeping newer files (ExpandPackage); "
                      "a package that cannot be loaded is named (exit 1); --whole: the whole package or "
                      "nothing, as QUILLMAR_WHOLE_PACKAGE=1 asks",
                      2, 3, run_expand};
const Command kRecover{"recover", "TARGET",
                       "finish or undo an expansion into TARGET that was ended midway (the next expansion "
                       "does it too): staging or naming its members it is undone, after its last name finished",
                       1, 1, run_recover};
const Command kManifest{"manifest", "PACKAGE DIR",
                        "extract only PACKAGE's manifest into DIR (GetManifestFile)", 2, 2,
                        run_manifest};
const Command kRemove{"remove", "PACKAGE DIR",
                      "remove from DIR every file of PACKAGE still as the package holds it, and the directories "
                      "that leaves empty (RemovePackage); what is kept is listed (exit 0, or 1 when something could "
                      "not be looked at or removed, or the package cannot be loaded)",
                      2, 2, run_remove};
const Registrar r1(kExpand), r2(kManifest), r3(kRemove), r4(kRecover);

}  // namespace
}  // namespace qm::cli
