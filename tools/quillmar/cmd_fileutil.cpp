#include <cstdio>
#include <cstring>

#include "cli.h"
#include "fileutil/file_ops.h"
#include "fileutil/guarded_copy.h"
#include "fileutil/install_log.h"
#include "platform/sys.h"

namespace qm::cli {
namespace {

using fileutil::CopyEvent;
using fileutil::CopyOutcome;

// Prints one line per entry of the walk and counts the outcomes.
class CopyReport final : public fileutil::CopyObserver {
public:
    void entry(const CopyEvent& e) noexcept override {
        if (e.is_dir && e.outcome == CopyOutcome::NotCopied) {
            // The search's own "." and ".." are no news; a subdirectory is worth a line.
            if (std::strcmp(e.name, ".") != 0 && std::strcmp(e.name, "..") != 0)
                std::printf("passed   %s (directories are not copied)\n", e.source);
            return;
        }
        switch (e.outcome) {
        case CopyOutcome::Copied:
            std::printf("copied   %s -> %s\n", e.source, e.destination);
            ++copied;
            break;
        case CopyOutcome::NotCopied:
            std::printf("failed   %s -> %s (cannot be read, or the destination cannot be written)\n",
                        e.source, e.destination);
            ++failed;
            break;
        case CopyOutcome::Refused:
            std::printf("refused  %s is older than %s (logged)\n", e.source, e.destination);
            ++refused;
            break;
        case CopyOutcome::RefusedUnlogged:
            std::printf("refused  %s is older than %s (the log could not take the line)\n", e.source,
                        e.destination);
            ++refused;
            break;
        case CopyOutcome::Skipped:
            std::printf("skipped  %s (its path would exceed %u characters)\n", e.name,
                        static_cast<unsigned>(fileutil::kMaxPath));
            ++failed;
            break;
        }
    }
    unsigned copied = 0, refused = 0, failed = 0;
};

int run_copy(int, char** argv) {
    CopyReport report;
    if (!fileutil::MyCopyFiles(argv[0], argv[1], argv[2], &report)) {
        std::fprintf(stderr, "quillmar: nothing in %s matches %s\n", argv[0], argv[2]);
        return 1;
    }
    std::printf("%u copied, %u refused, %u not copied\n", report.copied, report.refused, report.failed);
    char log[fileutil::kMaxLogPath + 1];
    if (report.refused > 0 && fileutil::BuildLogPath(plat::nmsroot_at_load(), log, sizeof log))
        std::printf("refusals are recorded in %s\n", log);
    return 0;
}

int run_compare(int, char** argv) {
    if (fileutil::MyFileCompare(argv[0], argv[1]))
        std::printf("%s is older than %s\n", argv[0], argv[1]);
    else
        std::printf("%s is not older than %s (or one of them cannot be opened)\n", argv[0], argv[1]);
    return 0;
}

int run_append(int, char** argv) {
    if (fileutil::AppendFile(argv[0], argv[1])) return 0;
    std::fprintf(stderr, "quillmar: cannot append %s to %s\n", argv[1], argv[0]);
    return 1;
}

int run_short_name(int, char** argv) {
    std::printf("%s\n", fileutil::GetShortFileName(argv[0]));
    return 0;
}

int run_set_env(int, char** argv) {
    if (fileutil::SetEnvVariable(argv[0], argv[1])) return 0;
    std::fprintf(stderr, "quillmar: cannot set %s\n", argv[0]);
    return 1;
}

int report_rename(int result, char** argv) {
    if (result == 0) return 0;
    std::fprintf(stderr, "quillmar: cannot rename %s to %s\n", argv[0], argv[1]);
    return 1;
}

int run_rename(int, char** argv) { return report_rename(fileutil::MyRenameFile(argv[0], argv[1]), argv); }

int run_rename_dir(int, char** argv) {
    return report_rename(fileutil::RenDirectory(argv[0], argv[1]), argv);
}

int run_delete(int, char** argv) {
    if (fileutil::MyDeleteFile(argv[0])) return 0;
    std::fprintf(stderr, "quillmar: cannot delete %s\n", argv[0]);
    return 1;
}

const Command kCopy{"copy", "SRC DST PATTERN",
                    "copy SRC's entries matching PATTERN into DST, never over a newer file (MyCopyFiles)",
                    3, 3, run_copy};
const Command kCompare{"compare", "A B", "tell whether A was last written before B (MyFileCompare)",
                       2, 2, run_compare};
const Command kAppend{"append", "DST SRC", "append the text of SRC to DST (AppendFile)", 2, 2,
                      run_append};
const Command kShortName{"short-name", "PATH", "print the short form of PATH (GetShortFileName)", 1, 1,
                         run_short_name};
const Command kSetEnv{"set-env", "NAME VALUE",
                      "check that NAME can be set; it lasts only for this process (SetEnvVariable)",
                      2, 2, run_set_env};
const Command kRename{"rename", "OLD NEW",
                      "rename a file or directory, never over an existing NEW (MyRenameFile)", 2, 2,
                      run_rename};
const Command kRenameDir{"rename-dir", "OLD NEW",
                         "rename or move a directory, never over an existing NEW (RenDirectory)", 2, 2,
                         run_rename_dir};
const Command kDelete{"delete", "PATH", "delete one file, not a read-only one (MyDeleteFile)", 1, 1,
                      run_delete};
const Registrar r1(kCopy), r2(kCompare), r3(kAppend), r4(kShortName), r5(kSetEnv), r6(kRename),
    r7(kDelete), r8(kRenameDir);

}  // namespace
}  // namespace qm::cli
