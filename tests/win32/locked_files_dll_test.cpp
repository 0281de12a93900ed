// A read-only file, and a file another program holds open without sharing, where the
// DLL wants to write: an expansion, a guarded copy and the gateway's INI writes each
// give their documented outcome, the file keeps what it had, and nothing temporary is
// left beside it. (Expansion over a read-only file replaces it: see
// ExpandDll.ReadOnlyOlderFileIsReplacedAndEndsWritable.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "win32/config_guards.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::read_file;
using qm::test::TarBuilder;
using qm::test::TempDir;
using qm::test::write_file;
namespace fs = std::filesystem;

namespace {

using PackageFn = int(WINAPI*)(const char*, const char*);
using CopyFilesFn = int(__cdecl*)(const char*, const char*, const char*);
using GatewayFn = int(__cdecl*)(const char*, int);

constexpr int64_t kOld = 1000000000, kNew = kOld + 100;

enum class Lock { ReadOnly, HeldWithoutSharing };

// The lock on one file for the life of the object.
class Locked {
public:
    Locked(const fs::path& p, Lock how) : path_(p.string()) {
        if (how == Lock::ReadOnly)
            SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY);
        else
            held_ = CreateFileA(path_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    }
    ~Locked() {
        if (held_ != INVALID_HANDLE_VALUE) CloseHandle(held_);
        SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    bool ok() const { return held_ != INVALID_HANDLE_VALUE || (GetFileAttributesA(path_.c_str()) & FILE_ATTRIBUTE_READONLY); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    std::string path_;
    HANDLE held_ = INVALID_HANDLE_VALUE;
};

bool temporary_files_left(const fs::path& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().find(".qm") != std::string::npos) return true;
    return false;
}

std::string lock_name(const ::testing::TestParamInfo<Lock>& i) {
    return i.param == Lock::ReadOnly ? "ReadOnly" : "HeldWithoutSharing";
}

TEST(LockedFileDll, ExpansionOverAHeldFileStopsWithItsMessageAndKeepsIt) {
    const PackageFn expand = get<PackageFn>("ExpandPackage", 6);
    ASSERT_NE(expand, nullptr);
    TempDir t(false);
    write_file(t / "out/keep.txt", "installed");
    qm::test::set_mtime(t / "out/keep.txt", kOld);
    TarBuilder b;
    b.file("first.txt", "1", kNew).file("keep.txt", "newer", kNew).file("after.txt", "a", kNew).end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    {
        Locked lock(t / "out/keep.txt", Lock::HeldWithoutSharing);
        ASSERT_TRUE(lock.ok());
        DialogWatcher watch;
        expand((t / "in.pkg").string().c_str(), (t / "out").string().c_str());
        SetCurrentDirectoryA(t.str().c_str());
        ASSERT_EQ(watch.shown().size(), 1u);
        EXPECT_EQ(watch.shown()[0].caption, "Error");
        EXPECT_EQ(watch.shown()[0].text, "ERROR:create file:\"keep.txt\" failed. rc=13 Permission denied\n");
    }
    EXPECT_EQ(read_file(t / "out/first.txt"), "1");
    EXPECT_EQ(read_file(t / "out/keep.txt"), "installed");
    EXPECT_EQ(qm::test::get_mtime(t / "out/keep.txt"), kOld);
    EXPECT_FALSE(fs::exists(t / "out/after.txt")) << "the expansion stops at the failure";
    EXPECT_FALSE(temporary_files_left(t.path()));
}

class LockedDestinationDll : public ::testing::TestWithParam<Lock> {};

TEST_P(LockedDestinationDll, GuardedCopyIsAttemptedAndLeavesTheDestination) {
    const CopyFilesFn copy = get<CopyFilesFn>("MyCopyFiles", 23);
    ASSERT_NE(copy, nullptr);
    TempDir t;
    write_file(t / "s/f", "newer source");
    write_file(t / "d/f", "installed");
    qm::test::set_mtime(t / "s/f", kNew);
    qm::test::set_mtime(t / "d/f", kOld);
    {
        Locked lock(t / "d/f", GetParam());
        ASSERT_TRUE(lock.ok());
        EXPECT_EQ(copy((t / "s").string().c_str(), (t / "d").string().c_str(), "*"), 1);
    }
    EXPECT_EQ(read_file(t / "d/f"), "installed");
    EXPECT_EQ(qm::test::get_mtime(t / "d/f"), kOld) << "old content must not get the source's time";
    EXPECT_FALSE(fs::exists(t / "kyinstall.log")) << "a copy that failed is not a refusal";
    EXPECT_FALSE(temporary_files_left(t.path()));
}

TEST_P(LockedDestinationDll, GatewayIniKeepsWhatItHadAndThePackageIniStays) {
    const GatewayFn gateway = get<GatewayFn>("ModifyGatewayFile", 11);
    ASSERT_NE(gateway, nullptr);
    SystemIniBackup backup;
    TempDir t(false);
    const std::string installed = "[Working Directory]\r\nDir=C:\\old\r\n[SERVICES]\r\nCurrentService=5\r\n";
    write_file(backup.path(), installed);
    write_file(t / "prod/bin/rzgatewy.ini", "[Gateway]\r\nPort=7071\r\n");
    write_file(t / "prod/bin/rzgatewy.exe", "gateway");
    write_file(t / "prod/bin/txgatewy.exe", "tx variant");
    {
        Locked lock(backup.path(), GetParam());
        ASSERT_TRUE(lock.ok());
        EXPECT_EQ(gateway((t / "prod").string().c_str(), 2048), 1);
    }
    EXPECT_EQ(read_file(backup.path()), installed);
    EXPECT_EQ(read_file(t / "prod/bin/rzgatewy.ini"), "[Gateway]\r\nPort=7071\r\n") << "the only copy stays";
    EXPECT_EQ(read_file(t / "prod/bin/rzgatewy.exe"), "tx variant") << "the later steps ran all the same";
    EXPECT_FALSE(temporary_files_left(t.path()));
}

INSTANTIATE_TEST_SUITE_P(Locks, LockedDestinationDll, ::testing::Values(Lock::ReadOnly, Lock::HeldWithoutSharing),
                         lock_name);

}  // namespace
