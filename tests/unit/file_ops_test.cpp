// The plain file and environment operations: AppendFile's text handling, the short
// name buffer, rename, delete and the environment.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "common/file_times.h"
#include "common/temp_dir.h"
#include "common/text_lines.h"
#include "fileutil/file_ops.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/whole_file.h"

#ifdef _WIN32
#include <windows.h>
#endif

using namespace qm::fileutil;
using qm::test::kNl;
using qm::test::read_file;
using qm::test::TempDir;
using qm::test::write_file;
namespace fs = std::filesystem;

namespace {

// ---- AppendFile -----------------------------------------------------------------

struct AppendCase {
    const char* label;
    std::optional<std::string> destination;  // nullopt: absent before the call
    std::optional<std::string> source;
    int result;
    std::string expected;  // the destination afterwards
};
void PrintTo(const AppendCase& c, std::ostream* os) { *os << c.label; }

class AppendTest : public ::testing::TestWithParam<AppendCase> {};

TEST_P(AppendTest, AppendsTheSourceText) {
    const AppendCase& c = GetParam();
    TempDir t;
    if (c.destination) write_file(t / "dst.txt", *c.destination);
    if (c.source) write_file(t / "src.txt", *c.source);
    EXPECT_EQ(AppendFile("dst.txt", "src.txt"), c.result) << c.label;
    ASSERT_TRUE(fs::exists(t / "dst.txt")) << c.label << ": the destination is always created";
    EXPECT_EQ(read_file(t / "dst.txt"), c.expected) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AppendTest,
    ::testing::Values(
        AppendCase{"empty source", std::string("abc"), std::string(), 1, "abc"},
        AppendCase{"missing source", std::nullopt, std::nullopt, 0, ""},
        AppendCase{"missing source, mark still removed", std::string("x\x1a"), std::nullopt, 0, "x"},
        AppendCase{"new destination", std::nullopt, std::string("text"), 1, "text"},
        AppendCase{"bare line feeds", std::string("top") + kNl, std::string("a\nb\n"), 1,
                   "top" + kNl + "a" + kNl + "b" + kNl},
        AppendCase{"carriage return pairs", std::string(), std::string("a\r\nb\r\n"), 1, "a" + kNl + "b" + kNl},
        AppendCase{"lone carriage return", std::string(), std::string("a\rb\r"), 1, "a\rb\r"},
        AppendCase{"end-of-file mark in source", std::string("x"), std::string("kept\x1alost\n"), 1, "xkept"},
        AppendCase{"source is only the mark", std::string("x"), std::string("\x1a"), 1, "x"},
        AppendCase{"destination ends in the mark", std::string("before\x1a"), std::string("after"), 1,
                   "beforeafter"},
        AppendCase{"only one mark is removed", std::string("two\x1a\x1a"), std::string("after"), 1,
                   "two\x1a" "after"},
        AppendCase{"mark inside the destination stays", std::string("a\x1a" "b"), std::string("c"), 1,
                   "a\x1a" "bc"}),
    [](const ::testing::TestParamInfo<AppendCase>& i) {
        std::string n = i.param.label;
        for (char& ch : n)
            if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
        return n;
    });

TEST(AppendFileTest, LongSourceArrivesWholeAndInOrderThroughSeveralReads) {
    TempDir t;
    std::string source, expected;
    for (int i = 0; i < 4000; ++i) {  // 44000 bytes: pairs fall across every read boundary
        char line[16];
        std::snprintf(line, sizeof line, "line %04d", i);
        source += std::string(line) + "\r\n";
        expected += std::string(line) + kNl;
    }
    ASSERT_GT(source.size(), 4 * kAppendChunk);
    write_file(t / "src", source);
    write_file(t / "dst", "head" + kNl);
    EXPECT_EQ(AppendFile("dst", "src"), 1);
    EXPECT_EQ(read_file(t / "dst"), "head" + kNl + expected);
}

TEST(AppendFileTest, AFileIsNotAppendedToItself) {
    TempDir t;
    const std::string text(3 * kAppendChunk, 'z');
    write_file(t / "same", text);
    EXPECT_EQ(AppendFile("same", ".\\same"), 0);
    EXPECT_EQ(read_file(t / "same"), text);
}

TEST(AppendFileTest, DirectoriesAndMissingPlacesDoNotOpen) {
    TempDir t;
    fs::create_directories(t / "dir");
    write_file(t / "src", "s");
    write_file(t / "dst", "d");
    EXPECT_EQ(AppendFile("dst", "dir"), 0);
    EXPECT_EQ(AppendFile("dir", "src"), 0);
    EXPECT_EQ(AppendFile("no-such-dir\\dst", "src"), 0);
    EXPECT_EQ(AppendFile(nullptr, "src"), 0);
    EXPECT_EQ(read_file(t / "dst"), "d");
    EXPECT_FALSE(fs::exists(t / "no-such-dir"));
}

// ---- GetShortFileName -----------------------------------------------------------

TEST(ShortFileName, ExistingPathGivesAnExistingShortForm) {
    TempDir t;
    write_file(t / "a rather long file name.text", "x");
    const char* s = GetShortFileName("a rather long file name.text");
    ASSERT_NE(s, nullptr);
    EXPECT_LE(std::strlen(s), 254u);
    EXPECT_TRUE(fs::exists(t / s)) << s;
#ifndef _WIN32
    EXPECT_STREQ(s, "a rather long file name.text");
#endif
}

TEST(ShortFileName, WithoutAShortFormThePathItselfWhenItFitsElseEmpty) {
    TempDir t;
    const std::string fits = "no-such-dir\\" + std::string(242, 'f');  // 254
    const std::string too_long = fits + "g";                             // 255
    EXPECT_EQ(std::string(GetShortFileName(fits.c_str())), fits);
    const char* first = GetShortFileName(too_long.c_str());
    EXPECT_STREQ(first, "");
    EXPECT_EQ(GetShortFileName(std::string(5000, 'x').c_str()), first) << "one library-owned buffer";
    EXPECT_STREQ(GetShortFileName(std::string(5000, 'x').c_str()), "");
    EXPECT_STREQ(GetShortFileName(nullptr), "");
}

// ---- Rename and delete ----------------------------------------------------------

TEST(RenameTest, RenamesFilesAndDirectoriesButNeverReplaces) {
    TempDir t;
    write_file(t / "a", "A");
    write_file(t / "b", "B");
    fs::create_directories(t / "dir/inner");
    fs::create_directories(t / "other");
    EXPECT_EQ(MyRenameFile("a", "b"), -1);
    EXPECT_EQ(read_file(t / "a"), "A");
    EXPECT_EQ(read_file(t / "b"), "B");
    EXPECT_EQ(MyRenameFile("a", "other"), -1) << "an existing directory is not replaced either";
    EXPECT_EQ(MyRenameFile("missing", "c"), -1);
    EXPECT_EQ(RenDirectory("dir", "other"), -1);
    EXPECT_EQ(RenDirectory("dir", "dir\\inner\\moved"), -1) << "not into itself";

    EXPECT_EQ(MyRenameFile("a", "c"), 0);
    EXPECT_FALSE(fs::exists(t / "a"));
    EXPECT_EQ(read_file(t / "c"), "A");
    EXPECT_EQ(MyRenameFile("c", "other\\c"), 0);
    EXPECT_EQ(read_file(t / "other/c"), "A");
    EXPECT_EQ(RenDirectory("dir", "renamed"), 0);
    EXPECT_TRUE(fs::is_directory(t / "renamed/inner"));
    EXPECT_FALSE(fs::exists(t / "dir"));
    EXPECT_EQ(RenDirectory("other\\c", "back"), 0) << "the same operation as MyRenameFile";
    EXPECT_EQ(MyRenameFile(nullptr, "x"), -1);
}

#ifndef _WIN32
// Another volume, as the no-replace rename reports it.
TEST(RenameTest, FileMovesToAnotherVolumeWithItsModeAndTimes) {
    TempDir t;
    write_file(t / "a", "content");
    fs::permissions(t / "a", fs::perms(0640));
    ASSERT_TRUE(qm::test::set_all_times(t / "a", qm::test::kTime2020 + 4200));
    fs::create_directories(t / "dir");
    write_file(t / "taken", "taken");
    using qm::plat::fault::Op;
    qm::plat::fault::arm(Op::Rename, 0, 18 /* EXDEV */);
    EXPECT_EQ(MyRenameFile("a", "taken"), -1);
    EXPECT_EQ(read_file(t / "a"), "content");
    EXPECT_EQ(read_file(t / "taken"), "taken");
    qm::plat::fault::arm(Op::Rename, 0, 18);
    EXPECT_EQ(RenDirectory("dir", "dir2"), -1) << "a directory does not cross volumes";
    EXPECT_TRUE(fs::is_directory(t / "dir"));
    qm::plat::fault::arm(Op::Rename, 0, 18);
    EXPECT_EQ(MyRenameFile("a", "dir\\moved"), 0);
    EXPECT_FALSE(fs::exists(t / "a"));
    EXPECT_EQ(read_file(t / "dir/moved"), "content");
    EXPECT_EQ(fs::status(t / "dir/moved").permissions(), fs::perms(0640));
    EXPECT_EQ(qm::test::get_times(t / "dir/moved").write, qm::test::kTime2020 + 4200);
    EXPECT_EQ(std::distance(fs::directory_iterator(t / "dir"), fs::directory_iterator()), 1);
    qm::plat::fault::disarm_all();
}
#endif

TEST(DeleteTest, RemovesOneFileOnly) {
    TempDir t;
    write_file(t / "f", "f");
    write_file(t / "ro", "ro");
    fs::permissions(t / "ro", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::create_directories(t / "dir");
    EXPECT_EQ(MyDeleteFile("dir"), 0);
    EXPECT_EQ(MyDeleteFile("ro"), 0);
    EXPECT_EQ(MyDeleteFile("missing"), 0);
    EXPECT_EQ(MyDeleteFile(nullptr), 0);
    EXPECT_TRUE(fs::exists(t / "dir"));
    EXPECT_TRUE(fs::exists(t / "ro"));
    EXPECT_NE(MyDeleteFile("f"), 0);
    EXPECT_FALSE(fs::exists(t / "f"));
    EXPECT_EQ(MyDeleteFile("f"), 0);
}

// ---- The temporary file a replacing write goes through first ----------------------

TEST(TempBeside, FitsBesideANameAtTheFileSystemLimit) {
    TempDir t;
    fs::create_directories(t / "dir");
    const std::string name = "dir\\" + std::string(250, 'n');
    write_file(t / "dir" / std::string(250, 'n'), "old");
    qm::plat::WholeFile out;
    ASSERT_EQ(out.begin(name.c_str(), qm::plat::WholeFile::Intent::Replace, nullptr), 0);
    EXPECT_EQ(out.write("x", 1), 0);
    EXPECT_TRUE(out.commit(qm::plat::WholeFileEnd{}).ok());
    EXPECT_EQ(std::distance(fs::directory_iterator(t / "dir"), fs::directory_iterator()), 1);
    EXPECT_EQ(read_file(t / "dir" / std::string(250, 'n')), "x");
}

// ---- Environment ----------------------------------------------------------------

std::string process_env(const char* name) {
#ifdef _WIN32
    char buf[256];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : std::string("(unset)");
#else
    const char* v = std::getenv(name);
    return v ? v : "(unset)";
#endif
}

TEST(SetEnvVariableTest, SetsTheProcessEnvironment) {
    EXPECT_NE(SetEnvVariable("QM_FILEUTIL_TEST", "value one"), 0);
    EXPECT_EQ(process_env("QM_FILEUTIL_TEST"), "value one");
    EXPECT_NE(SetEnvVariable("QM_FILEUTIL_TEST", ""), 0);
    EXPECT_NE(SetEnvVariable("QM_FILEUTIL_TEST", nullptr), 0);
    EXPECT_EQ(process_env("QM_FILEUTIL_TEST"), "(unset)");
    EXPECT_EQ(SetEnvVariable("", "x"), 0);
    EXPECT_EQ(SetEnvVariable("A=B", "x"), 0);
    EXPECT_EQ(SetEnvVariable(nullptr, "x"), 0);
}

}  // namespace
