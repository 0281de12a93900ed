// ExpandPackage and GetManifestFile through the real DLL: what lands on disk and what
// the user sees in the "Error" box.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "common/corpus.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::Member;
using qm::test::TarBuilder;
using qm::test::TempDir;

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

}  // namespace
