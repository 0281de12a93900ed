// Over-long input at the limits the library's fixed buffers set, where the area tests
// do not already reach them (docs/reliability.md lists where each limit is tested):
// package paths and member names at and past 255, 260 and 1023 characters, the
// 256-character message, 100, 101 and 1,000 chosen packages and manifests, an NMSROOT
// of 300 characters, copy paths of 1023 characters and environment values past the
// platform's size. Each has one outcome, tested; none writes past a buffer (the sanitizer build
// runs these too).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#endif

#include "common/capture.h"
#include "common/child_dir.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "fileutil/file_ops.h"
#include "fileutil/guarded_copy.h"
#include "fileutil/install_log.h"
#include "list_helpers.h"
#include "packages/expand.h"
#include "packages/package_list.h"
#include "packages/reinstall.h"
#include "packages/selection_dialog.h"
#include "platform/stand_in/memory_list_box.h"
#include "platform/sys.h"
#include "tar/tar.h"

namespace fs = std::filesystem;
using namespace qm::packages;
using qm::test::NotifyCapture;
using qm::test::read_file;
using qm::test::read_list;
using qm::test::TarBuilder;
using qm::test::TempDir;
using qm::test::write_file;
using Names = std::vector<std::string>;

namespace {

// A path of exactly length characters under base that ends in leaf; the directories on
// the way are created, none of them longer than a file system allows for one name.
std::string path_of_length(const fs::path& base, size_t length, const std::string& leaf) {
    std::string p = base.string();
    const char sep = static_cast<char>(fs::path::preferred_separator);
    while (p.size() + 1 + leaf.size() < length) {
        const size_t room = length - p.size() - 1 - leaf.size();
        // A directory of up to 200 characters, leaving either nothing or at least two
        // characters ("/x") for the next one.
        size_t n = room <= 200 ? room - 1 : 200;
        if (room > 200 && room - 200 < 3) n = 150;
        if (n == 0) break;
        p += sep + std::string(n, 'd');
        fs::create_directories(p);
    }
    p += sep + leaf;
    return p;
}

// ---- The package list's 100 slots ----------------------------------------------

class ChosenCount : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { qm::test::reset_list_state(); }
};

TEST_P(ChosenCount, FileOpenChoiceKeepsTheFirstHundred) {
    const int n = GetParam();
    std::string text = "D:\\PKGS";  // short names, so that 1,000 fit the dialog's buffer
    for (int i = 0; i < n; ++i) text += " p" + std::to_string(1000 + i);
    ASSERT_LT(text.size(), static_cast<size_t>(kSelectionBufferSize)) << "what the dialog can return";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    EXPECT_EQ(FillPackageList(buffer.data()), std::min(n, MAX_PACKAGES));
    const Names got = read_list();
    ASSERT_EQ(got.size(), static_cast<size_t>(std::min(n, MAX_PACKAGES)));
    EXPECT_EQ(got.front(), "D:\\PKGS\\p1000");
    EXPECT_EQ(got.back(), "D:\\PKGS\\p" + std::to_string(1000 + std::min(n, MAX_PACKAGES) - 1));
}

class Window final : public qm::plat::DialogWindow {
public:
    void set_caption(const char*) noexcept override {}
    void center_on_screen() noexcept override {}
    void end(int r) noexcept override { result = r; }
    int result = -99;
};

TEST_P(ChosenCount, ListDialogOkKeepsTheFirstHundredInListOrder) {
    const int n = GetParam();
    qm::plat::MemoryListBox list;
    for (int i = n - 1; i >= 0; --i) list.add(("p" + std::to_string(1000 + i) + ".pkg").c_str());
    Window window;
    PackageSelectionDialog dialog;
    dialog.open(list, window);
    dialog.command(IDC_SELECT_ALL, list, window);
    dialog.command(IDC_OK, list, window);
    EXPECT_EQ(window.result, 1);
    const Names got = read_list();
    ASSERT_EQ(got.size(), static_cast<size_t>(std::min(n, MAX_PACKAGES)));
    EXPECT_EQ(got.front(), "p1000.pkg");
    EXPECT_EQ(got.back(), "p" + std::to_string(1000 + std::min(n, MAX_PACKAGES) - 1) + ".pkg");
    for (int i = 0; i < std::min(n, MAX_PACKAGES); ++i) EXPECT_EQ(SelectedIndices[i], i);
}

TEST_P(ChosenCount, ReinstallListKeepsTheFirstHundredFound) {
    const int n = GetParam();
    TempDir root(false);
    for (int i = 0; i < n; ++i) write_file(root / ("etc/dorva/devices/m" + std::to_string(1000 + i) + ".mfs"), "m");
    EXPECT_EQ(GetReInstallPackageList(root.str().c_str()), 1);
    const Names got = read_list();
    ASSERT_EQ(got.size(), static_cast<size_t>(std::min(n, MAX_PACKAGES)));
    for (const std::string& e : got) {
        ASSERT_EQ(e.size(), 9u) << e;
        EXPECT_EQ(e.substr(5), ".pkg");
    }
}

INSTANTIATE_TEST_SUITE_P(Counts, ChosenCount, ::testing::Values(100, 101, 1000));

// ---- Package paths and member names ----------------------------------------------

class PackagePath : public ::testing::TestWithParam<size_t> {};

// A package path is opened as given: however long, the package expands and its
// manifest is found; the message that names it is cut to the 256-byte buffer.
TEST_P(PackagePath, ExpandsAndFindsTheManifestAtAnyLength) {
    const size_t length = GetParam();
    TempDir t;
    TarBuilder b;
    b.file("etc/devices/router.mfs", "manifest").file("readme.txt", "r").end();
    const std::string pkg = path_of_length(t.path(), length, "Router.pkg");
    ASSERT_EQ(pkg.size(), length);
    qm::test::write_bytes(pkg, b.bytes());
    fs::create_directories(t / "out/etc/devices");
    fs::create_directories(t / "mfs/etc/devices");
    NotifyCapture cap;
    EXPECT_EQ(ExpandPackage(pkg.c_str(), (t / "out").string().c_str()), 0);
    EXPECT_EQ(GetManifestFile(pkg.c_str(), (t / "mfs").string().c_str()), 0);
    fs::current_path(t.path());
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_EQ(read_file(t / "out/readme.txt"), "r");
    EXPECT_EQ(read_file(t / "mfs/etc/devices/router.mfs"), "manifest");
    EXPECT_FALSE(fs::exists(t / "mfs/readme.txt"));
}

TEST_P(PackagePath, RefusedTypeMessageIsCutToTheBuffer) {
    const size_t length = GetParam();
    TempDir t;
    TarBuilder b;
    qm::test::Member link;
    link.name = "link";
    link.type = '2';
    b.file("a.txt", "a").add(link).end();
    const std::string pkg = path_of_length(t.path(), length, "p.pkg");
    qm::test::write_bytes(pkg, b.bytes());
    fs::create_directories(t / "out");
    NotifyCapture cap;
    ExpandPackage(pkg.c_str(), (t / "out").string().c_str());
    fs::current_path(t.path());
    ASSERT_EQ(cap.shown().size(), 1u);
    const std::string full = "WARNING:\"" + pkg + "\" has invalid file type. offset:1024";
    EXPECT_EQ(cap.shown()[0], full.substr(0, qm::tar::kMessageSize - 1));
}

INSTANTIATE_TEST_SUITE_P(Lengths, PackagePath, ::testing::Values(size_t{255}, size_t{260}, size_t{1023}));

// The longest member name a header can carry: a ustar prefix of 155 characters, "/" and a
// name of 100, 256 in all, well inside the 1024-character name buffer. Extracted under a
// target that takes the whole path past 260 and past 1023 characters.
const std::string kPrefix = std::string(77, 'p') + "/" + std::string(77, 'q');  // 155
const std::string kName = std::string(96, 'n') + ".txt";                          // 100
const std::string kMember = kPrefix + "/" + kName;                                 // 256

TarBuilder longest_member() {
    qm::test::Member m;
    m.prefix = kPrefix;
    m.name = kName;
    m.posix_magic = true;
    m.data = "deep";
    TarBuilder b;
    b.add(m).end();
    return b;
}

class MemberPath : public ::testing::TestWithParam<size_t> {};

// Natively the target can be as long as the file system allows. Windows cannot make a
// directory of 260 characters or more the current one; the change of directory fails,
// and, as with a target that does not exist, the members go to the current directory
// as it was (Expand.MissingTargetExtractsIntoPreviousDirectory).
TEST_P(MemberPath, LongestMemberIsExtractedWhole) {
    TempDir t;
    const std::string target = path_of_length(t.path(), GetParam(), "target");
    fs::create_directories(target);
    ASSERT_EQ(kMember.size(), 256u);
    qm::test::write_bytes(t / "p.pkg", longest_member().bytes());
    NotifyCapture cap;
    ExpandPackage((t / "p.pkg").string().c_str(), target.c_str());
    fs::current_path(t.path());
    EXPECT_TRUE(cap.shown().empty()) << cap.shown()[0];
#ifdef _WIN32
    const bool into_target = target.size() < 260;
#else
    const bool into_target = true;
#endif
    const fs::path where = into_target ? fs::path(target) : t.path();
    EXPECT_EQ(read_file(where / kPrefix / kName), "deep");
}

INSTANTIATE_TEST_SUITE_P(TargetLengths, MemberPath, ::testing::Values(size_t{40}, size_t{300}, size_t{1023}));

TEST(MemberPath, MessageNamingTheLongestMemberIsCutToTheBuffer) {
    TempDir t;
    write_file(t / "out" / std::string(77, 'p'), "a file where a directory is due");
    qm::test::write_bytes(t / "p.pkg", longest_member().bytes());
    NotifyCapture cap;
    ExpandPackage((t / "p.pkg").string().c_str(), (t / "out").string().c_str());
    fs::current_path(t.path());
    ASSERT_EQ(cap.shown().size(), 1u);
    const std::string full = "ERROR: " + std::string(77, 'p') + " is not a directory. Extract " + kMember + " failed.";
    EXPECT_EQ(cap.shown()[0], full.substr(0, qm::tar::kMessageSize - 1));
    EXPECT_EQ(cap.shown()[0].size(), 255u);
}

TEST(ManifestName, FileNamePartPastTheLimitIsCutNotOverrun) {
    TempDir t;
    // No such package: nothing happens, but the name is still worked out first.
    NotifyCapture cap;
    const std::string pkg = "C:\\pkgs\\" + std::string(1023, 'L') + ".pkg";
    EXPECT_EQ(GetManifestFile(pkg.c_str(), t.str().c_str()), 0);
    EXPECT_TRUE(cap.shown().empty());
    char out[256];
    split_file_name(pkg.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), std::string(255, 'L'));
}

// ---- Copy paths, the install log's NMSROOT, the environment ---------------------

TEST(CopyPaths, SourceDirectoriesPastTheLimitFindNothingAndTouchNothing) {
    TempDir t;
    write_file(t / "d/f", "kept");
    for (size_t length : {size_t{255}, size_t{260}, size_t{1023}}) {
        const std::string source = std::string(length, 's');
        EXPECT_EQ(qm::fileutil::MyCopyFiles(source.c_str(), "d", "*"), 0) << length;
        EXPECT_EQ(qm::fileutil::MyCopyFiles("d", source.c_str(), "*"), 1) << "the walk runs; no path fits";
    }
    EXPECT_EQ(read_file(t / "d/f"), "kept");
    EXPECT_FALSE(fs::exists(t / "kyinstall.log"));
}

// An NMSROOT of 300 characters makes a log path past 255: the refusal stands and goes
// to no log at all, rather than to a log in the directory that 241 of its characters
// would name.
TEST(NmsrootAtLoad, ThreeHundredCharactersLogNowhere) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const qm::test::ChildSharedDir dir("QM_TEST_LONG_NMSROOT");
    const std::string base = (dir.path() / "r").string();
    const std::string root = base + std::string(300 - base.size(), 'r');
    if (!dir.in_child()) {
        ASSERT_LT(base.size(), 200u);
        fs::create_directories(root.substr(0, 241));  // where a cut-short path would point
        ASSERT_TRUE(qm::plat::set_env("NMSROOT", root.c_str()).ok());
        write_file(dir.path() / "s/f.txt", "older");
        write_file(dir.path() / "d/f.txt", "newer");
        qm::test::set_mtime(dir.path() / "s/f.txt", 1000000000);
        qm::test::set_mtime(dir.path() / "d/f.txt", 1000000100);
    }
    EXPECT_EXIT(
        {
            const char* at_start = qm::plat::nmsroot_at_load();
            const bool seen = at_start && std::strlen(at_start) == 300;
            struct Refusal final : qm::fileutil::CopyObserver {
                bool unlogged = false;
                void entry(const qm::fileutil::CopyEvent& e) noexcept override {
                    unlogged = e.outcome == qm::fileutil::CopyOutcome::RefusedUnlogged;
                }
            } refusal;
            qm::fileutil::MyCopyFiles((dir.path() / "s").string().c_str(), (dir.path() / "d").string().c_str(),
                                      "f.txt", &refusal);
            const bool refused = refusal.unlogged;
            std::fprintf(stderr, "seen %d, refused %d", seen ? 1 : 0, refused ? 1 : 0);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "seen 1, refused 1");
    qm::plat::set_env("NMSROOT", nullptr);
    for (const auto& e : fs::recursive_directory_iterator(dir.path()))
        EXPECT_NE(e.path().filename(), "kyinstall.log") << e.path();
    EXPECT_EQ(read_file(dir.path() / "d/f.txt"), "newer");
}

// The environment takes what the platform takes, unchanged: natively any length; on
// Windows whatever SetEnvironmentVariableA makes of a value past its 32,767 characters.
TEST(Environment, LongValuesGetThePlatformsOwnResult) {
    for (size_t length : {size_t{1023}, size_t{32766}, size_t{40000}}) {
        const std::string value(length, 'v');
        const int r = qm::fileutil::SetEnvVariable("QM_LONG_VALUE", value.c_str());
#ifdef _WIN32
        // Wine's own call crashes on values past the limit, so the expectation is
        // Windows' documented one: 32,767 characters and more are refused.
        EXPECT_EQ(r != 0, length < 32767) << length;
        if (length < 32767) {
            std::vector<char> buf(length + 1);
            EXPECT_EQ(GetEnvironmentVariableA("QM_LONG_VALUE", buf.data(), static_cast<DWORD>(buf.size())), length);
            EXPECT_EQ(std::string(buf.data()), value) << length;
        }
#else
        EXPECT_NE(r, 0) << length;
        EXPECT_EQ(std::string(std::getenv("QM_LONG_VALUE")), value) << length;
#endif
    }
    qm::fileutil::SetEnvVariable("QM_LONG_VALUE", nullptr);
}

}  // namespace
