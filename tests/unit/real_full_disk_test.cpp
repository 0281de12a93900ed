// A real full disk: a 2 MB memory file system. Natively each test mounts its own (where
// the test may mount one); under Wine, tests/win32/full_disk.sh mounts one, names it in
// QM_FULL_DISK_DIR and runs these tests alone, so that the Windows side of the platform
// layer meets the full disk too. Where no disk can be had the tests skip, saying so, and
// the injected failures of full_disk_test.cpp still cover the same outcomes. An
// expansion, a guarded copy and an INI write that run out of space lose nothing that was
// on disk before and leave no temporary file behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/as_export.h"
#include "common/capture.h"
#include "common/small_disk.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "config/gateway.h"
#include "fileutil/file_ops.h"
#include "fileutil/guarded_copy.h"
#include "packages/expand.h"
#include "platform/ini.h"

namespace fs = std::filesystem;
using qm::test::NotifyCapture;
using qm::test::read_file;
using qm::test::SmallDisk;
using qm::test::TarBuilder;
using qm::test::TempDir;
using qm::test::write_file;

namespace {

std::string pkg(const TempDir& t, const std::string& name, const TarBuilder& b) {
    qm::test::write_bytes(t / name, b.bytes());
    return (t / name).string();
}

constexpr int64_t kOld = 1000000000, kNew = kOld + 100;

// The message of a member that did not fit, cut to what both runtimes agree on: Wine's
// reports a write that the full disk cut short with the error number of an earlier call
// instead of 28.
std::string out_of_space(const std::string& shown) {
#ifdef _WIN32
    const size_t rc = shown.find(" rc=");
    return rc == std::string::npos ? shown : shown.substr(0, rc + 4);
#else
    return shown;
#endif
}

std::string out_of_space_for(const std::string& name) {
    return out_of_space("ERROR:write file:\"" + name + "\" failed. rc=28 No space left on device\n");
}

TEST(RealFullDisk, ExpansionKeepsEveryInstalledFileAndLeavesNoTemporary) {
    TempDir t(false);
    SmallDisk disk(t / "disk");
    REQUIRE_SMALL_DISK(disk);
    const std::string target = disk.str("nms");
    fs::create_directories(target);

    const std::string a1(20000, 'a'), b1(20000, 'b'), c1(20000, 'c');
    TarBuilder v1;
    v1.file("a.txt", a1, kOld).file("etc/dorva/b.txt", b1, kOld).file("c.txt", c1, kOld).end();
    TarBuilder v2;  // the first member fits the space left, the second does not
    v2.file("a.txt", std::string(30000, 'A'), kNew)
        .file("etc/dorva/b.txt", std::string(400000, 'B'), kNew)
        .file("c.txt", std::string(100, 'C'), kNew)
        .file("new.txt", std::string(300000, 'N'), kNew)
        .end();
    NotifyCapture cap;
    qm::packages::ExpandPackage(pkg(t, "v1.pkg", v1).c_str(), target.c_str());
    ASSERT_TRUE(cap.shown().empty());

    disk.fill_leaving(64 * 1024);
    qm::packages::ExpandPackage(pkg(t, "v2.pkg", v2).c_str(), target.c_str());
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(out_of_space(cap.shown()[0]), out_of_space_for("etc/dorva/b.txt"));
    EXPECT_EQ(read_file(disk / "nms/a.txt"), std::string(30000, 'A')) << "replaced whole before the disk filled";
    EXPECT_EQ(read_file(disk / "nms/etc/dorva/b.txt"), b1) << "the installed file is kept whole";
    EXPECT_EQ(qm::test::get_mtime(disk / "nms/etc/dorva/b.txt"), kOld);
    EXPECT_EQ(read_file(disk / "nms/c.txt"), c1) << "the expansion stopped at the failure";
    EXPECT_FALSE(fs::exists(disk / "nms/new.txt"));
    EXPECT_FALSE(disk.temporary_files_left());

    // A new member that does not fit is not left half-made either.
    TarBuilder v3;
    v3.file("fresh.txt", std::string(400000, 'F'), kNew).end();
    cap.shown().clear();
    qm::packages::ExpandPackage(pkg(t, "v3.pkg", v3).c_str(), target.c_str());
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(out_of_space(cap.shown()[0]), out_of_space_for("fresh.txt"));
    EXPECT_FALSE(fs::exists(disk / "nms/fresh.txt"));

    // With the space back, the same package goes through.
    disk.empty_filler();
    cap.shown().clear();
    qm::packages::ExpandPackage(pkg(t, "v2.pkg", v2).c_str(), target.c_str());
    EXPECT_TRUE(cap.shown().empty());
    EXPECT_EQ(fs::file_size(disk / "nms/etc/dorva/b.txt"), 400000u);
    EXPECT_FALSE(disk.temporary_files_left());
}

TEST(RealFullDisk, GuardedCopyLeavesEachDestinationAsItWasOrWhole) {
    TempDir t(false);
    SmallDisk disk(t / "disk");
    REQUIRE_SMALL_DISK(disk);
    write_file(t / "s/big", std::string(500000, 'n'));
    write_file(t / "s/small", std::string(5000, 's'));
    write_file(disk / "d/big", "the installed big file");
    write_file(disk / "d/small", "the installed small file");
    for (const char* f : {"d/big", "d/small"}) qm::test::set_mtime(disk / f, kOld);
    for (const char* f : {"s/big", "s/small"}) qm::test::set_mtime(t / f, kNew);

    disk.fill_leaving(64 * 1024);
    int found = 0;
    const unsigned long code = qm::test::last_error_of("MyCopyFiles", [&] {
        found = qm::fileutil::MyCopyFiles((t / "s").string().c_str(), disk.str("d").c_str(), "*");
    });
    EXPECT_EQ(found, 1);
    EXPECT_EQ(code, qm::plat::win32::kDiskFull) << "the failing write's own code";
    EXPECT_EQ(read_file(disk / "d/big"), "the installed big file");
    EXPECT_EQ(qm::test::get_mtime(disk / "d/big"), kOld);
    EXPECT_EQ(read_file(disk / "d/small"), std::string(5000, 's'));
    EXPECT_EQ(qm::test::get_mtime(disk / "d/small"), kNew);
    EXPECT_FALSE(disk.temporary_files_left());
    EXPECT_FALSE(fs::exists(t / "kyinstall.log")) << "a failed copy is not a refusal";
}

TEST(RealFullDisk, IniWriteLeavesTheIniAsItWas) {
    TempDir t(false);
    SmallDisk disk(t / "disk");
    REQUIRE_SMALL_DISK(disk);
    std::string shipped = "; shipped with the gateway\r\n[Working Directory]\r\nDir=C:\\old\r\n[SERVICES]\r\n";
    for (int i = 0; i < 200; ++i) shipped += "Service" + std::to_string(i) + "=value " + std::to_string(i) + "\r\n";
    write_file(disk / "win/rzgatewy.ini", shipped);
    write_file(t / "nms/bin/rzgatewy.ini", shipped + "NewKey=1\r\n");

    disk.fill_leaving(0);
    EXPECT_FALSE(qm::plat::ini_write("SERVICES", "CurrentService", "1", disk.str("win/rzgatewy.ini").c_str()).ok());
    EXPECT_EQ(read_file(disk / "win/rzgatewy.ini"), shipped);
    EXPECT_FALSE(disk.temporary_files_left());

#ifndef _WIN32
    // The gateway set-up with the Windows directory on that disk: the package INI cannot
    // be copied there, so it stays where it is, and the system INI keeps what it had.
    const char* saved = std::getenv("WINDIR");
    const std::string saved_windir = saved ? saved : "";
    ::setenv("WINDIR", disk.str("win").c_str(), 1);
    EXPECT_EQ(qm::config::ModifyGatewayFile((t / "nms").c_str(), 2048), 1);
    if (saved)
        ::setenv("WINDIR", saved_windir.c_str(), 1);
    else
        ::unsetenv("WINDIR");
    EXPECT_EQ(read_file(disk / "win/rzgatewy.ini"), shipped);
    EXPECT_EQ(read_file(t / "nms/bin/rzgatewy.ini"), shipped + "NewKey=1\r\n");
    EXPECT_FALSE(disk.temporary_files_left());
#endif
}

TEST(RealFullDisk, AppendFileKeepsTheTextThatWasThere) {
    TempDir t(false);
    SmallDisk disk(t / "disk");
    REQUIRE_SMALL_DISK(disk);
    write_file(disk / "notes.txt", "the text that was there\n");
    write_file(t / "more.txt", std::string(300000, 'm'));
    disk.fill_leaving(8 * 1024);
    // The write's failure goes unnoticed, as documented: the result is 1.
    EXPECT_EQ(qm::fileutil::AppendFile(disk.str("notes.txt").c_str(), (t / "more.txt").string().c_str()), 1);
    EXPECT_EQ(read_file(disk / "notes.txt").rfind("the text that was there\n", 0), 0u);
}

}  // namespace
