// ExpandPackage and GetManifestFile through the real DLL: what lands on disk and what
// the user sees in the "Error" box; an expansion whose process is ended midway, and
// what of a replaced file's identity the platform keeps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/corpus.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::Member;
using qm::test::TarBuilder;
using qm::test::TempDir;
namespace fs = std::filesystem;

namespace {

using PackageFn = int(WINAPI*)(const char*, const char*);

PackageFn expand() { return get<PackageFn>("ExpandPackage", 6); }
PackageFn manifest() { return get<PackageFn>("GetManifestFile", 16); }

// The Windows runtime's own ctime text of t, without its newline.
std::string crt_ctime(int64_t t) {
    __time64_t tt = t;
    std::string s = _ctime64(&tt);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

TEST(ExpandDll, WritesMembersAndShowsNothingOnSuccess) {
    ASSERT_NE(expand(), nullptr);
    TempDir t;
    TarBuilder b;
    b.dir("etc/").file("etc/a.txt", "alpha").file("readme", "r").end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    const std::string target = (t / "out").string();
    CreateDirectoryA(target.c_str(), nullptr);
    DialogWatcher watch;
    EXPECT_EQ(expand()((t / "in.pkg").string().c_str(), target.c_str()), 0);
    EXPECT_TRUE(watch.shown().empty());
    EXPECT_EQ(qm::test::read_file(t / "out/etc/a.txt"), "alpha");
    EXPECT_EQ(qm::test::read_file(t / "out/readme"), "r");
    EXPECT_EQ(qm::test::get_mtime(t / "out/readme"), 315630000);
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    EXPECT_EQ(_stricmp(cwd, target.c_str()), 0) << "the target stays the current directory";
}

TEST(ExpandDll, ErrorBoxHasCaptionErrorAndTheMessage) {
    ASSERT_NE(expand(), nullptr);
    TempDir t;
    qm::test::write_file(t / "out/third", "a file where a directory is due");
    TarBuilder b;
    b.file("one", "1").file("two", "2").dir("third").file("four", "4").end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    DialogWatcher watch;
    expand()((t / "in.pkg").string().c_str(), (t / "out").string().c_str());
    ASSERT_EQ(watch.shown().size(), 1u);
    EXPECT_EQ(watch.shown()[0].caption, "Error");
    EXPECT_EQ(watch.shown()[0].text,
              "ERROR: name collision. \"third\" on disk is a file. Name in archive is a directory.");
    EXPECT_FALSE(watch.timed_out());
    EXPECT_TRUE(std::filesystem::exists(t / "out/one"));
    EXPECT_TRUE(std::filesystem::exists(t / "out/two"));
    EXPECT_FALSE(std::filesystem::exists(t / "out/four"));
}

TEST(ExpandDll, NewerMtimeWarningUsesTheRuntimeCtimeForm) {
    ASSERT_NE(manifest(), nullptr);
    // GetManifestFile stops silently at a newer manifest; ExpandPackage goes on. The
    // warning text itself is checked through a package whose next member fails, so the
    // box shows; here we check the texts that the DLL would format.
    TempDir t;
    qm::test::write_file(t / "out/router.mfs", "newer");
    qm::test::set_mtime(t / "out/router.mfs", 315630001);
    TarBuilder b;
    b.file("router.mfs", "older", 315630000).end();
    qm::test::write_bytes(t / "Router.pkg", b.bytes());
    DialogWatcher watch;
    EXPECT_EQ(manifest()((t / "Router.pkg").string().c_str(), (t / "out").string().c_str()), 0);
    EXPECT_TRUE(watch.shown().empty());
    EXPECT_EQ(qm::test::read_file(t / "out/router.mfs"), "newer");
    // The runtime's ctime pads the day with a zero: "Wed Jan 02 ...".
    EXPECT_EQ(crt_ctime(315630000).substr(0, 11), "Wed Jan 02 ");
}

TEST(ExpandDll, ReadOnlyOlderFileIsReplacedAndEndsWritable) {
    ASSERT_NE(expand(), nullptr);
    TempDir t;
    const auto f = t / "out/ro.txt";
    qm::test::write_file(f, "old");
    qm::test::set_mtime(f, 315000000);
    SetFileAttributesA(f.string().c_str(), FILE_ATTRIBUTE_READONLY);
    Member m;
    m.name = "ro.txt";
    m.data = "new";
    m.mode = 0444;  // no owner-write bit
    TarBuilder b;
    b.add(m).end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    DialogWatcher watch;
    expand()((t / "in.pkg").string().c_str(), (t / "out").string().c_str());
    EXPECT_TRUE(watch.shown().empty());
    EXPECT_EQ(qm::test::read_file(f), "new");
    const DWORD attrs = GetFileAttributesA(f.string().c_str());
    EXPECT_EQ(attrs & FILE_ATTRIBUTE_READONLY, 0u);
}

TEST(ExpandDll, MissingPackageIsSilentAndTargetBecomesCurrent) {
    ASSERT_NE(expand(), nullptr);
    TempDir t;
    DialogWatcher watch;
    EXPECT_EQ(expand()("no-such.pkg", t.str().c_str()), 0);
    EXPECT_TRUE(watch.shown().empty());
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    EXPECT_EQ(_stricmp(cwd, t.str().c_str()), 0);
}

struct UnsafeCase {
    const char* name;
};

class UnsafeNameDll : public ::testing::TestWithParam<UnsafeCase> {};

TEST_P(UnsafeNameDll, IsRefusedWithAnErrorBoxAndNothingWritten) {
    ASSERT_NE(expand(), nullptr);
    TempDir t;
    CreateDirectoryA((t / "out").string().c_str(), nullptr);
    Member m;
    m.name = GetParam().name;
    m.data = "evil";
    TarBuilder b;
    b.add(m).end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    DialogWatcher watch;
    expand()((t / "in.pkg").string().c_str(), (t / "out").string().c_str());
    ASSERT_EQ(watch.shown().size(), 1u) << m.name;
    EXPECT_EQ(watch.shown()[0].caption, "Error");
    EXPECT_EQ(watch.shown()[0].text.rfind("ERROR:File \"" + m.name + "\" unsafe name", 0), 0u)
        << watch.shown()[0].text;
    EXPECT_FALSE(std::filesystem::exists(t / "evil.txt"));
    EXPECT_TRUE(std::filesystem::is_empty(t / "out"));
}

INSTANTIATE_TEST_SUITE_P(Names, UnsafeNameDll,
                         ::testing::Values(UnsafeCase{"../evil.txt"}, UnsafeCase{"..\\evil.txt"},
                                           UnsafeCase{"a/../../evil.txt"}, UnsafeCase{"C:evil.txt"},
                                           UnsafeCase{"evil.txt:stream"}, UnsafeCase{"\\\\srv\\share\\x"},
                                           UnsafeCase{"/evil.txt"}, UnsafeCase{"\\evil.txt"},
                                           UnsafeCase{"aux.txt"}, UnsafeCase{"dir/COM1"}));

// Every archive of the peer corpus through the DLL: boxes are closed as they come, the
// call returns, and nothing is written outside the target.
TEST(ExpandDll, PeerCorpusStaysInsideTheTarget) {
    ASSERT_NE(expand(), nullptr);
    const auto archives = qm::test::corpus_archives();
    if (archives.empty()) GTEST_SKIP() << "peer corpus not found at " << qm::test::corpus_dir();
    int boxes = 0;
    for (const auto& a : archives) {
        TempDir t;
        const auto target = t / "target";
        std::filesystem::create_directory(target);
        DialogWatcher watch;
        expand()(a.string().c_str(), target.string().c_str());
        manifest()(a.string().c_str(), target.string().c_str());
        SetCurrentDirectoryA(t.str().c_str());
        EXPECT_FALSE(watch.timed_out()) << a;
        for (const auto& s : watch.shown()) EXPECT_EQ(s.caption, "Error") << a;
        boxes += static_cast<int>(watch.shown().size());
        for (auto& e : std::filesystem::directory_iterator(t.path()))
            EXPECT_EQ(e.path().filename(), "target") << a << " wrote " << e.path();
    }
    RecordProperty("archives", static_cast<int>(archives.size()));
    RecordProperty("boxes", boxes);
}

// A new file takes a short way (created exclusively, times set on the open handle); a
// replaced one the long way. Both must end alike: not read-only, attributes reset,
// the member's time, whatever the member's mode says.
TEST(ExpandDll, NewAndReplacedFilesEndWithTheSameAttributesAndTime) {
    ASSERT_NE(expand(), nullptr);
    TempDir t;
    qm::test::write_file(t / "out/old-rw", "old");
    qm::test::write_file(t / "out/old-ro", "old");
    for (const char* name : {"old-rw", "old-ro"}) qm::test::set_mtime(t / "out" / name, 315630000 - 60);
    SetFileAttributesA((t / "out/old-ro").string().c_str(), FILE_ATTRIBUTE_READONLY);
    TarBuilder b;
    for (const char* name : {"new-rw", "new-ro", "old-rw", "old-ro"}) {
        Member m;
        m.name = name;
        m.data = "member";
        m.mode = std::strstr(name, "ro") ? 0444 : 0644;
        b.add(m);
    }
    b.end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    DialogWatcher watch;
    expand()((t / "in.pkg").string().c_str(), (t / "out").string().c_str());
    EXPECT_TRUE(watch.shown().empty());
    const DWORD reference = GetFileAttributesA((t / "out/old-rw").string().c_str());
    EXPECT_EQ(reference & FILE_ATTRIBUTE_READONLY, 0u);
    for (const char* name : {"new-rw", "new-ro", "old-ro"}) {
        const std::string path = (t / "out" / name).string();
        EXPECT_EQ(GetFileAttributesA(path.c_str()), reference) << name;
        EXPECT_EQ(qm::test::read_file(path), "member") << name;
        EXPECT_EQ(qm::test::get_mtime(path), 315630000) << name;
    }
}

// Wine's ReplaceFileA moves the old file aside under a name from GetTempFileNameA
// ("rf" and four hex digits, ".tmp") and deletes it there: a process ended inside that
// call can leave that file of Wine's (Windows itself does not).
bool wines_own(const fs::path& p) {
    const std::string n = p.filename().string();
    return n.size() == 10 && n.rfind("rf", 0) == 0 && n.substr(6) == ".tmp";
}

// An install script's process ended midway (TerminateProcess): afterwards each file is
// either what was installed, the complete member, or one the next expansion replaces;
// the next expansion leaves every member whole with its time and no temporary.
TEST(ExpandDll, ProcessEndedMidwayThenExpandedAgain) {
    ASSERT_NE(expand(), nullptr);
    TempDir t(false);
    constexpr int kFiles = 240, kSize = 96 * 1024;
    constexpr int64_t kOld = 1000000000, kNew = kOld + 100;
    TarBuilder b;
    for (int i = 0; i < kFiles; ++i)
        b.file("m/" + std::to_string(i % 6) + "/f" + std::to_string(i), std::string(kSize, static_cast<char>('a' + i % 26)), kNew);
    qm::test::write_bytes(t / "in.pkg", b.end().bytes());
    // Every fourth file installed before, older.
    for (int i = 0; i < kFiles; i += 4) {
        const fs::path f = t / "out/m" / std::to_string(i % 6) / ("f" + std::to_string(i));
        qm::test::write_file(f, "installed");
        qm::test::set_mtime(f, kOld);
    }
    char dir[MAX_PATH];
    std::snprintf(dir, sizeof dir, "%s", dll_path().c_str());
    *std::strrchr(dir, '\\') = '\0';
    std::string line = std::string("\"") + dir + "\\qmscript.exe\" ExpandPackage \"" + (t / "in.pkg").string() + "\" \"" +
                       (t / "out").string() + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) << line;
    // Ended once it has written some of the members.
    for (int waited = 0; waited < 20000; waited += 2) {
        int written = 0;
        for (const auto& e : fs::recursive_directory_iterator(t / "out"))
            written += e.is_regular_file() && qm::test::get_mtime(e.path()) == kNew;
        if (written >= 20) break;
        Sleep(2);
    }
    TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    int whole_new = 0;
    for (const auto& e : fs::recursive_directory_iterator(t / "out")) {
        if (!e.is_regular_file() || e.path().filename().string().rfind(".qm", 0) == 0 || wines_own(e.path())) continue;
        const DWORD attributes = GetFileAttributesA(e.path().string().c_str());
        // Read-only, hidden and system: a file not yet complete, replaced next time (under
        // Wine, for a moment after the create, read-only and empty).
        const bool unfinished = (attributes & 7) == 7 || ((attributes & 1) && fs::file_size(e.path()) == 0);
        if (unfinished) continue;
        if (qm::test::get_mtime(e.path()) == kNew) {
            ++whole_new;
            EXPECT_EQ(fs::file_size(e.path()), static_cast<uintmax_t>(kSize)) << e.path();
        } else {
            EXPECT_EQ(qm::test::read_file(e.path()), "installed") << e.path();
        }
    }
    EXPECT_GE(whole_new, 20);
    DialogWatcher watch;
    expand()((t / "in.pkg").string().c_str(), (t / "out").string().c_str());
    SetCurrentDirectoryA(t.str().c_str());
    EXPECT_TRUE(watch.shown().empty());
    int files = 0;
    for (const auto& e : fs::recursive_directory_iterator(t / "out")) {
        if (!e.is_regular_file() || wines_own(e.path())) continue;
        ++files;
        EXPECT_EQ(e.path().filename().string().find(".qm"), std::string::npos) << "a temporary: " << e.path();
        EXPECT_EQ(fs::file_size(e.path()), static_cast<uintmax_t>(kSize)) << e.path();
        EXPECT_EQ(qm::test::get_mtime(e.path()), kNew) << e.path();
        EXPECT_EQ(GetFileAttributesA(e.path().string().c_str()) & 7, 0u) << e.path();
    }
    EXPECT_EQ(files, kFiles);
}

// What of a replaced file's identity shows under Wine: the letter case of its name as
// it was (the archive's case does not win) and its short name. (Its ACL and creation
// time are kept by ReplaceFileA on Windows itself; Wine renames, which keeps neither:
// docs/design.md.)
TEST(ExpandDll, ReplacedFileKeepsTheLetterCaseOfItsNameAndItsShortName) {
    ASSERT_NE(expand(), nullptr);
    TempDir t(false);
    qm::test::write_file(t / "out/Config.Settings.TXT", "installed");
    qm::test::set_mtime(t / "out/Config.Settings.TXT", 1000000000);
    char short_before[MAX_PATH] = "";
    GetShortPathNameA((t / "out/Config.Settings.TXT").string().c_str(), short_before, sizeof short_before);
    TarBuilder b;
    b.file("config.settings.txt", "new", 1000000100).end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    DialogWatcher watch;
    expand()((t / "in.pkg").string().c_str(), (t / "out").string().c_str());
    SetCurrentDirectoryA(t.str().c_str());
    EXPECT_TRUE(watch.shown().empty());
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(t / "out")) names.push_back(e.path().filename().string());
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0], "Config.Settings.TXT");
    EXPECT_EQ(qm::test::read_file(t / "out/Config.Settings.TXT"), "new");
    char short_after[MAX_PATH] = "";
    GetShortPathNameA((t / "out/Config.Settings.TXT").string().c_str(), short_after, sizeof short_after);
    EXPECT_STREQ(short_after, short_before);
}

}  // namespace
