// A package expanded whole or not at all (QUILLMAR_WHOLE_PACKAGE, packages/transaction.h).
// A step that fails (a member's staging, the commit of a new file or of a replacement,
// a write of the journal) at the first, middle or last member, with one thread and four,
// leaves the target exactly as it was: every file's bytes, time, mode and identity, no
// name of ours. A package that would stop early is refused before anything is written,
// with its box, log line and last error, where the default mode goes on as it always did.
// Natively the process is also ended at every step, and what the next call makes of the
// journal is the old tree or the new one, never a mix, nothing stray.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/as_export.h"
#include "common/capture.h"
#include "common/ended_at_step.h"
#include "common/file_hold.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "common/tree_snapshot.h"
#include "packages/expand.h"
#include "packages/transaction.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/sys.h"

namespace fs = std::filesystem;
using qm::plat::fault::Op;
using qm::test::NotifyCapture;
using qm::test::read_file;
using qm::test::snapshot;
using qm::test::TarBuilder;
using qm::test::TempDir;

namespace {

constexpr int64_t kOld = 1000000000, kNew = kOld + 100;
// The files of the package, in member order: beside one another, in a directory that is
// there, in directories the package makes, in the directory a member makes.
const char* const kFiles[] = {"a.txt", "etc/dorva/b.txt", "etc/added/deep/c.txt", "new/e.txt", "z.txt"};

std::string text_of(int i, bool newer) { return std::string(newer ? 5000 + 300 * i : 900 + 10 * i, "abcde"[i]); }

TarBuilder version(bool newer) {
    TarBuilder b;
    for (int i = 0; i < 5; ++i) {
        if (i == 3) b.dir("new/");
        b.file(kFiles[i], text_of(i, newer), newer ? kNew : kOld);
    }
    return b.end();
}

std::string write_package(const TempDir& t, const char* name, const TarBuilder& b) {
    qm::test::write_bytes(t / name, b.bytes());
    return (t / name).string();
}

// The target before: a user's file where the package writes, and for an update the
// previous version installed, its last file read-only.
std::string prepare(const TempDir& t, bool installed) {
    const fs::path target = t / "nms";
    qm::test::write_file(target / "etc/dorva/user.cfg", "mine");
    qm::test::set_mtime(target / "etc/dorva/user.cfg", kOld - 50);
    if (installed) {
        NotifyCapture quiet;
        qm::packages::ExpandPackage(write_package(t, "v1.pkg", version(false)).c_str(), target.string().c_str());
        fs::permissions(target / "z.txt", fs::perms::owner_read | fs::perms::group_read);
        fs::permissions(target / "a.txt", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    }
    return target.string();
}

struct WholeMode {
    explicit WholeMode(int threads) {
        qm::plat::set_env("QUILLMAR_WHOLE_PACKAGE", " 1 ");
        qm::plat::set_env("QUILLMAR_THREADS", std::to_string(threads).c_str());
    }
    ~WholeMode() {
        qm::plat::fault::disarm_all();
        qm::plat::set_env("QUILLMAR_WHOLE_PACKAGE", nullptr);
        qm::plat::set_env("QUILLMAR_THREADS", nullptr);
    }
};

unsigned long expand_as_export(const std::string& package, const std::string& target) {
    return qm::test::last_error_of("ExpandPackage",
                                   [&] { qm::packages::ExpandPackage(package.c_str(), target.c_str()); });
}

void expect_new_version(const fs::path& target, const std::string& when) {
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(read_file(target / kFiles[i]), text_of(i, true)) << kFiles[i] << " " << when;
        EXPECT_EQ(qm::test::get_mtime(target / kFiles[i]), kNew) << kFiles[i] << " " << when;
    }
}

enum class Failing { Stage, CommitNew, CommitReplace, Journal, Directory };

// The directories the package makes where it is not installed, in the order it makes
// them; another program puts a file where the chosen one goes, just before its mkdir.
const char* const kMadeDirectories[] = {"etc/added", "etc/added/deep", "new"};
fs::path g_in_the_way;
int g_mkdirs_left = 0;
void file_in_the_way(const char* path) {
    if (g_mkdirs_left-- != 0) return;
    std::string at = path;
    while (at.back() == '/') at.pop_back();
    g_in_the_way = at;
    qm::test::write_file(g_in_the_way, "theirs");
}
using FailingStep = std::tuple<Failing, int, int>;  // the step, first/middle/last (0, 1, 2), threads

class Transaction : public ::testing::TestWithParam<FailingStep> {};

TEST_P(Transaction, AFailingStepLeavesTheTargetAsItWas) {
    const auto [failing, position, threads] = GetParam();
    TempDir t(false);
    const bool installed = failing != Failing::CommitNew && failing != Failing::Directory;
    const std::string target = prepare(t, installed);
#ifndef _WIN32
    // A file of another user's, which the package replaces: its owner and group stay.
    const bool give_away = installed && qm::test::can_give_files_away(target);
    if (give_away) {
        ASSERT_EQ(::chown((fs::path(target) / kFiles[1]).c_str(), 1234, 2345), 0);
    }
#endif
    const std::string v2 = write_package(t, "v2.pkg", version(true));
    const qm::test::TreeSnapshot before = snapshot(target);
    // The file whose step fails: the first, middle or last of the five.
    const int member = position * 2;
    const char* const kind = failing == Failing::Journal     ? "journal"
                             : failing == Failing::Directory ? kMadeDirectories[position]
                                                             : kFiles[member];
    {
        const WholeMode whole(threads);
        g_mkdirs_left = failing == Failing::Directory ? position : -1;
        qm::plat::fault::before_make_dir(&file_in_the_way);
        const Op op = failing == Failing::Stage ? Op::Create : failing == Failing::Journal ? Op::Journal : Op::Rename;
        if (failing != Failing::Directory)
            qm::plat::fault::arm(op, failing == Failing::Journal ? position : member, qm::plat::kEACCES);
        NotifyCapture cap;
        EXPECT_EQ(expand_as_export(v2, target), failing == Failing::Directory ? 183u : 5u) << kind;
        if (failing == Failing::Directory) {
            // Theirs stays, and so does the directory of ours that holds it; everything
            // else the call made is gone.
            EXPECT_EQ(read_file(g_in_the_way), "theirs") << kind;
            fs::remove(g_in_the_way);
            if (position == 1) {
                EXPECT_TRUE(fs::remove(g_in_the_way.parent_path())) << kind;
            }
        }
        EXPECT_EQ(snapshot(target), before) << kind << ":\n" << qm::test::differences(before, snapshot(target));
        ASSERT_EQ(cap.shown().size(), 1u) << kind;
        const std::string shown = cap.shown()[0];
        if (failing == Failing::Directory) {
            const std::string made = kMadeDirectories[position];
            EXPECT_EQ(shown, made == "new" ? "ERROR: extract dir \"new/\" failed. rc=17 File exists\n"
                                           : "ERROR: mkdir(" + made + ") failed 17 File exists")
                << kind;
        } else if (failing == Failing::Journal) {
            EXPECT_EQ(shown, "ERROR: the journal of the expansion into \"" + target +
                                 "\" cannot be written. rc=13 Permission denied. Package not expanded.");
        } else if (threads == 1) {
            EXPECT_EQ(shown, std::string("ERROR:create file:\"") + kFiles[member] + "\" failed. rc=13 Permission denied\n");
        } else {
            // Staged and named side by side, the nth create or rename is not the nth member's.
            EXPECT_EQ(shown.rfind("ERROR:create file:\"", 0), 0u) << shown;
        }
    }
    // The same package, nothing failing: the whole new version.
    const WholeMode whole(threads);
    NotifyCapture cap;
    EXPECT_EQ(expand_as_export(v2, target), 0u);
    EXPECT_TRUE(cap.shown().empty()) << cap.shown()[0];
    expect_new_version(target, kind);
    EXPECT_EQ(read_file(fs::path(target) / "etc/dorva/user.cfg"), "mine") << kind;
#ifndef _WIN32
    if (give_away) {
        struct stat st {};
        ASSERT_EQ(::stat((fs::path(target) / kFiles[1]).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 1234u) << kind;
        EXPECT_EQ(st.st_gid, 2345u) << kind;
    }
    if (installed) {
        // A replacement keeps the mode of the file it replaces, made writable.
        EXPECT_EQ(fs::status(fs::path(target) / "a.txt").permissions(),
                  fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec) << kind;
        EXPECT_EQ(fs::status(fs::path(target) / "z.txt").permissions(),
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read) << kind;
    }
#endif
}

INSTANTIATE_TEST_SUITE_P(EachStepAtFirstMiddleAndLast, Transaction,
                         ::testing::Combine(::testing::Values(Failing::Stage, Failing::CommitNew,
                                                              Failing::CommitReplace, Failing::Journal,
                                                              Failing::Directory),
                                            ::testing::Values(0, 1, 2), ::testing::Values(1, 4)));

// A package that would stop early, and what each mode makes of it: whole, nothing is
// written and the box, the log and the last error say why; by default, the members
// before the stop are written and the rest is as it always was.
struct EarlyStop {
    const char* what;
    TarBuilder package;
    std::string whole_text;  // "%P" stands for the package's path
    unsigned long code;
    bool default_box;        // the default mode shows the member's own text
    unsigned long default_code;
};

// first.txt, then middle (or a blank block), then last.txt.
TarBuilder around(const qm::test::Member* middle) {
    TarBuilder b;
    b.file("first.txt", "1");
    if (middle)
        b.add(*middle);
    else
        b.raw(std::vector<unsigned char>(512, 0));
    return b.file("last.txt", "2").end();
}

qm::test::Member member(const char* name, char type = '0', const char* data = "x") {
    qm::test::Member m;
    m.name = name;
    m.type = type;
    m.data = data;
    return m;
}

std::vector<EarlyStop> early_stops() {
    qm::test::Member damaged = member("damaged.txt");
    damaged.checksum_delta = 1;
    const qm::test::Member unsafe = member("../evil.txt"), link = member("link", '2', ""),
                           long_name = member("././@LongLink", 'L', "long"), nameless = member("", '0', "");
    qm::test::Member cut = member("cut.txt", '0', "");
    cut.size_field = TarBuilder::octal(4096, 11);
    cut.omit_data = true;
    TarBuilder truncated;
    truncated.file("first.txt", "1").add(cut);
    TarBuilder collision;
    collision.file("first.txt", "1").dir("first.txt/").file("last.txt", "2").end();
    return {
        {"an unsafe name", around(&unsafe),
         "ERROR:File \"../evil.txt\" unsafe name (parent directory). Not extracted. Package not expanded.", 13, true, 13},
        {"a refused type", around(&link),
         "WARNING:\"%P\" has invalid file type. offset:1024. Package not expanded.", 13, true, 13},
        {"a long-name member", around(&long_name),
         "WARNING: File:\"././@LongLink\" long file name detected in tar. Package not expanded.", 13, true, 13},
        {"a truncated member", truncated,
         "ERROR:File \"cut.txt\" is cut short: 0 of 4096 bytes in the package. Not extracted. Package not expanded.", 13,
         true, 13},
        {"a damaged header", around(&damaged),
         "ERROR: package \"%P\" has a damaged header at offset 1024, before its end. Package not expanded.", 13, false,
         13},
        {"a nameless header", around(&nameless),
         "ERROR: package \"%P\" has a nameless header at offset 1024, before its end. Package not expanded.", 13, false,
         13},
        {"a blank block before members", around(nullptr),
         "ERROR: package \"%P\" has a blank block at offset 1024 with 1 member(s) after it. Package not expanded.", 13,
         false, 0},
        {"a directory over a file the package writes", collision,
         "ERROR: name collision. \"first.txt/\" on disk is a file. Name in archive is a directory. Package not expanded.",
         13, true, 13},
    };
}

class EarlyStops : public ::testing::TestWithParam<EarlyStop> {};

TEST_P(EarlyStops, WholeNothingIsWrittenDefaultTheMembersBefore) {
    const EarlyStop& row = GetParam();
    TempDir t(false);
    const std::string pkg = write_package(t, "p.pkg", row.package);
    std::string text = row.whole_text;
    if (const size_t at = text.find("%P"); at != std::string::npos) text.replace(at, 2, pkg);
    for (const bool whole : {true, false}) {
        const fs::path target = t / (whole ? "whole" : "default");
        fs::create_directories(target);
        const fs::path log = t / "log";
        qm::plat::set_env("QUILLMAR_LOG", log.string().c_str());
        NotifyCapture cap;
        {
            const qm::session::Call call("ExpandPackage");
            qm::packages::ExpandPackageObserved(pkg.c_str(), target.string().c_str(), nullptr, nullptr, whole);
        }
        qm::plat::set_env("QUILLMAR_LOG", nullptr);
        const std::string lines = read_file(log);
        fs::remove(log);
        if (whole) {
            EXPECT_TRUE(fs::is_empty(target)) << row.what;
            ASSERT_EQ(cap.shown().size(), 1u) << row.what;
            EXPECT_EQ(cap.shown()[0], text) << row.what;
            EXPECT_NE(lines.find("reported: " + text), std::string::npos) << lines;
            EXPECT_NE(lines.find("refused before anything was written"), std::string::npos) << lines;
            EXPECT_NE(lines.find("last error " + std::to_string(row.code)), std::string::npos) << lines;
        } else {
            // As it always was: what came before the stop is there, the rest not.
            EXPECT_EQ(read_file(target / "first.txt"), "1") << row.what;
            EXPECT_FALSE(fs::exists(target / "last.txt")) << row.what;
            EXPECT_EQ(cap.shown().size(), row.default_box ? 1u : 0u) << row.what;
            EXPECT_NE(lines.find("last error " + std::to_string(row.default_code)), std::string::npos) << lines;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EachKind, EarlyStops, ::testing::ValuesIn(early_stops()));

// A journal found in the target: one another call holds is left alone (a whole package
// is refused, the default mode goes on beside it); one that is not ours, or not whole,
// stops either mode and stays.
struct FoundJournal {
    const char* what;
    const char* content;  // null: a link to a journal elsewhere (POSIX)
    bool held;
    std::string whole_text;  // "%T" stands for the target
    unsigned long code;
    bool default_goes_on;
};

class JournalInTheTarget : public ::testing::TestWithParam<FoundJournal> {};

TEST_P(JournalInTheTarget, IsLeftAloneOrStopsTheExpansion) {
    const FoundJournal& row = GetParam();
    TempDir t(false);
    const std::string pkg = write_package(t, "v2.pkg", version(true));
    for (const bool whole : {true, false}) {
        const fs::path target = t / (whole ? "whole" : "default");
        const fs::path journal = target / ".qm\x7fjournal";
        fs::create_directories(target);
        if (row.content) {
            qm::test::write_file(journal, row.content);
        } else {
            qm::test::write_file(t / "elsewhere", "quillmar journal 1\nstate c\ntag 0000\nend\n");
            fs::create_symlink(t / "elsewhere", journal);
        }
        const qm::test::FileHold hold(journal, row.held);
        NotifyCapture cap;
        const unsigned long code = qm::test::last_error_of("ExpandPackage", [&] {
            qm::packages::ExpandPackageObserved(pkg.c_str(), target.string().c_str(), nullptr, nullptr, whole);
        });
        EXPECT_TRUE(fs::exists(fs::symlink_status(journal))) << row.what << ": it stays";
        if (!whole && row.default_goes_on) {
            EXPECT_EQ(code, 0u) << row.what;
            expect_new_version(target, row.what);
            continue;
        }
        std::string text = row.whole_text;
        if (const size_t at = text.find("%T"); at != std::string::npos) text.replace(at, 2, target.string());
        EXPECT_EQ(code, row.code) << row.what;
        ASSERT_EQ(cap.shown().size(), 1u) << row.what;
        EXPECT_EQ(cap.shown()[0], text);
        EXPECT_FALSE(fs::exists(target / "a.txt")) << row.what;
    }
}

std::vector<FoundJournal> found_journals() {
    std::vector<FoundJournal> rows = {
        {"held by another call", "quillmar journal 1\nstate s\ntag 0000\nend\n", true,
         "ERROR: another expansion into \"%T\" is under way. Package not expanded.", 32, true},
        {"not whole", "quillmar journal 1\nstate c\ntag 0000\nn 0 -1 0 0 a.txt\n", false,
         "ERROR: the journal of an ended expansion in \"%T\" cannot be used (damaged). Nothing changed.", 13, false},
    };
#ifndef _WIN32
    // Wine cannot make a link (docs/design.md).
    rows.push_back({"a link", nullptr, false,
                    "ERROR: the journal of an ended expansion in \"%T\" cannot be used (a link). Nothing changed.", 5,
                    false});
#endif
    return rows;
}

INSTANTIATE_TEST_SUITE_P(Kinds, JournalInTheTarget, ::testing::ValuesIn(found_journals()));

#ifndef _WIN32
// The whole expansion in a child killed at its step n; false when it ran to its end.
bool killed_at(const std::string& package, const std::string& target, int n, int threads) {
    return qm::test::ended_at_step(n, [&] {
        const WholeMode whole(threads);
        qm::packages::ExpandPackage(package.c_str(), target.c_str());
    });
}

// The same tree but for which files hold it: the new version in another target.
bool same_but_identity(qm::test::TreeSnapshot a, qm::test::TreeSnapshot b) {
    for (auto* s : {&a, &b})
        for (auto& [path, e] : *s) e.id = 0;
    return a == b;
}

TEST(WholeInterrupted, AtEveryStepTheNextCallLeavesTheOldTreeOrTheNewOne) {
    // Over the version before, and into a target without the package's directories (made
    // before anything is staged, and taken back with the staged files).
    for (const auto& [threads, installed] : {std::pair{1, true}, {4, true}, {1, false}, {4, false}}) {
        TempDir t(false);
        const std::string v2 = write_package(t, "v2.pkg", version(true));
        const fs::path reference = t / "reference";
        fs::create_directories(reference);
        {
            const WholeMode whole(threads);
            NotifyCapture quiet;
            (void)prepare(t, installed);
            fs::rename(t / "nms", reference);
            qm::packages::ExpandPackage(v2.c_str(), reference.string().c_str());
        }
        const qm::test::TreeSnapshot new_tree = snapshot(reference);
        int points = 0, old_trees = 0;
        for (int n = 1;; ++n) {
            const std::string target = prepare(t, installed);
            const qm::test::TreeSnapshot old_tree = snapshot(target);
            if (!killed_at(v2, target, n, threads)) break;
            ++points;
            NotifyCapture cap;
            const qm::packages::Recovery r = qm::packages::RecoverTarget(target.c_str());
            EXPECT_TRUE(cap.shown().empty()) << "step " << n;
            const qm::test::TreeSnapshot after = snapshot(target);
            // Ended before its journal was written, it had changed nothing.
            if (r == qm::packages::Recovery::Undone || r == qm::packages::Recovery::Nothing) {
                ++old_trees;
                EXPECT_EQ(after, old_tree) << "step " << n << ":\n" << qm::test::differences(old_tree, after);
            } else {
                EXPECT_EQ(r, qm::packages::Recovery::Finished) << "step " << n;
                EXPECT_TRUE(same_but_identity(after, new_tree)) << "step " << n << ":\n"
                                                                << qm::test::differences(new_tree, after);
            }
            // And the next expansion gives the new version, in either mode.
            qm::packages::ExpandPackage(v2.c_str(), target.c_str());
            EXPECT_TRUE(same_but_identity(snapshot(target), new_tree)) << "step " << n;
            fs::remove_all(target);
        }
        std::printf("%d thread(s), %s: ended at %d steps, %d of them undone\n", threads,
                    installed ? "an update" : "fresh", points, old_trees);
        EXPECT_GE(points, installed ? 25 : 20) << threads << " thread(s): every step of five files and the journal";
        EXPECT_GT(old_trees, 0);
        EXPECT_LT(old_trees, points) << "killed after the last name, the expansion is finished";
    }
}
#endif

}  // namespace
