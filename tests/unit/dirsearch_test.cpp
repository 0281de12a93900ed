// The directory search and its wildcard rule, as the POSIX side implements them for the
// code that was written against FindFirstFileA.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/dirsearch.h"

using qm::test::TempDir;

namespace {

struct MatchCase {
    const char* pattern;
    const char* name;
    bool expected;
};

class Wildcard : public ::testing::TestWithParam<MatchCase> {};

TEST_P(Wildcard, MatchesAsTheDirectorySearchDoes) {
    const MatchCase& k = GetParam();
    EXPECT_EQ(qm::plat::wildcard_match(k.pattern, k.name), k.expected)
        << "'" << k.pattern << "' against '" << k.name << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, Wildcard,
    ::testing::Values(MatchCase{"*", "anything", true}, MatchCase{"*", "*r", true},
                      MatchCase{"*", "", true}, MatchCase{"*.pkg", "router.pkg", true},
                      MatchCase{"*.pkg", "ROUTER.PKG", true}, MatchCase{"*.PKG", "atm.pkg", true},
                      MatchCase{"*.pkg", "router.pkgx", false}, MatchCase{"*.pkg", "pkg", false},
                      MatchCase{"*.*", "noext", true}, MatchCase{"*.*", "a.b.c", true},
                      MatchCase{"*.*", ".hidden", true}, MatchCase{"a?c", "abc", true},
                      MatchCase{"a?c", "ac", false}, MatchCase{"a*b*c", "aXbYc", true},
                      MatchCase{"a*b*c", "aXbY", false}, MatchCase{"**x", "x", true},
                      MatchCase{"k*.mfs", "kynms.mfs", true}, MatchCase{"file.txt", "FILE.TXT", true},
                      MatchCase{"file.txt", "file.tx", false},
                      MatchCase{"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac", false}));

std::vector<std::string> search(const std::string& pattern) {
    std::vector<std::string> names;
    qm::plat::DirSearch s;
    if (s.first(pattern.c_str())) {
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
    EXPECT_FALSE(s.first((t / "*.none").string().c_str()));
    EXPECT_FALSE(s.close()) << "a search that never started cannot be closed";
    EXPECT_FALSE(s.first((t / "absent\\*.*").string().c_str()));
}

TEST(DirSearch, ReportsDirectories) {
    TempDir t;
    std::filesystem::create_directory(t / "dir");
    qm::test::write_file(t / "file", "");
    qm::plat::DirSearch s;
    ASSERT_TRUE(s.first((t / "dir").string().c_str()));
    EXPECT_TRUE(s.is_dir());
    ASSERT_TRUE(s.first((t / "file").string().c_str()));
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
        ASSERT_TRUE(s.first((t / k.name).string().c_str())) << k.name;
        EXPECT_EQ(s.is_dir(), k.is_dir) << k.name;
    }
}
#endif

}  // namespace
