// The package list: splitting the file-open dialog's selection text, the read cursor,
// and the limits every filling operation shares.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "list_helpers.h"
#include "packages/package_list.h"

using namespace qm::packages;
using qm::test::read_list;
using qm::test::reset_list_state;
using Names = std::vector<std::string>;

namespace {

class ListTest : public ::testing::Test {
protected:
    void SetUp() override { reset_list_state(); }
};

int fill(std::string text) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    return FillPackageList(buf.data());
}

struct SplitCase {
    const char* text;
    Names entries;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << '\'' << c.text << '\''; }

class FillSplit : public ::testing::TestWithParam<SplitCase> {
protected:
    void SetUp() override { reset_list_state(); }
};

TEST_P(FillSplit, MakesOneEntryPerNameAndRewinds) {
    const SplitCase& c = GetParam();
    PackageList.cursor = 7;
    EXPECT_EQ(fill(c.text), static_cast<int>(c.entries.size()));
    EXPECT_EQ(PackageList.count, static_cast<int>(c.entries.size()));
    EXPECT_EQ(PackageList.cursor, 0);
    EXPECT_EQ(read_list(), c.entries) << "text '" << c.text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    SelectionTexts, FillSplit,
    ::testing::Values(
        SplitCase{"D:\\PKGS\\A.PKG", {"D:\\PKGS\\A.PKG"}},
        SplitCase{"D:\\PKGS A.PKG B.PKG", {"D:\\PKGS\\A.PKG", "D:\\PKGS\\B.PKG"}},
        SplitCase{"D:\\PKGS A.PKG  B.PKG", {"D:\\PKGS\\A.PKG", "D:\\PKGS\\B.PKG"}},
        SplitCase{"D:\\ A.PKG", {"D:\\\\A.PKG"}},
        SplitCase{"   D:\\PKGS    A.PKG B.PKG   ", {"D:\\PKGS\\A.PKG", "D:\\PKGS\\B.PKG"}},
        SplitCase{"D:\\PKGS\\A.PKG   ", {"D:\\PKGS\\A.PKG"}},
        SplitCase{"D:\\PKGS A.PKG ", {"D:\\PKGS\\A.PKG"}},
        SplitCase{"D:\\P\tQ A%sB%n.PKG", {"D:\\P\tQ\\A%sB%n.PKG"}}));

TEST_F(ListTest, NullEmptyOrBlankSelectionLeavesTheListAlone) {
    qm::test::fill_entries(3);
    GetFirstFile();
    GetNextFile();
    EXPECT_EQ(FillPackageList(nullptr), 0);
    EXPECT_EQ(fill(""), 0);
    EXPECT_EQ(fill("     "), 0);
    EXPECT_EQ(PackageList.count, 3);
    EXPECT_EQ(PackageList.cursor, 2);
    EXPECT_STREQ(GetNextFile(), "e2");
}

TEST_F(ListTest, SplittingWritesTerminatorsIntoTheBuffer) {
    char text[] = "D:\\PKGS A.PKG B.PKG";
    FillPackageList(text);
    EXPECT_STREQ(text, "D:\\PKGS");
    EXPECT_STREQ(text + 8, "A.PKG");
}

TEST_F(ListTest, EmptyListReadsNull) {
    EXPECT_EQ(GetFirstFile(), nullptr);
    EXPECT_EQ(GetNextFile(), nullptr);
    EXPECT_EQ(PackageList.cursor, 0);
}

TEST_F(ListTest, ReadRereadAndEnd) {
    fill("D:\\P a b c");
    const char* e0 = GetFirstFile();
    ASSERT_NE(e0, nullptr);
    EXPECT_STREQ(e0, "D:\\P\\a");
    EXPECT_STREQ(GetNextFile(), "D:\\P\\b");
    EXPECT_STREQ(GetNextFile(), "D:\\P\\c");
    EXPECT_EQ(GetNextFile(), nullptr);
    EXPECT_EQ(GetNextFile(), nullptr);
    EXPECT_EQ(PackageList.cursor, 3);
    EXPECT_EQ(GetFirstFile(), e0) << "a second reading starts again at entry 0";
    EXPECT_EQ(PackageList.cursor, 1);
}

TEST_F(ListTest, EntriesSitInOneTableOfHundredByteSlots) {
    fill("D:\\P a b c");
    const char* e0 = GetNextFile();  // after a fill the cursor is 0: entry 0 first
    const char* e1 = GetNextFile();
    const char* e2 = GetNextFile();
    EXPECT_STREQ(e0, "D:\\P\\a");
    EXPECT_EQ(e1 - e0, 100);
    EXPECT_EQ(e2 - e0, 200);
    EXPECT_EQ(e0, &PackageList.entries[0][0]);
}

TEST_F(ListTest, ClearEmptiesAndRewindsButKeepsTheText) {
    fill("D:\\P a b");
    const char* e0 = GetFirstFile();
    GetNextFile();
    EXPECT_EQ(ClearPackageList(), 0);
    EXPECT_EQ(PackageList.cursor, 0);
    EXPECT_EQ(GetFirstFile(), nullptr);
    EXPECT_EQ(GetNextFile(), nullptr);
    EXPECT_STREQ(e0, "D:\\P\\a") << "a pointer handed out stays readable";
}

TEST_F(ListTest, CursorBeyondAShorterListReadsNothingUntilRewound) {
    qm::test::fill_entries(5);
    while (GetNextFile()) {
    }
    EXPECT_EQ(PackageList.cursor, 5);
    // The list dialog and the reinstall list refill without rewinding.
    PackageList.count = 0;
    append_package_entry("new0");
    append_package_entry("new1");
    EXPECT_EQ(GetNextFile(), nullptr);
    EXPECT_STREQ(GetFirstFile(), "new0");
    EXPECT_STREQ(GetNextFile(), "new1");
}

// --- limits: 100 entries of at most 99 characters; too long is skipped, never cut ---

std::string chars(size_t n, char c = 'x') { return std::string(n, c); }

TEST_F(ListTest, SinglePathOfNinetyNineFitsOfHundredLeavesTheListAlone) {
    EXPECT_EQ(fill(chars(99)), 1);
    EXPECT_EQ(read_list(), Names{chars(99)});
    qm::test::fill_entries(2);
    EXPECT_EQ(fill(chars(100)), 0);
    EXPECT_EQ(read_list(), (Names{"e0", "e1"}));
}

TEST_F(ListTest, TooLongJoinedNamesAreSkippedInOrder) {
    const std::string dir = "D:\\" + chars(90, 'd');  // 93 characters: names of 5 fit
    const std::string text = dir + " aaaaa bbbbbb ccccc " + chars(200, 'z') + " ddddd";
    EXPECT_EQ(fill(text), 3);
    EXPECT_EQ(read_list(), (Names{dir + "\\aaaaa", dir + "\\ccccc", dir + "\\ddddd"}));
    for (int i = 0; i < PackageList.count; ++i) EXPECT_EQ(PackageList.entries[i][99], '\0');
}

TEST_F(ListTest, NothingThatFitsLeavesTheEarlierListAndCursor) {
    qm::test::fill_entries(3);
    GetFirstFile();
    EXPECT_EQ(fill("D:\\" + chars(95) + " toolong.pkg other.pkg"), 0);
    EXPECT_EQ(PackageList.count, 3);
    EXPECT_EQ(PackageList.cursor, 1);
    EXPECT_STREQ(GetNextFile(), "e1");
}

TEST_F(ListTest, MoreThanAHundredNamesKeepTheFirstHundred) {
    std::string text = "D:\\P";
    for (int i = 0; i < 150; ++i) text += " n" + std::to_string(i);
    EXPECT_EQ(fill(text), 100);
    const Names got = read_list();
    ASSERT_EQ(got.size(), 100u);
    EXPECT_EQ(got.front(), "D:\\P\\n0");
    EXPECT_EQ(got.back(), "D:\\P\\n99");
}

TEST_F(ListTest, AppendRefusesAFullListAndOverlongText) {
    EXPECT_TRUE(append_package_entry("%s", chars(99).c_str()));
    EXPECT_FALSE(append_package_entry("%s", chars(100).c_str()));
    EXPECT_EQ(PackageList.count, 1);
    EXPECT_EQ(PackageList.entries[1][0], '\0') << "a refused text leaves its slot untouched";
    for (int i = 1; i < MAX_PACKAGES; ++i) EXPECT_TRUE(append_package_entry("%d", i));
    EXPECT_FALSE(append_package_entry("one too many"));
    EXPECT_EQ(PackageList.count, MAX_PACKAGES);
}

}  // namespace
