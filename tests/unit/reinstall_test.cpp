// The reinstall list: one "base.pkg" per installed manifest, in the directory search's
// order, refilled from nothing on every call.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "list_helpers.h"
#include "packages/reinstall.h"
#include "platform/dirsearch.h"

using namespace qm::packages;
using qm::test::read_list;
using qm::test::TempDir;
using Names = std::vector<std::string>;

namespace {

class ReinstallTest : public ::testing::Test {
protected:
    void SetUp() override { qm::test::reset_list_state(); }

    void manifest(const std::string& name) { qm::test::write_file(devices() / name, "m"); }
    std::filesystem::path devices() const { return root / "etc" / "dorva" / "devices"; }
    int run() { return GetReInstallPackageList(root.str().c_str()); }

    // The order the platform's directory search yields names matching *.mfs.
    Names search_order() const {
        Names out;
        qm::plat::DirSearch s;
        const std::string pattern = (devices() / "*.mfs").string();
        if (s.first(pattern.c_str()).ok()) do {
                out.emplace_back(s.name());
            } while (s.next());
        return out;
    }

    TempDir root;
};

Names as_packages(const Names& manifests) {
    Names out;
    for (const std::string& m : manifests) out.push_back(m.substr(0, m.size() - 4) + ".pkg");
    return out;
}

TEST_F(ReinstallTest, OneEntryPerManifestInSearchOrderWithTheBaseNameCaseKept) {
    manifest("atm.mfs");
    manifest("Router.MFS");
    manifest("notes.txt");
    EXPECT_EQ(run(), 1);
    const Names got = read_list();
    EXPECT_EQ(got, as_packages(search_order()));
    Names sorted = got;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (Names{"Router.pkg", "atm.pkg"}));
}

TEST_F(ReinstallTest, NamesAreTakenLiterally) {
    manifest(".mfs");
    manifest("kynms.mfs");
    manifest("50%d%s%n.mfs");
    EXPECT_EQ(run(), 1);
    Names got = read_list();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (Names{".pkg", "50%d%s%n.pkg", "kynms.pkg"}));
}

TEST_F(ReinstallTest, RootWithTrailingSeparatorStillFindsTheManifests) {
    manifest("atm.mfs");
    const std::string r = root.str() + "\\";
    EXPECT_EQ(GetReInstallPackageList(r.c_str()), 1);
    EXPECT_EQ(read_list(), Names{"atm.pkg"});
}

TEST_F(ReinstallTest, NothingToFindGivesMinusOneAndAnEmptyList) {
    qm::test::fill_entries(3);
    EXPECT_EQ(run(), -1) << "no devices directory";
    EXPECT_EQ(GetFirstFile(), nullptr);
    std::filesystem::create_directories(devices());
    qm::test::write_file(devices() / "readme.txt", "r");
    qm::test::fill_entries(3);
    EXPECT_EQ(run(), -1) << "no manifest";
    EXPECT_EQ(GetFirstFile(), nullptr);
}

TEST_F(ReinstallTest, RefilledFromNothingOnEveryCall) {
    manifest("a.mfs");
    manifest("b.mfs");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(PackageList.count, 2);
    EXPECT_EQ(read_list().size(), 2u);
}

TEST_F(ReinstallTest, CursorStaysWhereTheLastReadingLeftIt) {
    qm::test::fill_entries(5);
    while (GetNextFile()) {
    }
    manifest("a.mfs");
    manifest("b.mfs");
    manifest("c.mfs");
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(PackageList.cursor, 5);
    EXPECT_EQ(GetNextFile(), nullptr);
    EXPECT_EQ(std::string(GetFirstFile()), as_packages(search_order()).front());
}

TEST_F(ReinstallTest, CursorBelowTheNewCountContinuesFromThatSlot) {
    qm::test::fill_entries(5);
    GetFirstFile();
    GetNextFile();  // cursor 2
    for (const char* m : {"a.mfs", "b.mfs", "c.mfs", "d.mfs"}) manifest(m);
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(std::string(GetNextFile()), as_packages(search_order())[2]);
}

// --- limits shared with the other filling operations ---

TEST_F(ReinstallTest, MoreThanAHundredManifestsKeepTheFirstHundredFound) {
    for (int i = 0; i < 105; ++i) manifest("m" + std::to_string(i) + ".mfs");
    EXPECT_EQ(run(), 1);
    Names expected = as_packages(search_order());
    expected.resize(100);
    EXPECT_EQ(read_list(), expected);
}

TEST_F(ReinstallTest, OverlongManifestNamesAreSkipped) {
    const std::string fits = std::string(95, 'f') + ".mfs";   // entry of 99 characters
    const std::string toolong = std::string(96, 't') + ".mfs";  // entry of 100
    manifest(fits);
    manifest(toolong);
    manifest("b.mfs");
    EXPECT_EQ(run(), 1);
    Names got = read_list();
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got, (Names{"b.pkg", std::string(95, 'f') + ".pkg"}));
}

TEST_F(ReinstallTest, OnlyOverlongManifestsGiveMinusOne) {
    manifest(std::string(96, 't') + ".mfs");
    EXPECT_EQ(run(), -1);
    EXPECT_EQ(GetFirstFile(), nullptr);
}

TEST_F(ReinstallTest, RootTooLongForThePatternIsRefused) {
    qm::test::fill_entries(3);
    // 236 characters: the pattern and its terminator would need 261 bytes.
    EXPECT_EQ(GetReInstallPackageList(std::string(236, 'r').c_str()), -1);
    EXPECT_EQ(PackageList.count, 0);
}

}  // namespace
