// ExpandPackage and GetManifestFile: the member loop, what stops it, what is shown,
// and which member is the manifest.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>

#include "common/as_export.h"
#include "common/capture.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "packages/expand.h"
#include "packages/remove.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/host.h"

using namespace qm::packages;
using qm::tar::TarLoad;
using qm::test::Member;
using qm::test::NotifyCapture;
using qm::test::TarBuilder;
using qm::test::TempDir;
namespace fs = std::filesystem;
namespace fault = qm::plat::fault;

namespace {

std::string pkg(TempDir& t, const TarBuilder& b, const std::string& name = "p.pkg") {
    qm::test::write_bytes(t / name, b.bytes());
    return (t / name).string();
}

TEST(Expand, WritesEveryMemberAndShowsNothing) {
    TempDir t;
    fs::create_directory(t / "out");
    TarBuilder b;
    b.dir("etc/").dir("etc/dorva/").file("etc/dorva/x.tcl", "puts x").file("top", "t").end();
    NotifyCapture cap;
    EXPECT_EQ(ExpandPackage(pkg(t, b).c_str(), (t / "out").string().c_str()), 0);
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_EQ(qm::test::read_file(t / "out/etc/dorva/x.tcl"), "puts x");
    EXPECT_EQ(qm::test::read_file(t / "out/top"), "t");
    EXPECT_TRUE(fs::equivalent(fs::current_path(), t / "out"));
}

TEST(Expand, MissingPackageIsSilentAndTargetBecomesCurrent) {
    TempDir t;
    NotifyCapture cap;
    EXPECT_EQ(ExpandPackage("nope.pkg", t.str().c_str()), 0);
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_TRUE(fs::equivalent(fs::current_path(), t.path()));
}

TEST(Expand, MissingTargetExtractsIntoPreviousDirectory) {
    TempDir t;
    TarBuilder b;
    b.file("here.txt", "h").end();
    const std::string p = pkg(t, b);
    NotifyCapture cap;
    ExpandPackage(p.c_str(), (t / "absent").string().c_str());
    EXPECT_TRUE(fs::exists(t / "here.txt"));
}

TEST(Expand, RelativePackagePathIsTakenInTheTarget) {
    TempDir t;
    TarBuilder b;
    b.file("r.txt", "r").end();
    qm::test::write_bytes(t / "out/rel.pkg", b.bytes());
    NotifyCapture cap;
    ExpandPackage("rel.pkg", (t / "out").string().c_str());
    EXPECT_EQ(qm::test::read_file(t / "out/r.txt"), "r");
}

TEST(Expand, CollisionStopsWithItsMessageAfterEarlierMembers) {
    TempDir t;
    qm::test::write_file(t / "out/third", "file");
    TarBuilder b;
    b.file("one", "1").file("two", "2").dir("third").file("four", "4").end();
    NotifyCapture cap;
    ExpandPackage(pkg(t, b).c_str(), (t / "out").string().c_str());
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(cap.shown()[0],
              "ERROR: name collision. \"third\" on disk is a file. Name in archive is a directory.");
    EXPECT_TRUE(fs::exists(t / "out/one"));
    EXPECT_TRUE(fs::exists(t / "out/two"));
    EXPECT_FALSE(fs::exists(t / "out/four"));
}

TEST(Expand, NewerFileOnDiskIsKeptSilentlyAndTheRestGoesOn) {
    TempDir t;
    qm::test::write_file(t / "out/keep", "mine");
    qm::test::set_mtime(t / "out/keep", 315630000 + 60);
    TarBuilder b;
    b.file("keep", "theirs").file("after", "a").end();
    NotifyCapture cap;
    ExpandPackage(pkg(t, b).c_str(), (t / "out").string().c_str());
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_EQ(qm::test::read_file(t / "out/keep"), "mine");
    EXPECT_EQ(qm::test::read_file(t / "out/after"), "a");
}

TEST(Expand, RefusedTypeAfterTheFirstIsShownAndStops) {
    TempDir t;
    Member link;
    link.name = "lnk";
    link.type = '1';
    TarBuilder b;
    b.file("a", "a").add(link).file("b", "b").end();
    NotifyCapture cap;
    const std::string p = pkg(t, b);
    ExpandPackage(p.c_str(), t.str().c_str());
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(cap.shown()[0], "WARNING:\"" + p + "\" has invalid file type. offset:1024");
    EXPECT_FALSE(fs::exists(t / "b"));
}

TEST(Expand, DamagedHeaderEndsSilently) {
    TempDir t;
    Member bad;
    bad.name = "bad";
    bad.checksum_delta = 3;
    TarBuilder b;
    b.file("a", "a").add(bad).file("c", "c").end();
    NotifyCapture cap;
    ExpandPackage(pkg(t, b).c_str(), t.str().c_str());
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_TRUE(fs::exists(t / "a"));
    EXPECT_FALSE(fs::exists(t / "c"));
}

TEST(Expand, TruncatedLastMemberIsReportedNotWrittenHalf) {
    TempDir t;
    TarBuilder b;
    b.file("whole", "w");
    std::string bytes = b.str();
    TarBuilder c;
    c.file("half", std::string(3000, 'h'));
    std::string tail = c.str().substr(0, 1024);  // header and one of six data blocks
    qm::test::write_file(t / "p.pkg", bytes + tail);
    NotifyCapture cap;
    ExpandPackage((t / "p.pkg").string().c_str(), t.str().c_str());
    EXPECT_TRUE(fs::exists(t / "whole"));
    EXPECT_FALSE(fs::exists(t / "half"));
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_NE(cap.shown()[0].find("\"half\" is cut short"), std::string::npos);
}

// What another program does to the package, once, at the first step of the kind named:
// a read of the package, or the first file the expansion creates.
struct Meddling {
    fault::Op when;
    std::string path;
    void (*act)(const std::string& path);
} g_meddling;

void meddle(fault::Op op, void*) {
    if (op != g_meddling.when || !g_meddling.act) return;
    std::exchange(g_meddling.act, nullptr)(g_meddling.path);
}

std::string meddled(TempDir& t, fault::Op when, void (*act)(const std::string&)) {
    TarBuilder b;
    b.file("a", std::string(300000, 'a')).file("b", "b").end();
    g_meddling = Meddling{when, pkg(t, b), act};
    fault::set_hook(&meddle, nullptr);
    return g_meddling.path;
}

void cut_to(const std::string& path, uintmax_t size) { fs::resize_file(path, size); }

// Other bytes over the same length, as the next version copied over it in place. Its
// time is set later: the write's own could fall within the clock tick of the library's
// look on a kernel with coarse file times.
void rewrite(const std::string& path) {
    const auto was = fs::last_write_time(path);
    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary).seekp(1024) << std::string(4096, 'z');
    fs::last_write_time(path, was + std::chrono::seconds(10));
}

std::string cut_while_read(TempDir& t) {
    return meddled(t, fault::Op::Read, [](const std::string& p) { cut_to(p, 2048); });
}
std::string rewritten_while_read(TempDir& t) { return meddled(t, fault::Op::Read, &rewrite); }
std::string grown_while_read(TempDir& t) {
    return meddled(t, fault::Op::Read, [](const std::string& p) {
        std::ofstream(p, std::ios::binary | std::ios::app) << std::string(1024, '\0');
    });
}

// Packages that are not what they seem: nothing that is not a regular file is read (a
// FIFO would block the read for ever), and none of them is shown to the user, but the
// caller learns what became of each, and the script from the last error.
struct Unloadable {
    const char* what;
    // Makes the package in t and returns its path; arms a fault when it needs one.
    std::string (*make)(TempDir& t);
    TarLoad load;  // TarLoad::Loaded: any failure to load will do (it differs by platform)
    unsigned long code;  // the last error; 0: any failure's will do (it differs by platform)
};

std::string missing(TempDir& t) { return (t / "absent.pkg").string(); }
std::string directory(TempDir& t) {
    fs::create_directory(t / "dir.pkg");
    return (t / "dir.pkg").string();
}
std::string read_error(TempDir& t) {
    TarBuilder b;
    b.file("a", "a").end();
    qm::test::write_bytes(t / "p.pkg", b.bytes());
    fault::arm(fault::Op::Read, 0, qm::plat::kEIO);
    return (t / "p.pkg").string();
}
#ifdef _WIN32
std::string device(TempDir&) { return "NUL"; }
#else
std::string device(TempDir&) { return "/dev/zero"; }
std::string fifo(TempDir& t) {
    ::mkfifo((t / "fifo.pkg").c_str(), 0600);  // no writer: a blocking open would wait for ever
    return (t / "fifo.pkg").string();
}
#endif

namespace win32 = qm::plat::win32;
const Unloadable kUnloadable[] = {
    {"missing", missing, TarLoad::Missing, win32::kFileNotFound},
    {"a directory", directory, TarLoad::Loaded, 0},
    {"a device", device, TarLoad::NotAFile, win32::kAccessDenied},
    {"a read error", read_error, TarLoad::ReadError, 0},
    {"cut short while it is read", cut_while_read, TarLoad::Changed, win32::kSharingViolation},
    {"rewritten in place while it is read", rewritten_while_read, TarLoad::Changed, win32::kSharingViolation},
    {"grown while it is read", grown_while_read, TarLoad::Changed, win32::kSharingViolation},
#ifndef _WIN32
    {"a FIFO", fifo, TarLoad::NotAFile, win32::kAccessDenied},
#endif
};

class NotAPackage : public ::testing::TestWithParam<Unloadable> {
protected:
    void TearDown() override {
        fault::disarm_all();
        fault::set_hook(nullptr, nullptr);
    }
};

TEST_P(NotAPackage, IsPassedOverSilentlyAndItsLoadIsReported) {
    const Unloadable& k = GetParam();
    TempDir t;
    fs::create_directory(t / "out");
    const std::string out = (t / "out").string();
    const std::string path = k.make(t);
    NotifyCapture cap;
    PackageOutcome expanded, manifest, removed;
    const unsigned long codes[] = {
        qm::test::last_error_of("ExpandPackage",
                                [&] { EXPECT_EQ(ExpandPackageObserved(path.c_str(), out.c_str(), nullptr, &expanded), 0); }),
        qm::test::last_error_of("GetManifestFile", [&] {
            fault::disarm_all();
            k.make(t);
            EXPECT_EQ(GetManifestFileReported(path.c_str(), out.c_str(), &manifest), 0);
        }),
        qm::test::last_error_of("RemovePackage", [&] {
            fault::disarm_all();
            k.make(t);
            EXPECT_EQ(remove_package_observed(path.c_str(), out.c_str(), nullptr, &removed), -1);
        }),
    };
    EXPECT_TRUE(cap.shown().empty()) << k.what << ": " << cap.shown().front();
    EXPECT_TRUE(fs::is_empty(t / "out")) << k.what;
    for (const PackageOutcome* o : {&expanded, &manifest, &removed}) {
        if (k.load != TarLoad::Loaded) {
            EXPECT_EQ(o->load, k.load) << k.what;
        } else {
            // Not loaded, whichever way this platform refuses it: never one read that held nothing.
            EXPECT_NE(o->load, TarLoad::Loaded) << k.what;
            EXPECT_NE(o->load, TarLoad::NoHeader) << k.what;
        }
        EXPECT_NE(std::string(o->message), "") << k.what;
    }
    for (const unsigned long code : codes) {
        if (k.code != 0) {
            EXPECT_EQ(code, k.code) << k.what;
        } else {
            EXPECT_NE(code, 0u) << k.what;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, NotAPackage, ::testing::ValuesIn(kUnloadable));

// Once read, the package is the library's own copy: another program that cuts it short
// or writes the next version over it while the members are written changes nothing of
// what is installed (a mapping of the file ended the process, or spliced versions).
TEST(Expand, APackageChangedAfterItWasReadIsInstalledAsItWasRead) {
    for (void (*act)(const std::string&) : {+[](const std::string& p) { cut_to(p, 0); }, &rewrite}) {
        TempDir t;
        fs::create_directory(t / "out");
        const std::string path = meddled(t, fault::Op::Create, act);
        NotifyCapture cap;
        EXPECT_EQ(ExpandPackage(path.c_str(), (t / "out").string().c_str()), 0);
        fault::set_hook(nullptr, nullptr);
        EXPECT_EQ(g_meddling.act, nullptr) << "the package was changed";
        EXPECT_TRUE(cap.shown().empty()) << cap.shown().front();
        EXPECT_EQ(qm::test::read_file(t / "out/a"), std::string(300000, 'a'));
        EXPECT_EQ(qm::test::read_file(t / "out/b"), "b");
    }
}

// Too large to be loaded: for the process's memory (injected here; really, in the 32-bit
// DLL from several hundred MB up), or for the reader, which takes no package of 2 GiB or
// more whatever memory there is (sparse files). Each is shown with its size. Once it is
// loaded, an expansion also needs memory for the window of members on their way.
struct TooLarge {
    const char* what;
    uint64_t size;    // of a sparse package; 0: a small one, and allocations fail
    int allocations;  // that succeed first: the context and the copy of the path, then the package's bytes
    TarLoad load;
    unsigned long code;
    const char* shown;  // {P}: the package, {N}: its size; the call's own tail follows
};
const TooLarge kTooLarge[] = {
    {"no memory", 0, 2, TarLoad::NoMemory, win32::kNotEnoughMemory,
     "ERROR: out of memory for package \"{P}\" ({N} bytes). "},
    {"2 GiB", uint64_t{1} << 31, 0, TarLoad::TooLarge, win32::kFileTooLarge,
     "ERROR: package \"{P}\" is too large ({N} bytes; at most 2147483647). "},
    {"4 GiB", uint64_t{1} << 32, 0, TarLoad::TooLarge, win32::kFileTooLarge,
     "ERROR: package \"{P}\" is too large ({N} bytes; at most 2147483647). "},
    {"no memory for the window", 0, 3, TarLoad::Loaded, win32::kNotEnoughMemory, "ERROR: out of memory. "},
};

class PackageTooLarge : public ::testing::TestWithParam<TooLarge> {};

TEST_P(PackageTooLarge, IsShownWithItsSize) {
    const TooLarge& k = GetParam();
    TempDir t;
    TarBuilder b;
    b.file("a", "a").end();
    const std::string path = pkg(t, b);
    if (k.size) fs::resize_file(path, k.size);
    const std::string size = std::to_string(k.size ? k.size : b.bytes().size());
    std::string shown = k.shown;
    for (const auto& [mark, text] : {std::pair<std::string, std::string>{"{N}", size}, {"{P}", path}})
        if (const size_t at = shown.find(mark); at != std::string::npos) shown.replace(at, mark.size(), text);
    const struct {
        int (*call)(const char*, const char*, PackageOutcome*);
        const char* tail;
    } calls[] = {
        {[](const char* p, const char* d, PackageOutcome* o) { return ExpandPackageObserved(p, d, nullptr, o); },
         "Package not expanded."},
        {GetManifestFileReported, "Manifest not extracted."},
        {[](const char* p, const char* d, PackageOutcome* o) { return remove_package_observed(p, d, nullptr, o); },
         "Package not removed."},
    };
    // A package that was loaded fails only where an expansion needs more: the first call.
    for (size_t i = 0; i < (k.load == TarLoad::Loaded ? 1 : std::size(calls)); ++i) {
        const auto& c = calls[i];
        NotifyCapture cap;
        PackageOutcome o;
        const unsigned long code = qm::test::last_error_of("ExpandPackage", [&] {
            if (!k.size) fault::arm(fault::Op::Alloc, k.allocations, qm::plat::kENOMEM);
            c.call(path.c_str(), t.str().c_str(), &o);
            fault::disarm_all();
        });
        EXPECT_EQ(code, k.code) << k.what;
        EXPECT_EQ(o.load, k.load) << k.what;
        EXPECT_EQ(std::to_string(o.size), size) << k.what;
        ASSERT_EQ(cap.shown().size(), 1u) << k.what;
        EXPECT_EQ(cap.shown()[0], shown + c.tail) << k.what;
        EXPECT_FALSE(fs::exists(t / "a")) << k.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PackageTooLarge, ::testing::ValuesIn(kTooLarge));

#ifndef _WIN32
// Two expansions of one package into one target at the same time (two install scripts,
// or a script run twice): thousands of directories that both make, as members and as
// parents, and neither may stop at one the other made first.
TEST(Expand, TwoAtOnceIntoOneTargetBothSucceed) {
    TempDir t;
    const TarBuilder b = qm::test::shared_directories(1500);
    const std::string path = pkg(t, b);
    for (int round = 0; round < 3; ++round) {
        const fs::path target = t / ("out" + std::to_string(round));
        fs::create_directory(target);
        pid_t children[2];
        for (pid_t& child : children) {
            child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                NotifyCapture cap;
                ExpandPackage(path.c_str(), target.string().c_str());
                for (const std::string& m : cap.shown()) std::fprintf(stderr, "%s\n", m.c_str());
                _exit(cap.shown().empty() ? 0 : 1);
            }
        }
        for (pid_t child : children) {
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        EXPECT_EQ(qm::test::read_file(target / "d1499/f"), "1499") << "round " << round;
        EXPECT_EQ(qm::test::read_file(target / "p1499/q/r/f"), "1499") << "round " << round;
    }
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_UNDER_ASAN 1
#endif
#endif
#if !defined(QM_UNDER_ASAN) && !defined(__SANITIZE_ADDRESS__)
// The walk keeps nothing of the members it has passed: an expansion needs the package
// and a constant beside it, however many headers it holds. (Not in the sanitizer build,
// whose shadow memory and quarantine are no measure of the library's.)
TEST(Expand, PeakMemoryIsThePackageAndAConstant) {
    TempDir t;
    constexpr int kHeaders = 300000;
    {
        std::ofstream f(t / "many.pkg", std::ios::binary);
        qm::test::write_repeated_directory(f, kHeaders);
    }
    const auto size = static_cast<int64_t>(fs::file_size(t / "many.pkg"));
    fs::create_directory(t / "out");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        NotifyCapture cap;
        ExpandPackage((t / "many.pkg").string().c_str(), (t / "out").string().c_str());
        _exit(cap.shown().empty() ? 0 : 1);
    }
    int status = 0;
    struct rusage usage;
    ASSERT_EQ(wait4(child, &status, 0, &usage), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::is_directory(t / "out/d"));
    const int64_t peak = static_cast<int64_t>(usage.ru_maxrss) * 1024;
    RecordProperty("package_bytes", std::to_string(size));
    RecordProperty("peak_bytes", std::to_string(peak));
    EXPECT_LE(peak, size + (int64_t{64} << 20)) << "package " << size << " bytes, peak " << peak;
}
#endif
#endif

// Another expansion may make a directory between the look-up that found it missing and
// the mkdir: a directory there then is as good as one made; anything else stays an error.
struct Race {
    const char* what;
    const char* member;   // a directory when it ends in "/"
    bool leaves_a_file;   // the other party makes a file, not a directory
    const char* message;  // "" when the expansion goes on
    // Other than 0: the other party writes the member itself, "theirs" with this time,
    // while this expansion makes its directories; the member is "ours" of 1000000000.
    int64_t theirs_time = 0;
    const char* content = "ours";
};

fs::path g_race_target;
bool g_race_file = false;
int64_t g_theirs_time = 0;
std::string g_race_member;
void other_party(const char* path) {
    std::string p = path;
    while (!p.empty() && p.back() == '/') p.pop_back();
    std::error_code ec;
    if (g_theirs_time != 0) {
        if (fs::exists(g_race_target / g_race_member)) return;
        qm::test::write_file(g_race_target / g_race_member, "theirs");
        qm::test::set_mtime(g_race_target / g_race_member, g_theirs_time);
    } else if (g_race_file) {
        qm::test::write_file(g_race_target / p, "theirs");
    } else {
        fs::create_directory(g_race_target / p, ec);
    }
}

class MadeMeanwhile : public ::testing::TestWithParam<Race> {
protected:
    void TearDown() override { fault::disarm_all(); }
};

TEST_P(MadeMeanwhile, ADirectoryIsSuccessAnythingElseAnError) {
    const Race& k = GetParam();
    TempDir t;
    g_race_target = t / "out";
    g_race_file = k.leaves_a_file;
    g_theirs_time = k.theirs_time;
    g_race_member = k.member;
    fs::create_directory(g_race_target);
    TarBuilder b;
    const std::string member = k.member;
    if (member.back() == '/') b.dir(member);
    else b.file(member, "ours", 1000000000);
    b.file("after", "a").end();
    const std::string path = pkg(t, b);
    NotifyCapture cap;
    fault::before_make_dir(other_party);
    ExpandPackage(path.c_str(), g_race_target.string().c_str());
    fault::disarm_all();
    if (k.message[0] == '\0') {
        EXPECT_TRUE(cap.shown().empty()) << k.what << ": " << cap.shown().front();
        EXPECT_TRUE(fs::exists(g_race_target / "after")) << k.what;
        if (member.back() != '/') {
            EXPECT_EQ(qm::test::read_file(g_race_target / member), k.content) << k.what;
        }
    } else {
        ASSERT_EQ(cap.shown().size(), 1u) << k.what;
        EXPECT_EQ(cap.shown()[0], k.message) << k.what;
        EXPECT_FALSE(fs::exists(g_race_target / "after")) << k.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MadeMeanwhile,
    ::testing::Values(Race{"parents of a member", "a/b/c/f", false, ""},
                      Race{"a directory member", "d/", false, ""},
                      Race{"an older file at a new file's name", "a/b/f", false, "", 999999999, "ours"},
                      Race{"a newer file at a new file's name", "a/b/f", false, "", 1000000001, "theirs"},
                      Race{"a file where a parent is made", "a/b/f", true, "ERROR: mkdir(a) failed 17 File exists"},
                      Race{"a file where a directory member is made", "d/", true,
                           "ERROR: name collision. \"d/\" on disk is a file. Name in archive is a directory."}));

TEST(Manifest, NameComesFromThePackageFileName) {
    struct Case {
        const char* path;
        const char* expected;
    } cases[] = {
        {"d:\\pkgs\\Router.pkg", "Router"}, {"d:\\pkgs\\router", "router"},
        {"/x/y.z/atm.pkg", "atm"},          {"c:rel.pkg", "rel"},
        {"a.b.c.pkg", "a.b.c"},             {"noext", "noext"},
        {"dir\\.pkg", ""},                  {"x.averyveryverylongextension", "x"},
    };
    for (const Case& k : cases) {
        char out[256];
        split_file_name(k.path, out, sizeof out);
        EXPECT_STREQ(out, k.expected) << k.path;
    }
    const std::string longname(400, 'L');
    char out[256];
    split_file_name((longname + ".pkg").c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), std::string(255, 'L'));
}

TEST(Manifest, OnlyTheFirstMatchIsExtractedUnderItsLowerCaseName) {
    TempDir t;
    TarBuilder b;
    b.dir("etc/").dir("etc/devices/").file("etc/a.txt", "a")
        .file("etc/devices/ROUTER.MFS", "first").file("etc/devices/router.mfs", "second").end();
    qm::test::write_bytes(t / "Router.pkg", b.bytes());
    fs::create_directory(t / "out");
    fs::create_directory(t / "out/etc");
    fs::create_directory(t / "out/etc/devices");
    NotifyCapture cap;
    EXPECT_EQ(GetManifestFile((t / "Router.pkg").string().c_str(), (t / "out").string().c_str()), 0);
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_FALSE(fs::exists(t / "out/etc/a.txt"));
    // Compare names as the directory lists them: case matters on POSIX.
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(t / "out/etc/devices")) names.push_back(e.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], "router.mfs");
    EXPECT_EQ(qm::test::read_file(t / "out/etc/devices/router.mfs"), "first");
}

TEST(Manifest, SubstringMatchesAndNoExtensionPackage) {
    TempDir t;
    TarBuilder b;
    b.file("readme", "r").file("xrouter.mfs.old", "sub").end();
    qm::test::write_bytes(t / "router", b.bytes());
    NotifyCapture cap;
    GetManifestFile((t / "router").string().c_str(), t.str().c_str());
    EXPECT_EQ(qm::test::read_file(t / "xrouter.mfs.old"), "sub");
    EXPECT_FALSE(fs::exists(t / "readme"));
}

TEST(Manifest, NewerManifestOnDiskEndsSilentlyWithoutTryingLaterMatches) {
    TempDir t;
    qm::test::write_file(t / "atm.mfs", "mine");
    qm::test::set_mtime(t / "atm.mfs", 315630000 + 1);
    TarBuilder b;
    b.file("atm.mfs", "older").file("x/atm.mfs", "later").end();
    qm::test::write_bytes(t / "atm.pkg", b.bytes());
    NotifyCapture cap;
    GetManifestFile((t / "atm.pkg").string().c_str(), t.str().c_str());
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_EQ(qm::test::read_file(t / "atm.mfs"), "mine");
    EXPECT_FALSE(fs::exists(t / "x"));
}

TEST(Manifest, NoMatchShowsNothing) {
    TempDir t;
    TarBuilder b;
    b.file("other.mfs", "o").end();
    qm::test::write_bytes(t / "atm.pkg", b.bytes());
    NotifyCapture cap;
    GetManifestFile((t / "atm.pkg").string().c_str(), t.str().c_str());
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_FALSE(fs::exists(t / "other.mfs"));
}

TEST(Manifest, FailedExtractionIsShown) {
    TempDir t;
    TarBuilder b;
    b.file("atm.mfs/x", "o").file("q/atm.mfs", "m").end();  // one slash: q must exist
    qm::test::write_bytes(t / "atm.pkg", b.bytes());
    NotifyCapture cap;
    GetManifestFile((t / "atm.pkg").string().c_str(), t.str().c_str());
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(cap.shown()[0], "ERROR:create file:\"atm.mfs/x\" failed. rc=2 No such file or directory\n");
}

}  // namespace
