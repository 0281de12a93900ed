// The guarded copy: paths the walk builds, the age test, the time carry-over, the
// install log and its placement, and the walk over a directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/child_dir.h"
#include "common/file_times.h"
#include "common/temp_dir.h"
#include "common/text_lines.h"
#include "fileutil/guarded_copy.h"
#include "fileutil/install_log.h"
#include "platform/fault.h"
#include "platform/sys.h"

using namespace qm::fileutil;
using qm::test::FileTimes100ns;
using qm::test::kTime2020;
using qm::test::kNl;
using qm::test::read_file;
using qm::test::TempDir;
using qm::test::write_file;
namespace fs = std::filesystem;

namespace {

// ---- Paths ----------------------------------------------------------------------

struct JoinCase {
    std::string dir, name, expected;  // expected empty: does not fit
};
void PrintTo(const JoinCase& c, std::ostream* os) { *os << '"' << c.dir << "\" + \"" << c.name << '"'; }

class JoinPathTest : public ::testing::TestWithParam<JoinCase> {};

TEST_P(JoinPathTest, BuildsOrRefuses) {
    const JoinCase& c = GetParam();
    char out[kMaxPath + 1];
    std::memset(out, 'x', sizeof out);
    const bool ok = join_path(c.dir.c_str(), c.name.c_str(), out, sizeof out);
    EXPECT_EQ(ok, !c.expected.empty());
    EXPECT_EQ(std::string(out), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, JoinPathTest,
    ::testing::Values(JoinCase{"src", "a.txt", "src\\a.txt"}, JoinCase{"src\\", "a.txt", "src\\a.txt"},
                      JoinCase{"src/", "a.txt", "src/\\a.txt"}, JoinCase{"", "a.txt", "\\a.txt"},
                      JoinCase{"C:\\", "*.*", "C:\\*.*"},
                      JoinCase{std::string(250, 'd'), "abcd", std::string(250, 'd') + "\\abcd"},
                      JoinCase{std::string(250, 'd'), "abcde", ""},
                      JoinCase{std::string(254, 'd') + "\\", "a", ""}));

struct LogPathCase {
    const char* label;
    std::optional<std::string> root;
    std::string expected;  // empty: does not fit
};
void PrintTo(const LogPathCase& c, std::ostream* os) { *os << c.label; }

class LogPathTest : public ::testing::TestWithParam<LogPathCase> {};

TEST_P(LogPathTest, FollowsTheRoot) {
    const LogPathCase& c = GetParam();
    char out[kMaxLogPath + 1];
    const bool ok = BuildLogPath(c.root ? c.root->c_str() : nullptr, out, sizeof out);
    EXPECT_EQ(ok, !c.expected.empty()) << c.label;
    EXPECT_EQ(std::string(out), c.expected) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Roots, LogPathTest,
    ::testing::Values(LogPathCase{"unset", std::nullopt, "kyinstall.log"},
                      LogPathCase{"empty", std::string(), "\\kyinstall.log"},
                      LogPathCase{"plain", std::string("C:\\nms"), "C:\\nms\\kyinstall.log"},
                      LogPathCase{"trailing", std::string("C:\\nms\\"), "C:\\nms\\\\kyinstall.log"},
                      LogPathCase{"longest", std::string(241, 'r'), std::string(241, 'r') + "\\kyinstall.log"},
                      LogPathCase{"too long", std::string(242, 'r'), ""}));

// ---- Files ----------------------------------------------------------------------

struct Recorder final : CopyObserver {
    struct Seen {
        std::string name, source, destination;
        CopyOutcome outcome;
        bool is_dir;
    };
    void entry(const CopyEvent& e) noexcept override {
        seen.push_back({e.name, e.source, e.destination, e.outcome, e.is_dir});
    }
    // The entries that are not "." or "..", by name.
    std::vector<Seen> files() const {
        std::vector<Seen> v;
        for (const Seen& s : seen)
            if (s.name != "." && s.name != "..") v.push_back(s);
        std::sort(v.begin(), v.end(), [](const Seen& a, const Seen& b) { return a.name < b.name; });
        return v;
    }
    std::vector<Seen> seen;
};

// Every test works in a fresh current directory, where the log lands when NMSROOT is
// not defined (the tests run with it unset).
class CopyTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qm::plat::nmsroot_at_load(), nullptr)
            << "NMSROOT was set when the tests started; the install-log tests need it unset";
        fs::create_directories(t / "s");
        fs::create_directories(t / "d");
    }
    void TearDown() override { qm::plat::fault::disarm_all(); }

    // A file with content whose three times are all time; rel as the library sees it,
    // with "\\" separators.
    void file(std::string rel, const std::string& content, uint64_t time) {
        std::replace(rel.begin(), rel.end(), '\\', '/');
        write_file(t / rel, content);
        ASSERT_TRUE(qm::test::set_all_times(t / rel, time)) << rel;
    }
    std::string log() const { return read_file(t / "kyinstall.log"); }
    // One entry copied by the walk the export makes, its pattern the entry's name: what
    // became of it.
    CopyOutcome copy_entry(const std::string& name, const std::string& from = "s", const std::string& to = "d") {
        Recorder r;
        EXPECT_EQ(MyCopyFiles(from.c_str(), to.c_str(), name.c_str(), &r), 1) << name;
        EXPECT_EQ(r.seen.size(), 1u) << name;
        return r.seen.empty() ? CopyOutcome::Skipped : r.seen[0].outcome;
    }
    bool log_exists() const { return fs::exists(t / "kyinstall.log"); }

    TempDir t;
};

struct AgeCase {
    int64_t first_minus_second;  // in 100-ns units
    int expected;
};
void PrintTo(const AgeCase& c, std::ostream* os) { *os << "first - second = " << c.first_minus_second; }

class AgeTest : public CopyTest, public ::testing::WithParamInterface<AgeCase> {};

TEST_P(AgeTest, OnlyAStrictlyEarlierWriteIsOlder) {
    file("a", "a", kTime2020 + GetParam().first_minus_second);
    file("b", "b", kTime2020);
    EXPECT_EQ(MyFileCompare("a", "b"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(SmallestUnit, AgeTest,
                         ::testing::Values(AgeCase{-1, 1}, AgeCase{0, 0}, AgeCase{1, 0},
                                           AgeCase{-10000000LL * 86400, 1}));

TEST_F(CopyTest, AgeTestOfAFileThatCannotBeOpenedIsZero) {
    file("a", "a", kTime2020 - 1);
    file("b", "b", kTime2020);
    EXPECT_EQ(MyFileCompare("missing", "b"), 0);
    EXPECT_EQ(MyFileCompare("a", "missing"), 0);
    EXPECT_EQ(MyFileCompare("a", "s"), 0) << "a directory never opens";
    EXPECT_EQ(MyFileCompare(nullptr, "b"), 0);
}

TEST_F(CopyTest, TimesCarriedOverAreTheSources) {
    write_file(t / "s/a", "a");
    write_file(t / "d/a", "b");
    const FileTimes100ns src{kTime2020 - 3000, kTime2020 + 12345677, kTime2020 + 7};
    ASSERT_TRUE(qm::test::set_times(t / "s/a", src));
    ASSERT_TRUE(qm::test::set_all_times(t / "d/a", kTime2020 - 999999999));
    EXPECT_EQ(copy_entry("a"), CopyOutcome::Copied);
    // As the source is once the copy has read it (reading may move its access time).
    const FileTimes100ns read = qm::test::get_times(t / "s/a"), got = qm::test::get_times(t / "d/a");
    EXPECT_EQ(got.write, src.write);
    EXPECT_EQ(got.access, read.access);
#ifdef _WIN32
    // As the platform reports it: a host that keeps no creation time shows another.
    EXPECT_EQ(got.creation, read.creation);
#endif
    EXPECT_EQ(read_file(t / "d/a"), "a");
    EXPECT_EQ(copy_entry("a", "s", "missing"), CopyOutcome::NotCopied);
    EXPECT_FALSE(fs::exists(t / "missing"));
}

TEST_F(CopyTest, OlderSourceIsRefusedAndLoggedOnce) {
    file("s\\f.txt", "old", kTime2020 - 1);
    file("d\\f.txt", "new", kTime2020);
    EXPECT_EQ(copy_entry("f.txt"), CopyOutcome::Refused);
    EXPECT_EQ(read_file(t / "d/f.txt"), "new");
    EXPECT_EQ(qm::test::get_times(t / "d/f.txt").write, kTime2020);
    EXPECT_EQ(log(), "s\\f.txt is older than d\\f.txt" + kNl);
}

TEST_F(CopyTest, MissingOrNotNewerDestinationIsReplacedWithoutALogLine) {
    file("s\\a", "source a", kTime2020);
    file("s\\b", "source b", kTime2020 + 5);
    file("d\\b", "dest b", kTime2020 + 5);  // equal: not older
    file("d\\c", "dest c", kTime2020);
    file("s\\c", "source c", kTime2020 + 1);  // newer
    for (const char* n : {"a", "b", "c"}) {
        EXPECT_EQ(copy_entry(n), CopyOutcome::Copied) << n;
        EXPECT_EQ(read_file(t / "d" / n), "source " + std::string(n));
        EXPECT_EQ(qm::test::get_times(t / "d" / n).write, qm::test::get_times(t / "s" / n).write);
    }
    EXPECT_FALSE(log_exists());
}

TEST_F(CopyTest, FailedCopyLeavesTheDestinationAndItsTimes) {
    file("s\\f", "source", kTime2020 + 10);
    file("d\\f", "read-only destination", kTime2020);
    fs::permissions(t / "d/f", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    EXPECT_EQ(copy_entry("f"), CopyOutcome::NotCopied);
    EXPECT_EQ(read_file(t / "d/f"), "read-only destination");
    EXPECT_EQ(qm::test::get_times(t / "d/f").write, kTime2020) << "old content must not get new times";
    EXPECT_FALSE(log_exists());
}

// ---- The walk -------------------------------------------------------------------


TEST_F(CopyTest, WalkCopiesEveryMatchWithOrWithoutTrailingBackslash) {
    for (const char* dir : {"s", "s\\"}) {
        SCOPED_TRACE(dir);
        file("s\\one.txt", "1", kTime2020);
        file("s\\two.TXT", "2", kTime2020);
        file("s\\three.dat", "3", kTime2020);
        Recorder r;
        EXPECT_EQ(MyCopyFiles(dir, "d", "*.txt", &r), 1);
        const auto f = r.files();
        ASSERT_EQ(f.size(), 2u);
        EXPECT_EQ(f[0].source, "s\\one.txt");
        EXPECT_EQ(f[0].destination, "d\\one.txt");
        EXPECT_EQ(f[1].source, "s\\two.TXT");
        EXPECT_EQ(read_file(t / "d/one.txt"), "1");
        EXPECT_EQ(read_file(t / "d/two.TXT"), "2");
        EXPECT_FALSE(fs::exists(t / "d/three.dat"));
        fs::remove_all(t / "d");
        fs::create_directories(t / "d");
    }
    EXPECT_FALSE(log_exists());
}

TEST_F(CopyTest, PatternMatchingNothingGivesZeroAndTouchesNothing) {
    file("s\\a.txt", "a", kTime2020);
    EXPECT_EQ(MyCopyFiles("s", "d", "*.none"), 0);
    EXPECT_EQ(MyCopyFiles("no-such-dir", "d", "*"), 0);
    EXPECT_EQ(MyCopyFiles("", "d", "qm-no-such-name-*.none"), 0) << "searches the root";
    EXPECT_EQ(MyCopyFiles("s", "d", ""), 0);
    EXPECT_TRUE(fs::is_empty(t / "d"));
    EXPECT_FALSE(log_exists());
}

TEST_F(CopyTest, SubdirectoriesAreNeitherCopiedNorLogged) {
    fs::create_directories(t / "s/sub/inner");
    file("s\\sub\\inner\\deep.txt", "deep", kTime2020);
    file("s\\top.txt", "top", kTime2020);
    Recorder r;
    EXPECT_EQ(MyCopyFiles("s", "d", "*", &r), 1);
    EXPECT_EQ(read_file(t / "d/top.txt"), "top");
    EXPECT_FALSE(fs::exists(t / "d/sub"));
    EXPECT_FALSE(fs::exists(t / "d/deep.txt"));
    for (const auto& s : r.seen) {
        EXPECT_EQ(s.is_dir, s.name != "top.txt") << s.name;
        if (s.name != "top.txt") {
            EXPECT_EQ(s.outcome, CopyOutcome::NotCopied) << s.name;
        }
    }
    EXPECT_EQ(MyCopyFiles("s", "d", "sub", nullptr), 1) << "a directory alone still counts as found";
    EXPECT_FALSE(log_exists());
}

TEST_F(CopyTest, HiddenAndDotNamesAreCopied) {
    file("s\\.profile", "dot", kTime2020);
    file("s\\.a.b", "dots", kTime2020);
    EXPECT_EQ(MyCopyFiles("s", "d", "*", nullptr), 1);
    EXPECT_EQ(read_file(t / "d/.profile"), "dot");
    EXPECT_EQ(read_file(t / "d/.a.b"), "dots");
}

TEST_F(CopyTest, WalkRefusesOlderLogsEachAndCopiesTheRest) {
    file("s\\older", "older source", kTime2020 - 1);
    file("d\\older", "newer dest", kTime2020);
    file("s\\fresh", "fresh", kTime2020);
    Recorder r;
    EXPECT_EQ(MyCopyFiles("s", "d", "*", &r), 1);
    EXPECT_EQ(read_file(t / "d/older"), "newer dest");
    EXPECT_EQ(read_file(t / "d/fresh"), "fresh");
    EXPECT_EQ(log(), "s\\older is older than d\\older" + kNl);
    const auto f = r.files();
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(f[0].outcome, CopyOutcome::Copied);
    EXPECT_EQ(f[1].outcome, CopyOutcome::Refused);
}

TEST_F(CopyTest, SecondRunCopiesAgainAndLogsNothing) {
    file("s\\a", "a", kTime2020 + 123);
    file("s\\b", "b", kTime2020 + 456);
    for (int run = 0; run < 2; ++run) {
        Recorder r;
        EXPECT_EQ(MyCopyFiles("s", "d", "*", &r), 1);
        for (const auto& s : r.files()) {
            EXPECT_EQ(s.outcome, CopyOutcome::Copied) << "run " << run << " " << s.name;
        }
        EXPECT_EQ(r.files().size(), 2u);
    }
    EXPECT_EQ(qm::test::get_times(t / "d/a").write, kTime2020 + 123);
    EXPECT_FALSE(log_exists());
}

TEST_F(CopyTest, CopyOntoItselfChangesNothing) {
    file("s\\a", "content", kTime2020 + 77);
    const FileTimes100ns before = qm::test::get_times(t / "s/a");
    EXPECT_EQ(MyCopyFiles("s", "s", "*", nullptr), 1);
    EXPECT_EQ(MyCopyFiles("s", "s\\", "a", nullptr), 1);
    const FileTimes100ns after = qm::test::get_times(t / "s/a");
    EXPECT_EQ(read_file(t / "s/a"), "content");
    EXPECT_EQ(after.write, before.write);
    EXPECT_EQ(after.access, before.access);
    EXPECT_EQ(std::distance(fs::directory_iterator(t / "s"), fs::directory_iterator()), 1)
        << "no temporary file left behind";
    EXPECT_FALSE(log_exists());
}

#ifndef _WIN32
TEST_F(CopyTest, HardLinkedDestinationIsTheSameFileAndStaysUnchanged) {
    file("s\\a", "content", kTime2020);
    fs::create_hard_link(t / "s/a", t / "d/a");
    EXPECT_EQ(copy_entry("a"), CopyOutcome::NotCopied);
    EXPECT_EQ(fs::hard_link_count(t / "s/a"), 2u);
}

TEST_F(CopyTest, CopyKeepsTheSourceMode) {
    file("s\\tool", "#!/bin/sh\n", kTime2020);
    fs::permissions(t / "s/tool", fs::perms(0751));
    EXPECT_EQ(copy_entry("tool"), CopyOutcome::Copied);
    EXPECT_EQ(fs::status(t / "d/tool").permissions(), fs::perms(0751));
}

TEST_F(CopyTest, FullDiskLeavesTheDestinationAsItWas) {
    file("s\\big", std::string(300000, 'n'), kTime2020 + 1);
    file("d\\big", "the old whole file", kTime2020);
    // The third block written fails as a full disk does, and so does every one after.
    qm::plat::fault::arm(qm::plat::fault::Op::Write, 2, 28 /* ENOSPC */, -1);
    EXPECT_EQ(copy_entry("big"), CopyOutcome::NotCopied);
    qm::plat::fault::disarm_all();
    EXPECT_EQ(read_file(t / "d/big"), "the old whole file");
    EXPECT_EQ(qm::test::get_times(t / "d/big").write, kTime2020);
    qm::plat::fault::arm(qm::plat::fault::Op::Rename, 0, 13 /* EACCES */, -1);
    EXPECT_EQ(copy_entry("big"), CopyOutcome::NotCopied);
    qm::plat::fault::disarm_all();
    EXPECT_EQ(read_file(t / "d/big"), "the old whole file");
    EXPECT_EQ(std::distance(fs::directory_iterator(t / "d"), fs::directory_iterator()), 1)
        << "no temporary file left behind";
    EXPECT_EQ(copy_entry("big"), CopyOutcome::Copied);
    EXPECT_EQ(fs::file_size(t / "d/big"), 300000u);
}
#endif

#ifndef _WIN32
TEST_F(CopyTest, FullDiskOnANewDestinationLeavesNothing) {
    file("s\\big", std::string(300000, 'n'), kTime2020);
    qm::plat::fault::arm(qm::plat::fault::Op::Write, 2, 28 /* ENOSPC */, -1);
    EXPECT_EQ(copy_entry("big"), CopyOutcome::NotCopied);
    qm::plat::fault::disarm_all();
    EXPECT_TRUE(fs::is_empty(t / "d")) << "neither a part of the copy nor a temporary file";
    qm::plat::fault::arm(qm::plat::fault::Op::Create, 0, 13 /* EACCES */, -1);
    EXPECT_EQ(copy_entry("big"), CopyOutcome::NotCopied);
    qm::plat::fault::disarm_all();
    EXPECT_TRUE(fs::is_empty(t / "d"));
    EXPECT_EQ(copy_entry("big"), CopyOutcome::Copied);
    EXPECT_EQ(read_file(t / "d/big"), std::string(300000, 'n'));
}
#endif

TEST_F(CopyTest, OverLongPathsAreLeftAloneAndTheWalkGoesOn) {
    // "s\" + 254 characters is one too many; cut to 255 it would name the file beside it.
    const std::string longname(254, 'n');
    const std::string cut = longname.substr(0, 253);
    file("s\\" + cut, "the short one", kTime2020);
    file("s\\" + longname, "the long one", kTime2020);
    file("s\\ok", "ok", kTime2020);
    Recorder r;
    EXPECT_EQ(MyCopyFiles("s", "d", "n*", &r), 1);
    EXPECT_EQ(MyCopyFiles("s", "d", "ok", &r), 1);
    EXPECT_EQ(read_file(t / "d" / cut), "the short one");
    EXPECT_FALSE(fs::exists(t / "d" / longname));
    EXPECT_EQ(read_file(t / "d/ok"), "ok");
    int skipped = 0;
    for (const auto& s : r.seen)
        if (s.outcome == CopyOutcome::Skipped) {
            ++skipped;
            EXPECT_EQ(s.name, longname);
            EXPECT_EQ(s.source, "");
        }
    EXPECT_EQ(skipped, 1);
    // A search text over the limit cannot start.
    EXPECT_EQ(MyCopyFiles(std::string(250, 's').c_str(), "d", "pattern", nullptr), 0);
    EXPECT_FALSE(log_exists());
}

TEST_F(CopyTest, RefusalWhoseLineWouldExceedTheLogLineIsNotWrittenCutShort) {
    // Two 252-character paths make a 520-character line.
    const std::string sd(250, 's'), dd(250, 'd');
    fs::create_directories(t / sd);
    fs::create_directories(t / dd);
    file(sd + "\\f", "older", kTime2020 - 1);
    file(dd + "\\f", "newer", kTime2020);
    EXPECT_EQ(copy_entry("f", sd, dd), CopyOutcome::RefusedUnlogged);
    EXPECT_EQ(read_file(t / dd / "f"), "newer");
    EXPECT_FALSE(log_exists());
    // One character shorter on each side still fits: 244 + 2 + 15 + 244 + 2 + 1 = 508.
    const std::string sd2(244, 's'), dd2(244, 'd');
    fs::create_directories(t / sd2);
    fs::create_directories(t / dd2);
    file(sd2 + "\\f", "older", kTime2020 - 1);
    file(dd2 + "\\f", "newer", kTime2020);
    EXPECT_EQ(copy_entry("f", sd2, dd2), CopyOutcome::Refused);
    EXPECT_EQ(log(), sd2 + "\\f is older than " + dd2 + "\\f" + kNl);
}

// ---- The log --------------------------------------------------------------------

TEST_F(CopyTest, LogLinesAppendAndAnEndOfFileMarkIsRemoved) {
    write_file(t / "kyinstall.log", "earlier line" + kNl + "\x1a");
    EXPECT_EQ(AppendInstallLog("one\n"), 1);
    EXPECT_EQ(AppendInstallLog("two\n"), 1);
    EXPECT_EQ(log(), "earlier line" + kNl + "one" + kNl + "two" + kNl);
    EXPECT_EQ(AppendLogLine("no-such-dir\\kyinstall.log", "x\n"), 0);
    EXPECT_FALSE(fs::exists(t / "no-such-dir"));
}

TEST_F(CopyTest, LogThatCannotBeOpenedLeavesTheRefusalStanding) {
    fs::create_directories(t / "kyinstall.log");  // a directory where the log should be
    file("s\\f", "older", kTime2020 - 1);
    file("d\\f", "newer", kTime2020);
    EXPECT_EQ(copy_entry("f"), CopyOutcome::RefusedUnlogged);
    EXPECT_EQ(read_file(t / "d/f"), "newer");
}

// NMSROOT is taken once, when the library starts: a child process starts with it set
// (under a name in other letter case) and then changes it; its log line still goes
// where the value at start pointed.
TEST(NmsrootAtLoad, IsTakenAtStartAndLaterChangesDoNotMoveTheLog) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const qm::test::ChildSharedDir dir("QM_TEST_NMSROOT");
    const std::string root = (dir.path() / "root").string();
    if (!dir.in_child()) {
        fs::create_directories(root);
        ASSERT_TRUE(qm::plat::set_env("nmsRoot", root.c_str()).ok());
    }
    EXPECT_EXIT(
        {
            const char* at_start = qm::plat::nmsroot_at_load();
            const bool same = at_start && root == at_start;
            qm::plat::set_env("NMSROOT", "moved");
            qm::plat::set_env("nmsRoot", "moved");
            const int logged = AppendInstallLog("from the child\n");
            std::fprintf(stderr, "captured %s, logged %d", same ? "right" : "wrong", logged);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "captured right, logged 1");
    qm::plat::set_env("nmsRoot", nullptr);
    EXPECT_EQ(read_file(fs::path(root) / "kyinstall.log"), "from the child" + kNl);
}

}  // namespace
