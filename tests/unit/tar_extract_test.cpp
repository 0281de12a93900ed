// Extraction of one member: the newer-file rule, read-only files, parent directories,
// collisions, unsafe names, members the package does not hold, replacing a file
// without ever leaving it half-written, and the short way for a new file.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>

#include "common/capture.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "packages/expand.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/sys.h"
#include "extract/extract.h"
#include "extract/member.h"
#include "tar/tar.h"

using namespace qm::tar;
using namespace qm::extract;
using qm::test::Member;
using qm::test::NotifyCapture;
using qm::test::TarBuilder;
using qm::test::TempDir;
namespace fs = std::filesystem;
namespace fault = qm::plat::fault;

namespace {

constexpr int64_t kT = 315630000;

// Opens a package of the given members and returns the context at its first member.
TarContextPtr open_pkg(TempDir& t, const TarBuilder& b) {
    qm::test::write_bytes(t / "p.pkg", b.bytes());
    TarContextPtr c = TarCreate();
    EXPECT_EQ(TarOpen(c.get(), (t / "p.pkg").string().c_str()), TarLoad::Loaded);
    return c;
}

TarContextPtr one_file(TempDir& t, const std::string& name, const std::string& data,
                       int64_t mtime = kT) {
    TarBuilder b;
    b.file(name, data, mtime).end();
    return open_pkg(t, b);
}

// The current member extracted, as the expansion does it; its message kept for msg().
// The result in the reader family's numbers: 0 extracted, 2 passed over (a newer file
// on disk), -1 failed.
char g_message[kMessageSize];
int extract_entry(const TarEntry& e) {
    const Extraction x = TarExtract(e);
    std::snprintf(g_message, sizeof g_message, "%s", x.status.message);
    return x.outcome == Outcome::KeepNewer ? 2 : stops_expansion(x.outcome) ? -1 : 0;
}
int extract_current(const TarContextPtr& c) { return extract_entry(TarCurrent(c.get())); }
std::string msg(const TarContextPtr&) { return g_message; }

bool no_temp_files(const fs::path& dir) {
    for (auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().find(".qm") != std::string::npos) return false;
    return true;
}

struct AgeCase {
    const char* what;
    int64_t disk_offset;  // disk mtime minus member mtime
    int result;
    const char* content_after;
};

class OverwriteRule : public ::testing::TestWithParam<AgeCase> {};

TEST_P(OverwriteRule, KeepsOnlyStrictlyNewerFiles) {
    const AgeCase& k = GetParam();
    TempDir t;
    qm::test::write_file(t / "f.txt", "disk");
    qm::test::set_mtime(t / "f.txt", kT + k.disk_offset);
    TarContextPtr c = one_file(t, "f.txt", "member");
    EXPECT_EQ(extract_current(c), k.result) << k.what;
    EXPECT_EQ(qm::test::read_file(t / "f.txt"), k.content_after) << k.what;
    if (k.result == 2) {
        char a[64], b[64];
        TarTimeText(kT, a, sizeof a);
        TarTimeText(kT + k.disk_offset, b, sizeof b);
        EXPECT_EQ(msg(c), std::string("WARNING: file:\"f.txt\" on disk has newer mtime (") + a +
                              " vs " + b + "). File not extracted.");
        EXPECT_EQ(qm::test::get_mtime(t / "f.txt"), kT + k.disk_offset);
    } else {
        EXPECT_EQ(qm::test::get_mtime(t / "f.txt"), kT);
        EXPECT_EQ(msg(c), "");
    }
    EXPECT_TRUE(no_temp_files(t.path()));
}

INSTANTIATE_TEST_SUITE_P(Ages, OverwriteRule,
                         ::testing::Values(AgeCase{"disk one second newer", 1, 2, "disk"},
                                           AgeCase{"equal times", 0, 0, "member"},
                                           AgeCase{"disk older", -1, 0, "member"},
                                           AgeCase{"disk much older", -100000, 0, "member"}));

TEST(TimeText, HasTheRuntimeCtimeLayout) {
    char s[64];
    TarTimeText(kT, s, sizeof s);
    // Local time: only the layout is fixed here; the day always has two digits.
    std::string text(s);
    ASSERT_EQ(text.size(), 24u) << text;
    EXPECT_EQ(text[3], ' ');
    EXPECT_EQ(text[7], ' ');
    EXPECT_NE(text[8], ' ');
    EXPECT_EQ(text[13], ':');
    EXPECT_EQ(text.substr(20), "1980");
    TarTimeText(-1, s, sizeof s);
    EXPECT_EQ(std::string(s).rfind("(invalid time", 0), 0u);
}

#ifdef _WIN32
// The warning's times must read exactly as the Windows runtime's ctime writes them.
TEST(TimeText, MatchesTheWindowsRuntimeCtime) {
    for (int64_t t : {int64_t{0}, int64_t{315630000}, int64_t{315626635}, int64_t{951782400},
                      int64_t{1700000000}, int64_t{2147483647}}) {
        __time64_t tt = t;
        std::string expected = _ctime64(&tt);
        expected.pop_back();  // the newline
        char s[64];
        TarTimeText(t, s, sizeof s);
        EXPECT_EQ(std::string(s), expected) << t;
    }
}

TEST(ErrorText, MatchesTheRuntimeTable) {
    // Wine fills the runtime's table from the host C library, whose wording differs from
    // the Windows runtime's for these numbers; the library keeps the Windows wording.
    const std::set<int> worded_differently_by_wine = {0, 4, 7, 12, 16, 18, 25, 29, 33, 34, 38, 42};
    for (int n = 0; n < 43; ++n) {
        if (worded_differently_by_wine.count(n)) continue;
        EXPECT_STREQ(qm::plat::error_text(n), std::strerror(n)) << n;
    }
}
#else
TEST(TimeText, PadsTheDayWithAZeroAsTheWindowsRuntimeDoes) {
    const char* old_tz = std::getenv("TZ");
    const std::string saved = old_tz ? old_tz : "";
    setenv("TZ", "UTC0", 1);
    tzset();
    char s[64];
    TarTimeText(315626635, s, sizeof s);
    EXPECT_STREQ(s, "Wed Jan 02 02:03:55 1980");
    TarTimeText(0, s, sizeof s);
    EXPECT_STREQ(s, "Thu Jan 01 00:00:00 1970");
    if (old_tz) setenv("TZ", saved.c_str(), 1); else unsetenv("TZ");
    tzset();
}
#endif

TEST(Extract, ReadOnlyOlderFileIsReplacedAndEndsWritable) {
    TempDir t;
    qm::test::write_file(t / "ro.txt", "old");
    qm::test::set_mtime(t / "ro.txt", kT - 10);
    fs::permissions(t / "ro.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    Member m;
    m.name = "ro.txt";
    m.data = "new";
    m.mode = 0444;
    TarBuilder b;
    b.add(m).end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    EXPECT_EQ(qm::test::read_file(t / "ro.txt"), "new");
    EXPECT_NE(fs::status(t / "ro.txt").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST(Extract, NewFileWithoutOwnerWriteStillEndsWritable) {
    TempDir t;
    Member m;
    m.name = "n.txt";
    m.data = "n";
    m.mode = 0444;
    TarBuilder b;
    b.add(m).end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    EXPECT_NE(fs::status(t / "n.txt").permissions() & fs::perms::owner_write, fs::perms::none);
}

TEST(Extract, EmptyMemberGivesEmptyFileWithItsTime) {
    TempDir t;
    TarContextPtr c = one_file(t, "empty", "", kT + 5);
    EXPECT_EQ(extract_current(c), 0);
    EXPECT_EQ(fs::file_size(t / "empty"), 0u);
    EXPECT_EQ(qm::test::get_mtime(t / "empty"), kT + 5);
}

TEST(ParentDirs, AreCreatedForTwoOrMoreSlashes) {
    TempDir t;
    TarContextPtr c = one_file(t, "a/b/f.txt", "deep");
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    EXPECT_EQ(qm::test::read_file(t / "a/b/f.txt"), "deep");
}

TEST(ParentDirs, DoubledSlashesYieldNoEmptyComponent) {
    TempDir t;
    TarContextPtr c = one_file(t, "a//b/f.txt", "x");
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    EXPECT_TRUE(fs::is_directory(t / "a/b"));
}

TEST(ParentDirs, OneSlashCreatesNoDirectory) {
    TempDir t;
    TarContextPtr c = one_file(t, "dir/file.txt", "x");
    EXPECT_EQ(extract_current(c), -1);
    EXPECT_EQ(msg(c), "ERROR:create file:\"dir/file.txt\" failed. rc=2 No such file or directory\n");
    EXPECT_FALSE(fs::exists(t / "dir"));
}

TEST(ParentDirs, NoSlashNeedsNoDirectoryWork) {
    TempDir t;
    TarContextPtr c = one_file(t, "file.txt", "x");
    EXPECT_EQ(extract_current(c), 0);
    EXPECT_EQ(qm::test::read_file(t / "file.txt"), "x");
}

TEST(ParentDirs, ComponentThatIsAFileIsNamed) {
    TempDir t;
    qm::test::write_file(t / "a/b", "i am a file");
    TarContextPtr c = one_file(t, "a/b/c/f.txt", "x");
    EXPECT_EQ(extract_current(c), -1);
    EXPECT_EQ(msg(c), "ERROR: b is not a directory. Extract a/b/c/f.txt failed.");
}

struct DirCase {
    const char* name;
    char type;
    bool expect_dir;
};

class DirectoryEntries : public ::testing::TestWithParam<DirCase> {};

TEST_P(DirectoryEntries, TypeAndTrailingSlashDecide) {
    const DirCase& k = GetParam();
    TempDir t;
    Member m;
    m.name = k.name;
    m.type = k.type;
    TarBuilder b;
    b.add(m).end();
    TarContextPtr c = open_pkg(t, b);
    const int r = extract_current(c);
    std::string n(k.name);
    const fs::path p = t / n.substr(0, n.find('/'));
    if (k.expect_dir) {
        EXPECT_EQ(r, 0) << msg(c);
        EXPECT_TRUE(fs::is_directory(p));
    } else {
        // A type '0' member named "x/" is a file: the runtime cannot create it.
        EXPECT_EQ(r, -1);
        EXPECT_FALSE(fs::is_directory(p));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DirectoryEntries,
                         ::testing::Values(DirCase{"x/", '\0', true}, DirCase{"x/", '5', true},
                                           DirCase{"x", '5', true}, DirCase{"x/", '0', false}));

TEST(DirectoryEntries, ExistingDirectoryIsFine) {
    TempDir t;
    fs::create_directory(t / "d");
    TarBuilder b;
    b.dir("d/").end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), 0);
}

TEST(DirectoryEntries, ExistingFileIsANameCollision) {
    for (const char* name : {"d", "d/"}) {
        TempDir t;
        qm::test::write_file(t / "d", "file");
        TarBuilder b;
        b.dir(name).end();
        TarContextPtr c = open_pkg(t, b);
        EXPECT_EQ(extract_current(c), -1) << name;
        EXPECT_EQ(msg(c), std::string("ERROR: name collision. \"") + name +
                              "\" on disk is a file. Name in archive is a directory.");
    }
}

TEST(DirectoryEntries, MissingParentFailsWithExtractDirMessage) {
    TempDir t;
    TarBuilder b;
    b.dir("p/q/").end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), -1);
    EXPECT_EQ(msg(c), "ERROR: extract dir \"p/q/\" failed. rc=2 No such file or directory\n");
}

TEST(Types, LongNameMemberAndOtherTypesAreRefusedAtExtraction) {
    TempDir t;
    Member m;
    m.name = "././@LongLink";
    m.type = 'L';
    m.data = "x";
    TarBuilder b;
    b.add(m).end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), -1);
    EXPECT_EQ(msg(c), "WARNING: File:\"././@LongLink\" long file name detected in tar.\n");
    TarEntry other = TarCurrent(c.get());
    other.type = '7';
    EXPECT_EQ(extract_entry(other), -1);
    EXPECT_EQ(msg(c), "ERROR:File \"././@LongLink\" invalid type: 7. Not extracted\n");
}

struct UnsafeCase {
    const char* name;
    const char* reason;
};

class UnsafeNames : public ::testing::TestWithParam<UnsafeCase> {};

TEST_P(UnsafeNames, AreRefusedAndNothingIsWritten) {
    const UnsafeCase& k = GetParam();
    TempDir t;
    fs::create_directory(t / "target");
    fs::current_path(t / "target");
    TarContextPtr c = one_file(t, k.name, "evil");
    EXPECT_EQ(extract_current(c), -1);
    EXPECT_EQ(msg(c), std::string("ERROR:File \"") + k.name + "\" unsafe name (" + k.reason +
                          "). Not extracted\n");
    EXPECT_TRUE(fs::is_empty(t / "target"));
    EXPECT_FALSE(fs::exists(t / "evil.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, UnsafeNames,
    ::testing::Values(UnsafeCase{"../evil.txt", "parent directory"},
                      UnsafeCase{"..\\evil.txt", "parent directory"},
                      UnsafeCase{"a/../../evil.txt", "parent directory"},
                      UnsafeCase{"a/..", "parent directory"},
                      UnsafeCase{"/evil.txt", "absolute path"},
                      UnsafeCase{"\\evil.txt", "absolute path"},
                      UnsafeCase{"\\\\server\\share\\evil.txt", "absolute path"},
                      UnsafeCase{"C:evil.txt", "drive or stream name"},
                      UnsafeCase{"c:/evil.txt", "drive or stream name"},
                      UnsafeCase{"file.txt:ads", "drive or stream name"},
                      UnsafeCase{"a\tb", "control character"},
                      UnsafeCase{"what?.txt", "reserved character"},
                      UnsafeCase{"x*", "reserved character"},
                      UnsafeCase{"a<b", "reserved character"},
                      UnsafeCase{"pipe|", "reserved character"},
                      UnsafeCase{"q\"uote", "reserved character"},
                      UnsafeCase{"CON", "device name"},
                      UnsafeCase{"con.txt", "device name"},
                      UnsafeCase{"dir/aux", "device name"},
                      UnsafeCase{"Nul .log", "device name"},
                      UnsafeCase{"lpt9", "device name"},
                      UnsafeCase{"com1.cfg/x", "device name"},
                      // Superscript digits (ANSI code page bytes) name devices too.
                      UnsafeCase{"COM\xB9", "device name"},
                      UnsafeCase{"com\xB2.txt", "device name"},
                      UnsafeCase{"dir/Com\xB3", "device name"},
                      UnsafeCase{"LPT\xB9/x", "device name"},
                      UnsafeCase{"lpt\xB2 .log", "device name"},
                      UnsafeCase{"a/LPT\xB3.cfg", "device name"}));

TEST(UnsafeNames, LookalikesAreAllowed) {
    for (const char* n : {"..a", "a..", "a/..b/c", "console", "com10", "lpt0.txt", "auxiliary/x",
                          ".hidden", "a/./b", "nul_", "com\xBC", "lpt\xB9\xB9", "xcom\xB9"})
        EXPECT_EQ(TarUnsafeNameReason(n), nullptr) << n;
}

TEST(Sizes, MemberRunningPastTheImageIsRefused) {
    TempDir t;
    Member m;
    m.name = "cut.bin";
    m.data = std::string(2000, 'c');
    m.omit_data = true;  // header only: the data is not in the package
    TarBuilder b;
    b.add(m);
    b.raw(std::vector<unsigned char>(512, 0));
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), -1);
    EXPECT_EQ(msg(c), "ERROR:File \"cut.bin\" is cut short: 512 of 2000 bytes in the package. Not extracted\n");
    EXPECT_FALSE(fs::exists(t / "cut.bin"));
}

TEST(Sizes, InvalidOrHugeSizesAreRefused) {
    TempDir t;
    for (const char* field : {"            ", "77777777777", "20000000000"}) {
        fs::remove(t / "big.bin");
        Member m;
        m.name = "big.bin";
        m.size_field = field;
        TarBuilder b;
        b.add(m).end();
        TarContextPtr c = open_pkg(t, b);
        EXPECT_EQ(extract_current(c), -1) << field;
        EXPECT_FALSE(fs::exists(t / "big.bin")) << field;
        EXPECT_NE(msg(c).find("big.bin"), std::string::npos) << field;
    }
}

class ReplaceFailure : public ::testing::TestWithParam<fault::Op> {
protected:
    void TearDown() override { fault::disarm_all(); }
};

TEST_P(ReplaceFailure, LeavesTheOldFileWholeAndNoTemporaryBehind) {
    TempDir t;
    const std::string old_content(5000, 'o');
    qm::test::write_file(t / "keep.txt", old_content);
    qm::test::set_mtime(t / "keep.txt", kT - 100);
    TarContextPtr c = one_file(t, "keep.txt", std::string(70000, 'n'));
    fault::arm(GetParam(), 0, qm::plat::kENOSPC);
    EXPECT_EQ(extract_current(c), -1);
    EXPECT_NE(msg(c).find("rc=28 No space left on device"), std::string::npos) << msg(c);
    EXPECT_EQ(qm::test::read_file(t / "keep.txt"), old_content);
    EXPECT_TRUE(no_temp_files(t.path()));
}

INSTANTIATE_TEST_SUITE_P(Ops, ReplaceFailure,
                         ::testing::Values(fault::Op::Create, fault::Op::Write, fault::Op::SetTime,
                                           fault::Op::Rename));

TEST(ReplaceFailure, NewFileThatCannotBeFinishedIsRemoved) {
    TempDir t;
    TarContextPtr c = one_file(t, "fresh.txt", std::string(9000, 'f'));
    fault::arm(fault::Op::Write, 0, qm::plat::kENOSPC);
    EXPECT_EQ(extract_current(c), -1);
    fault::disarm_all();
    EXPECT_EQ(msg(c), "ERROR:write file:\"fresh.txt\" failed. rc=28 No space left on device\n");
    EXPECT_FALSE(fs::exists(t / "fresh.txt"));
}

TEST(Allocation, FailuresGiveAMessageNotACrash) {
    TempDir t;
    TarBuilder b;
    b.file("a", "1").file("b", "2").end();
    qm::test::write_bytes(t / "p.pkg", b.bytes());
    for (int pass = 0; pass < 4; ++pass) {
        fault::arm(fault::Op::Alloc, pass, qm::plat::kENOMEM);
        TarContextPtr c = TarCreate();
        if (c) {
            const TarLoad r = TarOpen(c.get(), "p.pkg");
            if (r != TarLoad::Loaded) {
                EXPECT_EQ(r, TarLoad::NoMemory) << "pass " << pass;
                EXPECT_NE(std::string(TarMessage(c.get())), "") << "pass " << pass;
            } else {
                EXPECT_EQ(TarNext(c.get()), TarStep::Member) << "pass " << pass;
            }
        }
        fault::disarm_all();
    }
}

// The short way for a new file: one exclusive create stands for the stat and the
// parent-directory checks, and mode and times go onto the open file. Whatever the disk
// holds, the outcome must be the one the step-by-step extraction gives: these tests put
// each thing that can stand in the way, and each injected failure, in its path.

TEST(NewFile, GetsItsDataAndTimeAndNothingElseIsLeft) {
    TempDir t;
    fs::create_directories(t / "a/b");
    TarBuilder b;
    b.file("a/b/f.txt", std::string(70000, 'd'), kT + 7).end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    EXPECT_EQ(qm::test::read_file(t / "a/b/f.txt"), std::string(70000, 'd'));
    EXPECT_EQ(qm::test::get_mtime(t / "a/b/f.txt"), kT + 7);
    EXPECT_EQ(std::distance(fs::directory_iterator(t / "a/b"), fs::directory_iterator()), 1);
}

// What stands at the member's name or on its way, each met by the long way.
struct InTheWay {
    const char* what;
    void (*prepare)(const TempDir& t);
    const char* name;
    int result;
    const char* message;  // exact
    const char* content;  // of name afterwards; null: name is not a file
    int64_t mtime = kT;   // the member's
};

void nothing(const TempDir&) {}
void older_file(const TempDir& t) {
    qm::test::write_file(t / "x/f", "old");
    qm::test::set_mtime(t / "x/f", kT - 1);
}
void equal_file(const TempDir& t) {
    qm::test::write_file(t / "x/f", "old");
    qm::test::set_mtime(t / "x/f", kT);
}
void newer_file(const TempDir& t) {
    qm::test::write_file(t / "x/f", "newer");
    qm::test::set_mtime(t / "x/f", kT + 1);
}
void older_read_only_file(const TempDir& t) {
    older_file(t);
    fs::permissions(t / "x/f", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}
// Made now; the member comes from later (a directory's time cannot be set everywhere).
void directory(const TempDir& t) { fs::create_directories(t / "x/f"); }
constexpr int64_t kLater = 2145830400;  // 2037-12-31
void file_on_the_way(const TempDir& t) { qm::test::write_file(t / "x/y", "a file"); }

const InTheWay kInTheWay[] = {
    {"nothing, parents missing", nothing, "x/y/f", 0, "", "member"},
    {"nothing, one slash, directory missing", nothing, "x/f", -1,
     "ERROR:create file:\"x/f\" failed. rc=2 No such file or directory\n", nullptr},
    {"an older file", older_file, "x/f", 0, "", "member"},
    {"a file of the same time", equal_file, "x/f", 0, "", "member"},
    {"an older read-only file", older_read_only_file, "x/f", 0, "", "member"},
    {"an older directory", directory, "x/f", -1,
     "ERROR:create file:\"x/f\" failed. rc=13 Permission denied\n", nullptr, kLater},
    {"a file where a directory belongs", file_on_the_way, "x/y/z/f", -1,
     "ERROR: y is not a directory. Extract x/y/z/f failed.", nullptr},
};

class NewFileInTheWay : public ::testing::TestWithParam<InTheWay> {};

TEST_P(NewFileInTheWay, TheLongWayDecides) {
    const InTheWay& k = GetParam();
    TempDir t;
    k.prepare(t);
    TarBuilder b;
    b.file(k.name, "member", k.mtime).end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), k.result) << k.what;
    EXPECT_EQ(msg(c), k.message) << k.what;
    if (k.content) {
        EXPECT_EQ(qm::test::read_file(t / k.name), k.content) << k.what;
        EXPECT_EQ(qm::test::get_mtime(t / k.name), kT) << k.what;
        EXPECT_NE(fs::status(t / k.name).permissions() & fs::perms::owner_write, fs::perms::none);
    } else {
        EXPECT_FALSE(fs::is_regular_file(t / k.name)) << k.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, NewFileInTheWay, ::testing::ValuesIn(kInTheWay));

TEST(NewFile, NewerFileOnDiskIsKept) {
    TempDir t;
    newer_file(t);
    TarBuilder b;
    b.file("x/f", "member", kT).end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), 2);
    EXPECT_EQ(msg(c).rfind("WARNING: file:\"x/f\" on disk has newer mtime (", 0), 0u) << msg(c);
    EXPECT_EQ(qm::test::read_file(t / "x/f"), "newer");
}

// Within one package: a name that an earlier member made is met again, and a name that
// an earlier member made a file is later wanted as a directory.
TEST(NewFile, LaterMembersMeetWhatEarlierOnesMade) {
    TempDir t;
    fs::create_directory(t / "out");
    TarBuilder b;
    b.file("d/e/f", "first", kT)
        .file("d/e/f", "second", kT)
        .file("d/e/f", "older", kT - 5)
        .file("d/e/g", "g", kT)
        .file("d/e/g/h", "under a file", kT)
        .file("never", "not reached", kT)
        .end();
    qm::test::write_bytes(t / "p.pkg", b.bytes());
    NotifyCapture cap;
    qm::packages::ExpandPackage((t / "p.pkg").string().c_str(), (t / "out").string().c_str());
    EXPECT_EQ(qm::test::read_file(t / "out/d/e/f"), "second");
    EXPECT_EQ(qm::test::get_mtime(t / "out/d/e/f"), kT);
    EXPECT_EQ(qm::test::read_file(t / "out/d/e/g"), "g");
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(cap.shown()[0], "ERROR: g is not a directory. Extract d/e/g/h failed.");
    EXPECT_FALSE(fs::exists(t / "out/never"));
}

// A name met twice within one window of staged members, over an older file already there:
// the second member's stage saw the old file, and only a look after the first one's commit
// tells that the second is older than what now has the name.
TEST(NewFile, ANameMetTwiceInAWindowIsLookedAtAfterTheFirst) {
    for (const char* threads : {"1", "4"}) {
        TempDir t;
        qm::test::write_file(t / "out/a/x", "old");
        qm::test::write_file(t / "out/d/e/f", "old");
        qm::test::set_mtime(t / "out/a/x", kT - 10);
        qm::test::set_mtime(t / "out/d/e/f", kT - 10);
        TarBuilder b;
        b.file("a/x", "replaces", kT).file("d/e/f", "second", kT).file("d/e/f", "older", kT - 5);
        for (int k = 0; k < 8; ++k) b.file("a/y" + std::to_string(k), "more", kT);
        qm::test::write_bytes(t / "p.pkg", b.end().bytes());
        qm::plat::set_env("QUILLMAR_THREADS", threads);
        NotifyCapture cap;
        qm::packages::ExpandPackage((t / "p.pkg").string().c_str(), (t / "out").string().c_str());
        qm::plat::set_env("QUILLMAR_THREADS", nullptr);
        EXPECT_EQ(qm::test::read_file(t / "out/a/x"), "replaces") << threads;
        EXPECT_EQ(qm::test::read_file(t / "out/d/e/f"), "second") << threads;
        EXPECT_EQ(qm::test::get_mtime(t / "out/d/e/f"), kT) << threads;
    }
}

// Which names count as the same for the commit's look: folded as the file systems may
// compare them, and remembered for one window of members.
TEST(RecentNames, FoldCaseAndSlashAndForgetAfterAWindow) {
    const struct {
        const char* name;
        bool repeats;
    } rows[] = {
        {"d/e/f", false}, {"d/e/g", false}, {"D/E/F", true}, {"d\\e\\g", true}, {"d/e/f ", false}, {"d/e", false},
    };
    qm::extract::RecentNames recent;
    for (const auto& r : rows) EXPECT_EQ(recent.repeats(r.name), r.repeats) << r.name;
    for (unsigned k = 0; k + 1 < qm::extract::RecentNames::kNames; ++k) recent.repeats(("x" + std::to_string(k)).c_str());
    EXPECT_TRUE(recent.repeats("d/e"));    // the last of the rows: still within the window
    EXPECT_FALSE(recent.repeats("d/e/f"));  // handed out a window ago
}

// An injected failure meets the same call as on the long way, and a new file that cannot
// be finished is not left behind.
struct Injected {
    fault::Op op;
    const char* message;
};

class NewFileFault : public ::testing::TestWithParam<Injected> {
protected:
    void TearDown() override { fault::disarm_all(); }
};

TEST_P(NewFileFault, GivesTheStepsMessageAndLeavesNoFile) {
    TempDir t;
    TarBuilder b;
    b.file("n.txt", "new", kT).end();
    TarContextPtr c = open_pkg(t, b);
    fault::arm(GetParam().op, 0, qm::plat::kENOSPC);
    EXPECT_EQ(extract_current(c), -1);
    fault::disarm_all();
    EXPECT_EQ(msg(c), GetParam().message);
    EXPECT_FALSE(fs::exists(t / "n.txt"));
}

INSTANTIATE_TEST_SUITE_P(
    Ops, NewFileFault,
    ::testing::Values(
        Injected{fault::Op::Create, "ERROR:create file:\"n.txt\" failed. rc=28 No space left on device\n"},
        Injected{fault::Op::Write, "ERROR:write file:\"n.txt\" failed. rc=28 No space left on device\n"},
        Injected{fault::Op::SetTime, "ERROR:utime file:\"n.txt\" failed. rc=28 No space left on device\n"}));

TEST(NewFile, ACreateFaultAfterSomePassesHitsTheSameMember) {
    TempDir t;
    TarBuilder b;
    b.file("a", "1", kT).file("b", "2", kT).file("c", "3", kT).end();
    TarContextPtr c = open_pkg(t, b);
    fault::arm(fault::Op::Create, 2, qm::plat::kEACCES);
    EXPECT_EQ(extract_current(c), 0);
    ASSERT_EQ(TarNext(c.get()), TarStep::Member);
    EXPECT_EQ(extract_current(c), 0);
    ASSERT_EQ(TarNext(c.get()), TarStep::Member);
    EXPECT_EQ(extract_current(c), -1);
    fault::disarm_all();
    EXPECT_EQ(msg(c), "ERROR:create file:\"c\" failed. rc=13 Permission denied\n");
}

#ifndef _WIN32
// The mode step as the runtime's chmod and the reset to normal attributes leave it: the
// owner-write bit always set; a mode without it takes the group's and others' write
// bits away. The file is created under the process's umask, so each case runs under one.
struct ModeCase {
    mode_t umask;
    unsigned member_mode;
    unsigned expected;
};

class NewFileMode : public ::testing::TestWithParam<ModeCase> {
protected:
    void SetUp() override { old_ = ::umask(GetParam().umask); }
    void TearDown() override { ::umask(old_); }
    mode_t old_ = 0;
};

TEST_P(NewFileMode, IsTheOneTheReplacingWayGives) {
    const ModeCase& k = GetParam();
    TempDir t;
    qm::test::write_file(t / "replaced", "old");
    qm::test::set_mtime(t / "replaced", kT - 1);
    ::chmod((t / "replaced").c_str(), 0666 & ~k.umask);
    TarBuilder b;
    for (const char* name : {"new", "replaced"}) {
        Member m;
        m.name = name;
        m.data = "x";
        m.mode = k.member_mode;
        m.mtime = kT;
        b.add(m);
    }
    b.end();
    TarContextPtr c = open_pkg(t, b);
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    ASSERT_EQ(TarNext(c.get()), TarStep::Member);
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    struct stat made, replaced;
    ASSERT_EQ(::stat((t / "new").c_str(), &made), 0);
    ASSERT_EQ(::stat((t / "replaced").c_str(), &replaced), 0);
    EXPECT_EQ(made.st_mode & 07777, k.expected);
    EXPECT_EQ(replaced.st_mode & 07777, k.expected);
}

INSTANTIATE_TEST_SUITE_P(Umasks, NewFileMode,
                         ::testing::Values(ModeCase{022, 0644, 0644}, ModeCase{0, 0644, 0666},
                                           ModeCase{0, 0444, 0644}, ModeCase{0222, 0644, 0644},
                                           ModeCase{0222, 0444, 0644}, ModeCase{077, 0755, 0600},
                                           ModeCase{0, 0555, 0644}));

// Links in the target: one at a member's name is replaced by the file and what it
// points to is never opened, created or changed; one on a member's way refuses the
// member and stops the expansion; the target itself may be reached through one.
struct LinkCase {
    const char* what;
    const char* link;    // made in the target, pointing to ../outside/<to> (or nowhere)
    const char* to;
    const char* member;  // a file member, or a directory one when it ends in "/"
    const char* shown;   // the box, or "" when the expansion goes through
};

const LinkCase kLinks[] = {
    {"dangling link at the name", "f", "missing", "f", ""},
    {"link to an older file outside", "f", "old.txt", "f", ""},
    {"directory link in the middle", "a", "dir", "a/b/f",
     "ERROR:File \"a/b/f\" unsafe name (link in the path). Not extracted\n"},
    {"directory link as the only directory", "a", "dir", "a/old.txt",
     "ERROR:File \"a/old.txt\" unsafe name (link in the path). Not extracted\n"},
    {"link at a directory member's name", "d", "dir", "d/",
     "ERROR:File \"d/\" unsafe name (link in the path). Not extracted\n"},
    {"directory link before a \\", "a", "dir", "a\\old.txt",
     "ERROR:File \"a\\old.txt\" unsafe name (link in the path). Not extracted\n"},
    {"directory link first of three \\ parts", "a", "dir", "a\\b\\f",
     "ERROR:File \"a\\b\\f\" unsafe name (link in the path). Not extracted\n"},
    {"directory link on a directory member's way", "a", "dir", "a/d/",
     "ERROR:File \"a/d/\" unsafe name (link in the path). Not extracted\n"},
};

class Links : public ::testing::TestWithParam<LinkCase> {};

TEST_P(Links, AreNeverFollowed) {
    const LinkCase& k = GetParam();
    TempDir t(false);
    fs::create_directories(t / "outside/dir/b");
    qm::test::write_file(t / "outside/old.txt", "not ours");
    qm::test::write_file(t / "outside/dir/old.txt", "not ours either");
    ::chmod((t / "outside/old.txt").c_str(), 0400);
    qm::test::set_mtime(t / "outside/old.txt", kT - 100);
    fs::create_directories(t / "target");
    fs::create_symlink(fs::path("../outside") / k.to, t / "target" / k.link);
    TarBuilder b;
    if (k.member[std::strlen(k.member) - 1] == '/')
        b.dir(k.member);
    else
        b.file(k.member, "member", kT);
    b.file("after", "a", kT).end();
    qm::test::write_bytes(t / "p.pkg", b.bytes());
    NotifyCapture cap;
    qm::packages::ExpandPackage((t / "p.pkg").string().c_str(), (t / "target").string().c_str());
    if (k.shown[0]) {
        ASSERT_EQ(cap.shown().size(), 1u) << k.what;
        EXPECT_EQ(cap.shown()[0], k.shown) << k.what;
        EXPECT_FALSE(fs::exists(t / "target/after")) << k.what << ": the expansion stops";
    } else {
        EXPECT_TRUE(cap.shown().empty()) << k.what;
        EXPECT_FALSE(fs::is_symlink(t / "target" / k.member)) << k.what;
        EXPECT_EQ(qm::test::read_file(t / "target" / k.member), "member") << k.what;
        EXPECT_EQ(qm::test::get_mtime(t / "target" / k.member), kT) << k.what;
    }
    // Nothing outside was created, written or given another mode.
    EXPECT_FALSE(fs::exists(t / "outside/missing")) << k.what;
    EXPECT_FALSE(fs::exists(t / "outside/dir/b/f")) << k.what;
    EXPECT_FALSE(fs::exists(t / "outside/dir/d")) << k.what;
    EXPECT_EQ(qm::test::read_file(t / "outside/old.txt"), "not ours") << k.what;
    EXPECT_EQ(qm::test::read_file(t / "outside/dir/old.txt"), "not ours either") << k.what;
    EXPECT_EQ(fs::status(t / "outside/old.txt").permissions(), fs::perms(0400)) << k.what;
    EXPECT_EQ(qm::test::get_mtime(t / "outside/old.txt"), kT - 100) << k.what;
}

INSTANTIATE_TEST_SUITE_P(InTheTarget, Links, ::testing::ValuesIn(kLinks));

TEST(Links, TheTargetItselfMayBeReachedThroughOne) {
    TempDir t(false);
    fs::create_directories(t / "real");
    fs::create_directory_symlink(t / "real", t / "chosen");
    TarBuilder b;
    b.file("x/y/f", "deep", kT).file("g", "flat", kT).end();
    qm::test::write_bytes(t / "p.pkg", b.bytes());
    NotifyCapture cap;
    qm::packages::ExpandPackage((t / "p.pkg").string().c_str(), (t / "chosen").string().c_str());
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_EQ(qm::test::read_file(t / "real/x/y/f"), "deep");
    EXPECT_EQ(qm::test::read_file(t / "real/g"), "flat");
}

// While a member is written, the name shows nothing (a new file) or the old file whole
// (a replaced one), and no other entry appears that anyone could open: looked at from
// the moment the data is written.
struct Look {
    fs::path dir;
    std::vector<std::string> seen;
    int looks = 0;
};

void look_at_write(qm::plat::fault::Op op, void* context) {
    if (op != qm::plat::fault::Op::Write) return;
    Look& l = *static_cast<Look*>(context);
    ++l.looks;
    std::vector<std::string> now;
    for (const auto& e : fs::directory_iterator(l.dir)) {
        std::string line = e.path().filename().string();
        if (e.is_regular_file()) line += "=" + qm::test::read_file(e.path());
        now.push_back(line);
    }
    std::sort(now.begin(), now.end());
    l.seen.insert(l.seen.end(), now.begin(), now.end());
}

TEST(WhileWritten, NobodyCanOpenTheNewFileAndTheOldOneStaysWhole) {
    TempDir t;
    fs::create_directories(t / "d");
    qm::test::write_file(t / "d/old", "old");
    qm::test::set_mtime(t / "d/old", kT - 1);
    TarBuilder b;
    b.file("d/new", "n", kT).file("d/old", "replacing", kT).end();
    TarContextPtr c = open_pkg(t, b);
    Look look{t / "d", {}, 0};
    qm::plat::fault::set_hook(&look_at_write, &look);
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    ASSERT_EQ(TarNext(c.get()), TarStep::Member);
    EXPECT_EQ(extract_current(c), 0) << msg(c);
    qm::plat::fault::set_hook(nullptr, nullptr);
    EXPECT_EQ(look.looks, 2);
    EXPECT_EQ(look.seen, (std::vector<std::string>{"old=old", "new=n", "old=old"}));
    EXPECT_EQ(qm::test::read_file(t / "d/old"), "replacing");
}
#endif

// The way is looked at before anything is created on it, on both sides. Wine cannot make
// a junction, so a probe that calls a real directory a link stands for one: the member
// the way leads through it to is refused before a file or directory is created there
// (natively, and under Wine through the Windows platform layer, whose own probe reports a
// junction or any reparse point as a link).
DiskEntry junction_at_j(void*, const char* path) noexcept {
    DiskEntry d = DiskProbe().at(nullptr, path);
    if (std::strcmp(path, "j") == 0) d.kind = DiskKind::Link;
    return d;
}

int g_creates = 0;
void count_creates(fault::Op op, void*) {
    if (op == fault::Op::Create) ++g_creates;
}

TEST(Links, OneOnTheWayIsSeenBeforeTheCreate) {
    TempDir t;
    fs::create_directories(t / "j/sub");
    const PathProbe probe{&junction_at_j, nullptr};
    for (const char* name : {"j/f", "j/sub/f", "j/sub/deeper/f", "j/d/"}) {
        TarEntry e;
        std::snprintf(e.name, sizeof e.name, "%s", name);
        e.type = name[std::strlen(name) - 1] == '/' ? '5' : '0';
        e.status.mtime = kT;
        MemberWrite m;
        WayCache way;
        m.decide(e, probe, way);
        g_creates = 0;
        fault::set_hook(&count_creates, nullptr);
        m.stage(nullptr);
        const Extraction x = m.commit(nullptr);
        fault::set_hook(nullptr, nullptr);
        EXPECT_EQ(outcome_name(x.outcome), std::string("fail")) << name;
        EXPECT_EQ(std::string(x.status.message),
                  std::string("ERROR:File \"") + name + "\" unsafe name (link in the path). Not extracted\n");
        EXPECT_EQ(g_creates, 0) << name << ": nothing is created before the way is known";
        EXPECT_EQ(m.change().kind, MemberChange::Kind::None) << name;
    }
    EXPECT_FALSE(fs::exists(t / "j/f"));
    EXPECT_FALSE(fs::exists(t / "j/d"));
    EXPECT_TRUE(fs::is_empty(t / "j/sub"));
}

}  // namespace

// The verdict on its own, a row per member kind and situation on disk: what extraction
// acts on and what the checker and the plan report, so a change of rule shows here first.
namespace {

struct VerdictRow {
    const char* name;
    char type;
    bool looked;
    DiskKind at_name;
    int64_t disk_mtime;        // at the name
    DiskKind way;              // the first component on the way that is not a directory
    bool link_on_way;
    Outcome outcome;
    bool make_dirs;
    bool needs_parent;
    int error;
    const char* message_start;  // "" for none
};

const VerdictRow kVerdicts[] = {
    // name       type look   at name             time    way                 link   outcome              dirs   parent error                    message
    {"a", '0', false, DiskKind::Absent, 0, DiskKind::Directory, false, Outcome::Write, false, false, 0, ""},
    {"a", '0', true, DiskKind::Absent, 0, DiskKind::Directory, false, Outcome::Write, false, false, 0, ""},
    {"a", '0', true, DiskKind::File, kT - 1, DiskKind::Directory, false, Outcome::Replace, false, false, 0, ""},
    {"a", '0', true, DiskKind::File, kT, DiskKind::Directory, false, Outcome::Replace, false, false, 0, ""},
    {"a", '0', true, DiskKind::File, kT + 1, DiskKind::Directory, false, Outcome::KeepNewer, false, false, 0, "WARNING: file:\"a\" on disk has newer mtime"},
    {"a", '0', true, DiskKind::Directory, kT - 1, DiskKind::Directory, false, Outcome::Fail, false, false, qm::plat::kEACCES, "ERROR:create file:\"a\" failed. rc=13"},
    {"a", '0', true, DiskKind::Link, kT + 99, DiskKind::Directory, false, Outcome::Replace, false, false, 0, ""},
    {"a", '0', true, DiskKind::Unknown, 0, DiskKind::Directory, false, Outcome::Fail, false, false, qm::plat::kEACCES, "ERROR:stat file:\"a\" failed. rc=13"},
    {"d/a", '0', true, DiskKind::File, kT - 1, DiskKind::Directory, true, Outcome::Fail, false, false, 0, "ERROR:File \"d/a\" unsafe name (link in the path)"},
    {"d/a", '0', true, DiskKind::Absent, 0, DiskKind::Absent, false, Outcome::Fail, false, true, qm::plat::kENOENT, "ERROR:create file:\"d/a\" failed. rc=2"},
    {"d/a", '0', true, DiskKind::Absent, 0, DiskKind::File, false, Outcome::Fail, false, false, qm::plat::kENOENT, "ERROR:create file:\"d/a\" failed. rc=2"},
    {"x/y/a", '0', true, DiskKind::Absent, 0, DiskKind::Absent, false, Outcome::Write, true, false, 0, ""},
    {"x/y/a", '0', true, DiskKind::Absent, 0, DiskKind::File, false, Outcome::Fail, false, false, qm::plat::kENOTDIR, "ERROR: x is not a directory. Extract x/y/a failed."},
    {"x/y/a", '0', true, DiskKind::Absent, 0, DiskKind::Unknown, false, Outcome::Fail, false, false, qm::plat::kEACCES, "ERROR: stat(x) failed 13"},
    {"", '0', false, DiskKind::Absent, 0, DiskKind::Directory, false, Outcome::Fail, false, false, qm::plat::kENOENT, "ERROR:create file:\"\" failed. rc=2"},
    {"d/", '5', false, DiskKind::Absent, 0, DiskKind::Directory, false, Outcome::Directory, true, false, 0, ""},
    {"d/", '5', true, DiskKind::Directory, kT + 1, DiskKind::Directory, false, Outcome::Directory, false, false, 0, ""},
    {"d/", '5', true, DiskKind::File, kT, DiskKind::Directory, false, Outcome::Fail, false, false, 0, "ERROR: name collision. \"d/\" on disk is a file."},
    {"d/", '5', true, DiskKind::Link, kT, DiskKind::Directory, false, Outcome::Fail, false, false, 0, "ERROR:File \"d/\" unsafe name (link in the path)"},
    {"d/", '5', true, DiskKind::Unknown, 0, DiskKind::Directory, false, Outcome::Fail, false, false, qm::plat::kEACCES, "ERROR: verify dir \"d/\" failed. rc=13"},
    {"p/d/", '5', true, DiskKind::Absent, 0, DiskKind::Absent, false, Outcome::Fail, false, true, qm::plat::kENOENT, "ERROR: extract dir \"p/d/\" failed. rc=2"},
    {"long", 'L', true, DiskKind::Absent, 0, DiskKind::Directory, false, Outcome::Refuse, false, false, 0, "WARNING: File:\"long\" long file name detected in tar."},
    {"s", '2', true, DiskKind::Absent, 0, DiskKind::Directory, false, Outcome::Refuse, false, false, 0, "ERROR:File \"s\" invalid type: 2."},
    {"../x", '0', true, DiskKind::Absent, 0, DiskKind::Directory, false, Outcome::Refuse, false, false, 0, "ERROR:File \"../x\" unsafe name ("},
};

TEST(Verdict, EachMemberKindAgainstEachSituationOnDisk) {
    for (const VerdictRow& row : kVerdicts) {
        TarEntry e;
        std::snprintf(e.name, sizeof e.name, "%s", row.name);
        e.type = row.type;
        e.status.mtime = kT;
        OnDisk d;
        d.looked = row.looked;
        d.at_name = DiskEntry{row.at_name, row.at_name == DiskKind::Unknown ? qm::plat::kEACCES : 0, row.disk_mtime};
        d.way = DiskEntry{row.way, row.way == DiskKind::Unknown ? qm::plat::kEACCES : 0, 0};
        std::snprintf(d.way_component, sizeof d.way_component, "x");
        d.link_on_way = row.link_on_way;
        const Verdict v = decide_member(e, d);
        const std::string where = std::string(row.name) + " " + row.type + " row " +
                                  std::to_string(&row - kVerdicts);
        EXPECT_EQ(outcome_name(v.outcome), std::string(outcome_name(row.outcome))) << where;
        EXPECT_EQ(v.make_dirs, row.make_dirs) << where;
        EXPECT_EQ(v.needs_parent, row.needs_parent) << where;
        EXPECT_EQ(v.error, row.error) << where;
        EXPECT_EQ(std::string(v.message).rfind(row.message_start, 0), 0u) << where << ": " << v.message;
        if (!*row.message_start) {
            EXPECT_STREQ(v.message, "") << where;
        }
    }
}

}  // namespace
