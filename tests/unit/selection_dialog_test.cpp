// The list dialog's behaviour over an in-memory list box with the platform list box's
// semantics: what it lists, the core package it hides, and what OK, Cancel, Select All
// and UnSelect All leave in the package list.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/list_box_order.h"
#include "common/temp_dir.h"
#include "list_helpers.h"
#include "packages/selection_dialog.h"
#include "platform/stand_in/memory_list_box.h"

using namespace qm::packages;
using qm::plat::MemoryListBox;
using qm::test::read_list;
using qm::test::TempDir;
using Names = std::vector<std::string>;

namespace {

class RecordingWindow final : public qm::plat::DialogWindow {
public:
    void set_caption(const char* text) noexcept override { caption = text; }
    void center_on_screen() noexcept override { ++centred; }
    void end(int r) noexcept override {
        ended = true;
        result = r;
    }
    std::string caption = "Device Installation";
    int centred = 0;
    bool ended = false;
    int result = -99;
};

Names items(const MemoryListBox& lb) {
    Names out;
    for (int i = 0; i < lb.count(); ++i) out.emplace_back(lb.item(i));
    return out;
}

class SelectionDialogTest : public ::testing::Test {
protected:
    void SetUp() override { qm::test::reset_list_state(); }

    void touch(const std::string& name) { qm::test::write_file(dir / name, "x"); }

    // Opens the dialog over dir as the export prepares it.
    void open(int mode, const std::string& where = "") {
        prepare_selection(where.empty() ? dir.str().c_str() : where.c_str(), mode);
        dialog.open(list, window);
    }
    void press(int id) { dialog.command(id, list, window); }

    TempDir dir;
    MemoryListBox list;
    RecordingWindow window;
    PackageSelectionDialog dialog;
};

TEST_F(SelectionDialogTest, InstallModeListsPackagesSortedWithoutTheCore) {
    for (const char* n : {"b.pkg", "a.pkg", "kynms.pkg", "notes.txt"}) touch(n);
    open(1);
    EXPECT_EQ(items(list), (Names{"a.pkg", "b.pkg"}));
    EXPECT_EQ(window.caption, "Device Installation");
    EXPECT_EQ(window.centred, 1);
    EXPECT_FALSE(window.ended);
}

TEST_F(SelectionDialogTest, UninstallModeListsEveryEntryButDotNames) {
    for (const char* n : {"b.pkg", "a.pkg", "kynms.pkg", "notes.txt", ".hidden.pkg", ".profile"}) touch(n);
    std::filesystem::create_directory(dir / "sub");
    std::filesystem::create_directory(dir / ".cache");
    open(0);
    EXPECT_EQ(items(list), (Names{"a.pkg", "b.pkg", "notes.txt", "sub"}));
    EXPECT_EQ(window.caption, "Uninstall Package");
}

TEST_F(SelectionDialogTest, OnlyTheFirstCoreNameInSortedOrderGoes) {
    touch("kynms.pkg");
    touch("KYNMS.PKG.OLD");
    open(0);
    EXPECT_EQ(items(list), Names{"KYNMS.PKG.OLD"});
}

TEST_F(SelectionDialogTest, TheCorePrefixMatchesInAnyCase) {
    touch("KYNMS.PKG.OLD");
    touch("a.txt");
    open(0);
    EXPECT_EQ(items(list), Names{"a.txt"});
}

TEST_F(SelectionDialogTest, ListKeepsThePlatformSortOrder) {
    const Names& sorted = qm::test::sorted_package_names();
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) touch(*it);
    open(1);
    EXPECT_EQ(items(list), sorted);
}

TEST_F(SelectionDialogTest, PatternFollowsTheModeAndTheDirectoryUnchanged) {
    prepare_selection("D:\\PKGS", 1);
    EXPECT_STREQ(SelectionPattern, "D:\\PKGS\\*.pkg");
    EXPECT_EQ(SelectionMode, 1);
    prepare_selection("D:\\", 0);
    EXPECT_STREQ(SelectionPattern, "D:\\\\*.*");
    EXPECT_EQ(SelectionMode, 0);
    prepare_selection("D:\\PKGS", 42);
    EXPECT_STREQ(SelectionPattern, "D:\\PKGS\\*.pkg");
    EXPECT_EQ(SelectionMode, 42);
}

TEST_F(SelectionDialogTest, DirectoryTooLongForThePatternListsNothing) {
    prepare_selection(std::string(253, 'd').c_str(), 1);  // 259 characters and the terminator
    EXPECT_EQ(std::strlen(SelectionPattern), 259u);
    touch("a.pkg");
    // Even a directory that exists: the pattern would have named another place.
    std::string longer = dir.str() + "\\" + std::string(260, 'x');
    open(1, longer);
    EXPECT_STREQ(SelectionPattern, "");
    EXPECT_EQ(list.count(), 0);
    press(IDC_OK);
    EXPECT_EQ(window.result, 0);
}

TEST_F(SelectionDialogTest, MissingDirectoryOpensEmptyAndOkGivesZero) {
    open(1, dir.str() + "/no-such-dir");
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(window.centred, 1);
    press(IDC_OK);
    EXPECT_TRUE(window.ended);
    EXPECT_EQ(window.result, 0);
    EXPECT_EQ(GetFirstFile(), nullptr);
}

class SelectAllOk : public SelectionDialogTest, public ::testing::WithParamInterface<int> {};

TEST_P(SelectAllOk, TakesEveryListedNameInListOrder) {
    const int n = GetParam();
    Names expected;
    for (int i = 0; i < n; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "p%03d.pkg", i);
        touch(name);
        expected.emplace_back(name);
    }
    open(1);
    press(IDC_SELECT_ALL);
    EXPECT_FALSE(window.ended);
    press(IDC_OK);
    EXPECT_EQ(window.result, 1);
    EXPECT_EQ(PackageList.count, n);
    EXPECT_EQ(read_list(), expected);
    for (int i = 0; i < n; ++i) EXPECT_EQ(SelectedIndices[i], i);
}

INSTANTIATE_TEST_SUITE_P(Counts, SelectAllOk, ::testing::Values(1, 2, 37, 99, 100));

TEST_F(SelectionDialogTest, MoreThanAHundredSelectedKeepsTheFirstHundred) {
    for (int i = 0; i < 101; ++i) touch("p" + std::to_string(1000 + i) + ".pkg");
    open(1);
    press(IDC_SELECT_ALL);
    press(IDC_OK);
    EXPECT_EQ(window.result, 1);
    const Names got = read_list();
    ASSERT_EQ(got.size(), 100u);
    EXPECT_EQ(got.front(), "p1000.pkg");
    EXPECT_EQ(got.back(), "p1099.pkg");
}

TEST_F(SelectionDialogTest, OverlongNamesAreSkippedNotCut) {
    const std::string longname = std::string(120, 'l') + ".pkg";
    touch("a.pkg");
    touch(longname);
    touch(std::string(95, 'm') + ".pkg");  // 99 characters: fits
    open(1);
    ASSERT_EQ(list.count(), 3);
    press(IDC_SELECT_ALL);
    press(IDC_OK);
    EXPECT_EQ(window.result, 1);
    EXPECT_EQ(read_list(), (Names{"a.pkg", std::string(95, 'm') + ".pkg"}));
}

TEST_F(SelectionDialogTest, OnlyOverlongNamesSelectedGiveZeroAndAnEmptyList) {
    touch(std::string(120, 'l') + ".pkg");
    open(1);
    press(IDC_SELECT_ALL);
    press(IDC_OK);
    EXPECT_EQ(window.result, 0);
    EXPECT_EQ(GetFirstFile(), nullptr);
}

TEST_F(SelectionDialogTest, UnselectAllThenOkGivesZeroAndAnEmptyList) {
    touch("a.pkg");
    touch("b.pkg");
    open(1);
    press(IDC_SELECT_ALL);
    press(IDC_UNSELECT_ALL);
    EXPECT_FALSE(window.ended);
    press(IDC_OK);
    EXPECT_EQ(window.result, 0);
    EXPECT_EQ(PackageList.count, 0);
    EXPECT_EQ(GetFirstFile(), nullptr);
}

TEST_F(SelectionDialogTest, SomeSelectedTakesThoseInListOrder) {
    for (const char* n : {"c.pkg", "a.pkg", "b.pkg", "d.pkg"}) touch(n);
    open(1);
    list.set_selected(3, true);
    list.set_selected(1, true);
    press(IDC_OK);
    EXPECT_EQ(window.result, 1);
    EXPECT_EQ(read_list(), (Names{"b.pkg", "d.pkg"}));
}

TEST_F(SelectionDialogTest, CancelAfterAnEarlierListLeavesItEmpty) {
    qm::test::fill_entries(3);
    touch("a.pkg");
    open(1);
    EXPECT_EQ(PackageList.count, 0) << "opening empties the list";
    press(IDC_SELECT_ALL);
    press(IDC_CANCEL);
    EXPECT_TRUE(window.ended);
    EXPECT_EQ(window.result, 0);
    EXPECT_EQ(GetFirstFile(), nullptr);
}

TEST_F(SelectionDialogTest, OkLeavesTheCursorWhereTheLastReadingLeftIt) {
    qm::test::fill_entries(5);
    while (GetNextFile()) {
    }
    touch("a.pkg");
    touch("b.pkg");
    open(1);
    press(IDC_SELECT_ALL);
    press(IDC_OK);
    EXPECT_EQ(PackageList.cursor, 5);
    EXPECT_EQ(GetNextFile(), nullptr);
    EXPECT_STREQ(GetFirstFile(), "a.pkg");
    EXPECT_STREQ(GetNextFile(), "b.pkg");
}

TEST_F(SelectionDialogTest, OtherCommandsAndListNotificationsDoNothing) {
    touch("a.pkg");
    open(1);
    list.set_selected(0, true);
    for (int id : {0, 3, IDC_PACKAGE_LIST, 1003, 0xFFFF}) press(id);
    EXPECT_FALSE(window.ended);
    EXPECT_TRUE(list.selected(0));
}

// --- the in-memory list box itself ---

TEST(MemoryListBox, CollatesLikeThePlatformListBox) {
    struct Case {
        const char* a;
        const char* b;
        int order;
    };
    const Case cases[] = {
        {"a", "B", -1},      {"A", "a", 0},       {"ab", "AB", 0},   {"a", "a c", -1},   {"a c", "a!", -1},
        {"!x", "#1", -1},    {"[x]", "_x", -1},   {"_x", "~z", -1},  {"~z", "1x", -1},   {"a~b", "a+", -1},
        {"a+", "a=", -1},    {"a=", "a1", -1},    {"a1", "a10", -1}, {"a10", "a2", -1},  {"a2", "aa", -1},
        {"ab", "ac", -1},    {"ac", "a'c", -1},   {"a'c", "a-c", -1}, {"a-c", "a-'c", -1}, {"a-'c", "a--c", -1},
        {"a--c", "ad", -1},  {"ab.pkg", "a-c", -1}, {"a-", "'a", -1}, {"'a", "-a", -1},   {"'", "-", -1},
        {"-", "--", -1},     {"--", "a", -1},     {"a.", "a.b", -1}, {"a.b", "a;", -1},  {"a|", "a<", -1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(qm::plat::list_box_collate(c.a, c.b), c.order) << c.a << " vs " << c.b;
        EXPECT_EQ(qm::plat::list_box_collate(c.b, c.a), -c.order) << c.b << " vs " << c.a;
    }
}

TEST(MemoryListBox, EqualTextsTakeThePlaceThePlatformGivesThem) {
    MemoryListBox lb;
    for (const char* s : {"x1", "x", "X", "x2", "X1", "x1", "X", "x"}) lb.add(s);
    EXPECT_EQ(items(lb), (Names{"X", "x", "X", "x", "x1", "X1", "x1", "x2"}));
    MemoryListBox lb2;
    for (const char* s : {"k1", "k2", "K1", "K2", "k1"}) lb2.add(s);
    EXPECT_EQ(items(lb2), (Names{"K1", "k1", "k1", "K2", "k2"}));
}

TEST(MemoryListBox, FindsTheFirstPrefixMatchFromTheTop) {
    MemoryListBox lb;
    for (const char* s : {"KYNMS.PKG.OLD", "kynms.pkgz", "kynms.pkg", "a"}) lb.add(s);
    EXPECT_EQ(lb.find_prefix("kynms.pkg"), 1);
    EXPECT_STREQ(lb.item(1), "kynms.pkg");
    EXPECT_EQ(lb.find_prefix("A"), 0);
    EXPECT_EQ(lb.find_prefix("kynms.pkg.old!"), qm::plat::ListBox::kError);
    EXPECT_EQ(lb.find_prefix(""), qm::plat::ListBox::kError);
}

TEST(MemoryListBox, SelectionAndTextLimits) {
    MemoryListBox lb;
    for (const char* s : {"c", "a", "b", "d"}) lb.add(s);
    lb.set_selected(3, true);
    lb.set_selected(0, true);
    lb.set_selected(2, true);
    EXPECT_EQ(lb.selected_count(), 3);
    int32_t idx[2] = {-1, -1};
    EXPECT_EQ(lb.selected_items(idx, 2), 2);
    EXPECT_EQ(idx[0], 0);
    EXPECT_EQ(idx[1], 2);
    lb.remove(0);
    EXPECT_EQ(lb.selected_count(), 2);
    char small[2];
    EXPECT_TRUE(lb.text(0, small, sizeof small));
    EXPECT_STREQ(small, "b");
    lb.add("long");
    EXPECT_FALSE(lb.text(lb.find_prefix("long"), small, sizeof small));
    EXPECT_STREQ(small, "");
    EXPECT_FALSE(lb.text(99, small, sizeof small));
    lb.select_all(false);
    EXPECT_EQ(lb.selected_count(), 0);
    lb.select_all(true);
    EXPECT_EQ(lb.selected_count(), lb.count());
}

}  // namespace
