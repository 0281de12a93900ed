// A disk that fills up in the middle of an expansion, injected at each step of writing
// one member (creating the file, writing it, setting its time, putting it in place) and
// at each member in turn: every file installed before is either still whole or whole in
// its new version, the expansion stops at the failure with its message, and no
// temporary file stays behind. Runs natively and under Wine; real_full_disk_test.cpp
// does the same on a real full disk where it may mount one.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "common/capture.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "packages/expand.h"
#include "platform/errors.h"
#include "platform/fault.h"

namespace fs = std::filesystem;
using qm::plat::fault::Op;
using qm::test::NotifyCapture;
using qm::test::read_file;
using qm::test::TarBuilder;
using qm::test::TempDir;

namespace {

constexpr int64_t kOld = 1000000000, kNew = kOld + 100;
const char* const kNames[] = {"a.txt", "etc/dorva/b.txt", "c.txt"};
constexpr int kMembers = 3;

std::string old_text(int i) { return std::string(3000 + 100 * i, static_cast<char>('a' + i)); }
std::string new_text(int i) { return std::string(70000 + 100 * i, static_cast<char>('A' + i)); }

TarBuilder version(bool newer) {
    TarBuilder b;
    for (int i = 0; i < kMembers; ++i) b.file(kNames[i], newer ? new_text(i) : old_text(i), newer ? kNew : kOld);
    b.end();
    return b;
}

std::string package(const TempDir& t, const char* name, const TarBuilder& b) {
    qm::test::write_bytes(t / name, b.bytes());
    return (t / name).string();
}

bool temporary_files_left(const fs::path& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().find(".qm") != std::string::npos) return true;
    return false;
}

const char* op_name(Op op) {
    switch (op) {
        case Op::Create: return "Create";
        case Op::Write: return "Write";
        case Op::SetTime: return "SetTime";
        case Op::Rename: return "Rename";
        default: return "other";
    }
}

class FullDisk : public ::testing::TestWithParam<std::tuple<Op, int>> {
protected:
    void TearDown() override { qm::plat::fault::disarm_all(); }
};
class FullDiskFresh : public FullDisk {};

TEST_P(FullDisk, UpdateKeepsEveryInstalledFileWholeAndStops) {
    const auto [op, failing] = GetParam();
    TempDir t(false);
    const std::string target = (t / "nms").string();
    fs::create_directories(target);
    NotifyCapture cap;
    qm::packages::ExpandPackage(package(t, "v1.pkg", version(false)).c_str(), target.c_str());
    ASSERT_TRUE(cap.shown().empty());

    qm::plat::fault::arm(op, failing, qm::plat::kENOSPC);
    qm::packages::ExpandPackage(package(t, "v2.pkg", version(true)).c_str(), target.c_str());
    qm::plat::fault::disarm_all();

    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_NE(cap.shown()[0].find(std::string("\"") + kNames[failing] + "\" failed. rc=28 No space left on device"),
              std::string::npos)
        << cap.shown()[0];
    for (int i = 0; i < kMembers; ++i) {
        const fs::path f = t / "nms" / kNames[i];
        if (i < failing) {
            EXPECT_EQ(read_file(f), new_text(i)) << kNames[i] << " was replaced whole before the failure";
            EXPECT_EQ(qm::test::get_mtime(f), kNew) << kNames[i];
        } else {
            EXPECT_EQ(read_file(f), old_text(i)) << kNames[i] << " is kept whole";
            EXPECT_EQ(qm::test::get_mtime(f), kOld) << kNames[i];
        }
    }
    EXPECT_FALSE(temporary_files_left(t.path()));
}

// A file that did not exist is written in place (nothing to keep), so no rename.
TEST_P(FullDiskFresh, InstallLeavesNoHalfWrittenFile) {
    const auto [op, failing] = GetParam();
    TempDir t(false);
    const std::string target = (t / "nms").string();
    fs::create_directories(target);
    NotifyCapture cap;
    qm::plat::fault::arm(op, failing, qm::plat::kENOSPC);
    qm::packages::ExpandPackage(package(t, "v2.pkg", version(true)).c_str(), target.c_str());
    qm::plat::fault::disarm_all();
    ASSERT_EQ(cap.shown().size(), 1u);
    for (int i = 0; i < kMembers; ++i) {
        const fs::path f = t / "nms" / kNames[i];
        if (i < failing)
            EXPECT_EQ(read_file(f), new_text(i)) << kNames[i];
        else
            EXPECT_FALSE(fs::exists(f)) << kNames[i] << " must not be left half-made";
    }
    EXPECT_FALSE(temporary_files_left(t.path()));
}

std::string case_name(const ::testing::TestParamInfo<std::tuple<Op, int>>& i) {
    return std::string(op_name(std::get<0>(i.param))) + "AtMember" + std::to_string(std::get<1>(i.param));
}

INSTANTIATE_TEST_SUITE_P(EachStepAndMember, FullDisk,
                         ::testing::Combine(::testing::Values(Op::Create, Op::Write, Op::SetTime, Op::Rename),
                                            ::testing::Range(0, kMembers)),
                         case_name);
INSTANTIATE_TEST_SUITE_P(EachStepAndMember, FullDiskFresh,
                         ::testing::Combine(::testing::Values(Op::Create, Op::Write, Op::SetTime),
                                            ::testing::Range(0, kMembers)),
                         case_name);

}  // namespace
