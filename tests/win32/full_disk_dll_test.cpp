// The real DLL on a real full disk: tests/win32/full_disk.sh mounts a 2 MB memory file
// system, names it in QM_FULL_DISK_DIR (as a Windows path) and runs these tests alone;
// the main run of the DLL tests leaves them out. An expansion and the gateway's program
// copy that run out of space lose nothing that was on disk before and leave no
// temporary file behind. (The guarded copy and the INI write meet the full disk through
// the same platform code in the core's RealFullDisk tests, run under Wine by the script.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/small_disk.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "win32/config_guards.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::read_file;
using qm::test::SmallDisk;
using qm::test::TarBuilder;
using qm::test::TempDir;
using qm::test::write_file;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kOld = 1000000000, kNew = kOld + 100;

class FullDiskDll : public ::testing::Test {
protected:
    void SetUp() override { REQUIRE_SMALL_DISK(disk); }
    SmallDisk disk{fs::path()};
};

TEST_F(FullDiskDll, ExpansionKeepsEveryInstalledFileAndLeavesNoTemporary) {
    const auto expand = exports().ExpandPackage;
    ASSERT_NE(expand, nullptr);
    TempDir t(false);
    const std::string target = (disk / "nms").string();
    CreateDirectoryA(target.c_str(), nullptr);
    const std::string b1(20000, 'b');
    TarBuilder v1, v2;
    v1.file("a.txt", std::string(20000, 'a'), kOld).file("etc/dorva/b.txt", b1, kOld).end();
    v2.file("a.txt", std::string(30000, 'A'), kNew).file("etc/dorva/b.txt", std::string(400000, 'B'), kNew).end();
    qm::test::write_bytes(t / "v1.pkg", v1.bytes());
    qm::test::write_bytes(t / "v2.pkg", v2.bytes());
    {
        DialogWatcher watch;
        expand((t / "v1.pkg").string().c_str(), target.c_str());
        ASSERT_TRUE(watch.shown().empty());
    }
    disk.fill_leaving(64 * 1024);
    DialogWatcher watch;
    expand((t / "v2.pkg").string().c_str(), target.c_str());
    SetCurrentDirectoryA(t.str().c_str());
    ASSERT_EQ(watch.shown().size(), 1u);
    EXPECT_EQ(watch.shown()[0].caption, "Error");
    // The number is the runtime's: Wine's reports a write that the full disk cut short
    // with the error number of an earlier call instead of 28.
    EXPECT_EQ(watch.shown()[0].text.rfind("ERROR:write file:\"etc/dorva/b.txt\" failed. rc=", 0), 0u)
        << watch.shown()[0].text;
    EXPECT_EQ(read_file(disk / "nms/a.txt"), std::string(30000, 'A'));
    EXPECT_EQ(read_file(disk / "nms/etc/dorva/b.txt"), b1) << "the installed file is kept whole";
    EXPECT_FALSE(disk.temporary_files_left());
}

// The copy that finds no room leaves the full disk's code for the script, as the
// failing write gave it, whatever the calls after it (the temporary's removal) left.
TEST_F(FullDiskDll, CopyThatFindsNoRoomLeavesTheDiskFullCode) {
    const auto copy = exports().MyCopyFiles;
    ASSERT_NE(copy, nullptr);
    TempDir t(false);
    write_file(t / "s/big", std::string(500000, 'n'));
    write_file(disk / "d/big", "the installed big file");
    qm::test::set_mtime(disk / "d/big", kOld);
    qm::test::set_mtime(t / "s/big", kNew);
    disk.fill_leaving(64 * 1024);
    SetLastError(0);
    EXPECT_EQ(copy((t / "s").string().c_str(), (disk / "d").string().c_str(), "*"), 1);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(read_file(disk / "d/big"), "the installed big file");
    EXPECT_FALSE(disk.temporary_files_left());
}

TEST_F(FullDiskDll, GatewayProgramIsKeptWhenItsVariantDoesNotFit) {
    const auto gateway = exports().ModifyGatewayFile;
    ASSERT_NE(gateway, nullptr);
    SystemIniBackup backup;
    write_file(disk / "nms/bin/rzgatewy.exe", "the installed gateway");
    write_file(disk / "nms/bin/txgatewy.exe", std::string(300000, 'x'));
    disk.fill_leaving(0);
    EXPECT_EQ(gateway((disk / "nms").string().c_str(), 2048), 1);
    EXPECT_EQ(read_file(disk / "nms/bin/rzgatewy.exe"), "the installed gateway");
    EXPECT_FALSE(disk.temporary_files_left());
}

}  // namespace
