// A read-only file, a file another program holds open without sharing, and one it
// holds sharing reading and writing but not deletion (the runtime's own fopen share
// mode), where the DLL wants to write: an expansion, a guarded copy and the gateway's
// copies and INI writes each give their documented outcome. Where the file cannot be
// written it keeps what it had; the one held with write sharing gets the new content
// written into it in place (it cannot be replaced while held). Nothing temporary is
// left beside it. (Expansion over a read-only file replaces it: see
// ExpandDll.ReadOnlyOlderFileIsReplacedAndEndsWritable.) A removal keeps a held file.
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

constexpr int64_t kOld = 1000000000, kNew = kOld + 100;

enum class Lock { ReadOnly, HeldWithoutSharing, HeldSharingReadWrite };

// The lock on one file for the life of the object.
class Locked {
public:
    Locked(const fs::path& p, Lock how) : path_(p.string()) {
        if (how == Lock::ReadOnly)
            SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_READONLY);
        else
            held_ = CreateFileA(path_.c_str(), GENERIC_READ,
                                how == Lock::HeldWithoutSharing ? 0 : FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
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

// Volume and index: the same file, not another one under its name.
uint64_t file_index(const fs::path& p) {
    HANDLE h = CreateFileA(p.string().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    BY_HANDLE_FILE_INFORMATION info = {};
    const bool ok = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return ok ? (static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow) : 0;
}

bool temporary_files_left(const fs::path& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().find(".qm") != std::string::npos) return true;
    return false;
}

std::string lock_name(const ::testing::TestParamInfo<Lock>& i) {
    switch (i.param) {
        case Lock::ReadOnly: return "ReadOnly";
        case Lock::HeldWithoutSharing: return "HeldWithoutSharing";
        default: return "HeldSharingReadWrite";
    }
}

class HeldMemberDll : public ::testing::TestWithParam<Lock> {};

// Held without sharing, the file cannot be written: the expansion stops with the
// create error and the file keeps what it had. Held sharing writes (not deletion), it
// cannot be replaced but can be written: the member goes into it in place and the
// expansion goes on.
TEST_P(HeldMemberDll, ExpansionWritesAHeldFileWhereItMayAndOtherwiseStops) {
    const auto expand = exports().ExpandPackage;
    ASSERT_NE(expand, nullptr);
    const bool in_place = GetParam() == Lock::HeldSharingReadWrite;
    TempDir t(false);
    write_file(t / "out/keep.txt", "installed");
    qm::test::set_mtime(t / "out/keep.txt", kOld);
    const uint64_t before = file_index(t / "out/keep.txt");
    TarBuilder b;
    b.file("first.txt", "1", kNew).file("keep.txt", "newer", kNew).file("after.txt", "a", kNew).end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    {
        Locked lock(t / "out/keep.txt", GetParam());
        ASSERT_TRUE(lock.ok());
        DialogWatcher watch;
        expand((t / "in.pkg").string().c_str(), (t / "out").string().c_str());
        SetCurrentDirectoryA(t.str().c_str());
        if (in_place) {
            EXPECT_TRUE(watch.shown().empty());
        } else {
            ASSERT_EQ(watch.shown().size(), 1u);
            EXPECT_EQ(watch.shown()[0].caption, "Error");
            EXPECT_EQ(watch.shown()[0].text, "ERROR:create file:\"keep.txt\" failed. rc=13 Permission denied\n");
        }
    }
    EXPECT_EQ(read_file(t / "out/first.txt"), "1");
    EXPECT_EQ(read_file(t / "out/keep.txt"), in_place ? "newer" : "installed");
    EXPECT_EQ(qm::test::get_mtime(t / "out/keep.txt"), in_place ? kNew : kOld);
    EXPECT_EQ(file_index(t / "out/keep.txt"), before);
    EXPECT_EQ(fs::exists(t / "out/after.txt"), in_place) << "the expansion goes on only past a written member";
    EXPECT_FALSE(temporary_files_left(t.path()));
}

// Held either way, the file cannot be deleted: a removal keeps it, says why in the log,
// leaves the code of the open for deleting it (32) as its last error and removes the
// rest; once it is let go, it goes.
TEST_P(HeldMemberDll, RemovalKeepsAHeldFileWithTheDeletesCode) {
    ASSERT_NE(exports().RemovePackage, nullptr);
    TempDir t(false);
    TarBuilder b;
    b.file("held.txt", "h", kOld).file("free.txt", "f", kOld).end();
    qm::test::write_bytes(t / "in.pkg", b.bytes());
    const std::string pkg = (t / "in.pkg").string(), out = (t / "out").string(), log = (t / "q.log").string();
    CreateDirectoryA(out.c_str(), nullptr);
    exports().ExpandPackage(pkg.c_str(), out.c_str());
    SetEnvironmentVariableA("QUILLMAR_LOG", log.c_str());
    {
        Locked lock(t / "out/held.txt", GetParam());
        ASSERT_TRUE(lock.ok());
        DialogWatcher watch;
        EXPECT_EQ(exports().RemovePackage(pkg.c_str(), out.c_str()), 1);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        EXPECT_TRUE(watch.shown().empty()) << watch.shown()[0].text;
    }
    SetEnvironmentVariableA("QUILLMAR_LOG", nullptr);
    SetCurrentDirectoryA(t.str().c_str());
    EXPECT_EQ(read_file(t / "out/held.txt"), "h");
    EXPECT_FALSE(fs::exists(t / "out/free.txt"));
    EXPECT_NE(read_file(log).find("RemovePackage: kept \"held.txt\": cannot be removed: held open by another program"),
              std::string::npos)
        << read_file(log);
    EXPECT_EQ(exports().RemovePackage(pkg.c_str(), out.c_str()), 0);
    SetCurrentDirectoryA(t.str().c_str());
    EXPECT_FALSE(fs::exists(t / "out/held.txt"));
}

INSTANTIATE_TEST_SUITE_P(Locks, HeldMemberDll, ::testing::Values(Lock::HeldWithoutSharing, Lock::HeldSharingReadWrite),
                         lock_name);

class LockedDestinationDll : public ::testing::TestWithParam<Lock> {};

TEST_P(LockedDestinationDll, GuardedCopyIsAttemptedAndWritesWhereItMay) {
    const auto copy = exports().MyCopyFiles;
    ASSERT_NE(copy, nullptr);
    const bool in_place = GetParam() == Lock::HeldSharingReadWrite;
    TempDir t;
    write_file(t / "s/f", "newer source");
    write_file(t / "d/f", "installed");
    qm::test::set_mtime(t / "s/f", kNew);
    qm::test::set_mtime(t / "d/f", kOld);
    const uint64_t before = file_index(t / "d/f");
    {
        Locked lock(t / "d/f", GetParam());
        ASSERT_TRUE(lock.ok());
        EXPECT_EQ(copy((t / "s").string().c_str(), (t / "d").string().c_str(), "*"), 1);
    }
    if (in_place) {
        EXPECT_EQ(read_file(t / "d/f"), "newer source");
        EXPECT_EQ(qm::test::get_mtime(t / "d/f"), kNew);
        EXPECT_EQ(file_index(t / "d/f"), before) << "written into the held file itself";
    } else {
        EXPECT_EQ(read_file(t / "d/f"), "installed");
        EXPECT_EQ(qm::test::get_mtime(t / "d/f"), kOld) << "old content must not get the source's time";
    }
    EXPECT_FALSE(fs::exists(t / "kyinstall.log")) << "a copy that failed is not a refusal";
    EXPECT_FALSE(temporary_files_left(t.path()));
}

TEST_P(LockedDestinationDll, GatewayIniIsWrittenWhereItMayAndThePackageIniGoesOnlyThen) {
    const auto gateway = exports().ModifyGatewayFile;
    ASSERT_NE(gateway, nullptr);
    const bool in_place = GetParam() == Lock::HeldSharingReadWrite;
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
    if (in_place) {
        char value[64];
        GetPrivateProfileStringA("Gateway", "Port", "", value, sizeof value, backup.path().c_str());
        EXPECT_STREQ(value, "7071") << "the package INI's content, copied in place";
        GetPrivateProfileStringA("SERVICES", "CurrentService", "", value, sizeof value, backup.path().c_str());
        EXPECT_STREQ(value, "1");
        EXPECT_FALSE(fs::exists(t / "prod/bin/rzgatewy.ini")) << "moved once its copy was in place";
    } else {
        EXPECT_EQ(read_file(backup.path()), installed);
        EXPECT_EQ(read_file(t / "prod/bin/rzgatewy.ini"), "[Gateway]\r\nPort=7071\r\n") << "the only copy stays";
    }
    EXPECT_EQ(read_file(t / "prod/bin/rzgatewy.exe"), "tx variant") << "the later steps ran all the same";
    EXPECT_FALSE(temporary_files_left(t.path()));
}

TEST(LockedFileDll, GatewayProgramHeldSharingWritesIsReplacedInPlace) {
    const auto gateway = exports().ModifyGatewayFile;
    ASSERT_NE(gateway, nullptr);
    SystemIniBackup backup;
    TempDir t(false);
    write_file(t / "prod/bin/rzgatewy.exe", "gateway");
    write_file(t / "prod/bin/mqgatewy.exe", "mq variant");
    const uint64_t before = file_index(t / "prod/bin/rzgatewy.exe");
    {
        Locked lock(t / "prod/bin/rzgatewy.exe", Lock::HeldSharingReadWrite);
        ASSERT_TRUE(lock.ok());
        EXPECT_EQ(gateway((t / "prod").string().c_str(), 1024), 1);
    }
    EXPECT_EQ(read_file(t / "prod/bin/rzgatewy.exe"), "mq variant");
    EXPECT_EQ(file_index(t / "prod/bin/rzgatewy.exe"), before);
    EXPECT_FALSE(temporary_files_left(t.path()));
}

INSTANTIATE_TEST_SUITE_P(Locks, LockedDestinationDll,
                         ::testing::Values(Lock::ReadOnly, Lock::HeldWithoutSharing, Lock::HeldSharingReadWrite),
                         lock_name);

}  // namespace
