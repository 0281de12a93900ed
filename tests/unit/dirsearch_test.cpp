// The directory search as the code written against FindFirstFileA relies on it: "\" in
// the pattern, "." and "..", no search left open when nothing matched. (The wildcard
// rule itself: wildcard_test.cpp.)
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/dirsearch.h"

using qm::test::TempDir;

namespace {

std::vector<std::string> search(const std::string& pattern) {
    std::vector<std::string> names;
    qm::plat::DirSearch s;
    if (s.first(pattern.c_str()).ok()) {
        do names.push_back(s.name());
        while (s.next());
        EXPECT_TRUE(s.close());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(DirSearch, YieldsMatchingFilesAndDirectories) {
    TempDir t;
    qm::test::write_file(t / "d/a.pkg", "");
    qm::test::write_file(t / "d/B.PKG", "");
    qm::test::write_file(t / "d/notes.txt", "");
    std::filesystem::create_directory(t / "d/sub.pkg");
    EXPECT_EQ(search((t / "d").string() + "\\*.pkg"),
              (std::vector<std::string>{"B.PKG", "a.pkg", "sub.pkg"}));
    const auto all = search((t / "d").string() + "/*.*");
    EXPECT_TRUE(std::find(all.begin(), all.end(), "notes.txt") != all.end());
    EXPECT_TRUE(std::find(all.begin(), all.end(), "..") != all.end());
}

TEST(DirSearch, NothingMatchingOrNoDirectoryStartsNoSearch) {
    TempDir t;
    qm::plat::DirSearch s;
    EXPECT_FALSE(s.first((t / "*.none").string().c_str()).ok());
    EXPECT_FALSE(s.close()) << "a search that never started cannot be closed";
    EXPECT_FALSE(s.first((t / "absent\\*.*").string().c_str()).ok());
}

TEST(DirSearch, ReportsDirectories) {
    TempDir t;
    std::filesystem::create_directory(t / "dir");
    qm::test::write_file(t / "file", "");
    qm::plat::DirSearch s;
    ASSERT_TRUE(s.first((t / "dir").string().c_str()).ok());
    EXPECT_TRUE(s.is_dir());
    ASSERT_TRUE(s.first((t / "file").string().c_str()).ok());
    EXPECT_FALSE(s.is_dir());
}

#ifndef _WIN32
// The entry type the directory listing gives is taken as it is, except for a link, which
// counts as what it points to (as FindFirstFileA reports a junction's target).
TEST(DirSearch, LinksCountAsWhatTheyPointTo) {
    TempDir t;
    std::filesystem::create_directory(t / "dir");
    qm::test::write_file(t / "file", "");
    std::filesystem::create_directory_symlink(t / "dir", t / "to-dir");
    std::filesystem::create_symlink(t / "file", t / "to-file");
    std::filesystem::create_symlink(t / "absent", t / "dangling");
    const struct {
        const char* name;
        bool is_dir;
    } cases[] = {{"dir", true}, {"file", false}, {"to-dir", true}, {"to-file", false}, {"dangling", false}};
    for (const auto& k : cases) {
        qm::plat::DirSearch s;
        ASSERT_TRUE(s.first((t / k.name).string().c_str()).ok()) << k.name;
        EXPECT_EQ(s.is_dir(), k.is_dir) << k.name;
    }
}
#endif

TEST(DirSearchTest, YieldsMatchingFilesAndDirectoriesByFullName) {
    qm::test::TempDir t;
    qm::test::write_file(t / "One.TXT", "1");
    qm::test::write_file(t / "two.txt", "2");
    qm::test::write_file(t / "three.dat", "3");
    std::filesystem::create_directories(t / "sub.txt");
    qm::plat::DirSearch s;
    ASSERT_TRUE(s.first(".\\*.txt").ok());
    std::set<std::string> names;
    int dirs = 0;
    do {
        names.insert(s.name());
        dirs += s.is_dir();
    } while (s.next());
    EXPECT_TRUE(s.close());
    EXPECT_EQ(names, (std::set<std::string>{"One.TXT", "sub.txt", "two.txt"}));
    EXPECT_EQ(dirs, 1);
    EXPECT_FALSE(s.first(".\\*.none").ok());
    EXPECT_FALSE(s.close()) << "nothing stays open when nothing matched";
}

}  // namespace
