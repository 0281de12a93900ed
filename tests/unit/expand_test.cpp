// ExpandPackage and GetManifestFile: the member loop, what stops it, what is shown,
// and which member is the manifest.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/capture.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "packages/expand.h"

using namespace qm::packages;
using qm::test::Member;
using qm::test::NotifyCapture;
using qm::test::TarBuilder;
using qm::test::TempDir;
namespace fs = std::filesystem;

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
        SplitFileName(k.path, out, sizeof out);
        EXPECT_STREQ(out, k.expected) << k.path;
    }
    const std::string longname(400, 'L');
    char out[256];
    SplitFileName((longname + ".pkg").c_str(), out, sizeof out);
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
