// INI files through the platform layer. The reading rules and the effects of a write that
// show through a read run on both sides, so under Wine they hold the POSIX engine to the
// platform's own behaviour; the byte-for-byte layout of a written file, the refusals and
// the atomic replace are the POSIX engine's own and run there only.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/ini.h"
#include "platform/sys.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

using qm::test::TempDir;
namespace fs = std::filesystem;

namespace {

std::string read_key(const fs::path& file, const char* section, const char* key,
                     const char* def = "<none>", size_t size = 256) {
    std::vector<char> buf(size + 1, '#');
    const unsigned n = qm::plat::ini_read(section, key, def, buf.data(), size, file.string().c_str());
    std::string s(buf.data());
    EXPECT_EQ(n, s.size()) << "result is the length copied";
    return s;
}

bool write_key(const fs::path& file, const char* section, const char* key, const char* value) {
    return qm::plat::ini_write(section, key, value, file.string().c_str()).ok();
}

struct ReadCase {
    const char* what;
    const char* content;
    const char* section;
    const char* key;
    const char* expected;
};

class IniRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(IniRead, FindsValueAsThePlatformDoes) {
    const ReadCase& c = GetParam();
    TempDir t;
    qm::test::write_file(t / "f.ini", c.content);
    EXPECT_EQ(read_key(t / "f.ini", c.section, c.key), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, IniRead,
    ::testing::Values(
        ReadCase{"plain", "[program]\r\nico1=a.ico\r\n", "program", "ico1", "a.ico"},
        ReadCase{"names without regard to case", "[PROGRAM]\r\nIcO1=x\r\n", "Program", "ico1", "x"},
        ReadCase{"blanks around names and values", "  [ program ]  \r\n\t ico1 \t=  a b  \r\n",
                 "program", "ico1", "a b"},
        ReadCase{"blanks around the asked names", "[program]\r\nico1=x\r\n", " program ", " ico1 ", "x"},
        ReadCase{"double quotes dropped", "[s]\r\nk=\"quoted value\"\r\n", "s", "k", "quoted value"},
        ReadCase{"single quotes dropped", "[s]\r\nk='single'\r\n", "s", "k", "single"},
        ReadCase{"empty quotes read as empty", "[s]\r\nk=\"\"\r\n", "s", "k", ""},
        ReadCase{"only the outer pair", "[s]\r\nk=\"a\"b\"\r\n", "s", "k", "a\"b"},
        ReadCase{"unbalanced quote kept", "[s]\r\nk=\"open\r\n", "s", "k", "\"open"},
        ReadCase{"mixed quotes kept", "[s]\r\nk='mixed\"\r\n", "s", "k", "'mixed\""},
        ReadCase{"a lone quote kept", "[s]\r\nk=\"\r\n", "s", "k", "\""},
        ReadCase{"empty value", "[s]\r\nk=\r\n", "s", "k", ""},
        ReadCase{"key without = gives the default", "[s]\r\nk\r\n", "s", "k", "<none>"},
        ReadCase{"first = splits", "[s]\r\nk=a=b\r\n", "s", "k", "a=b"},
        ReadCase{"first key of a name wins", "[s]\r\nk=1\r\nk=2\r\n", "s", "k", "1"},
        ReadCase{"only the first section of a name", "[s]\r\nx=1\r\n[t]\r\n[S]\r\nk=2\r\n", "s", "k",
                 "<none>"},
        ReadCase{"key of another section", "[a]\r\nk=1\r\n[b]\r\nj=2\r\n", "b", "k", "<none>"},
        ReadCase{"commented key is no key", "[s]\r\n;k=1\r\n", "s", "k", "<none>"},
        ReadCase{"keys before any header are in no named section", "k=1\r\n[s]\r\n", "s", "k", "<none>"},
        ReadCase{"text after the closing bracket", "[s] trailing\r\nk=1\r\n", "s", "k", "1"},
        ReadCase{"missing section", "[s]\r\nk=1\r\n", "t", "k", "<none>"},
        ReadCase{"byte-order mark", "\xEF\xBB\xBF[s]\r\nk=bom\r\n", "s", "k", "bom"},
        ReadCase{"LF line ends", "[s]\nj=0\nk=lf\n", "s", "k", "lf"},
        ReadCase{"CR line ends", "[s]\rj=0\rk=cr\r", "s", "k", "cr"},
        ReadCase{"no final line end", "[s]\r\nk=last", "s", "k", "last"},
        ReadCase{"empty file", "", "s", "k", "<none>"}),
    [](const ::testing::TestParamInfo<ReadCase>& i) { return "case" + std::to_string(i.index); });

TEST(IniReadDefault, MissingFileGivesDefaultWithoutTrailingBlanks) {
    TempDir t;
    EXPECT_EQ(read_key(t / "absent.ini", "s", "k", "dflt  "), "dflt");
    EXPECT_EQ(read_key(t / "absent.ini", "s", "k", ""), "");
}

TEST(IniReadDefault, LongValueIsCutToTheRoom) {
    TempDir t;
    qm::test::write_file(t / "f.ini", "[s]\r\nk=0123456789abcdef\r\n");
    EXPECT_EQ(read_key(t / "f.ini", "s", "k", "", 10), "012345678");
    EXPECT_EQ(read_key(t / "f.ini", "s", "k", "", 1), "");
}

TEST(IniBareName, NamesAFileInTheWindowsDirectory) {
    TempDir t;
#ifndef _WIN32
    const char* old = std::getenv("WINDIR");
    const std::string saved = old ? old : "";
    setenv("WINDIR", t.str().c_str(), 1);
#endif
    char windir[260];
    unsigned length = 0;
    ASSERT_TRUE(qm::plat::windows_dir(windir, sizeof windir, &length).ok());
    ASSERT_GT(length, 0u);
    const std::string name = "qmtest-" + std::to_string(std::random_device{}()) + ".ini";
    const fs::path in_windir = fs::path(windir) / name;
    qm::test::write_file(in_windir, "[s]\r\nk=from windir\r\n");
    EXPECT_EQ(read_key(name, "s", "k"), "from windir");
    EXPECT_TRUE(write_key(name, "s", "j", "written"));
    EXPECT_EQ(read_key(in_windir, "s", "j"), "written");
    fs::remove(in_windir);
#ifndef _WIN32
    if (old) setenv("WINDIR", saved.c_str(), 1);
    else unsetenv("WINDIR");
#endif
}

TEST(IniWrite, CreatesFileSectionAndKey) {
    TempDir t;
    ASSERT_TRUE(write_key(t / "new.ini", "Working Directory", "Dir", "C:\\prod"));
    ASSERT_TRUE(write_key(t / "new.ini", "SERVICES", "CurrentService", "1"));
    EXPECT_EQ(read_key(t / "new.ini", "Working Directory", "Dir"), "C:\\prod");
    EXPECT_EQ(read_key(t / "new.ini", "services", "currentservice"), "1");
    const std::string text = qm::test::read_file(t / "new.ini");
    EXPECT_LT(text.find("[Working Directory]"), text.find("[SERVICES]")) << text;
}

TEST(IniWrite, ReplacesValueAndKeepsTheRest) {
    TempDir t;
    qm::test::write_file(t / "f.ini", "[a]\r\nk=old\r\nx=1\r\n[b]\r\nk=other\r\n");
    ASSERT_TRUE(write_key(t / "f.ini", "A", "K", "new"));
    ASSERT_TRUE(write_key(t / "f.ini", "a", "added", "2"));
    EXPECT_EQ(read_key(t / "f.ini", "a", "k"), "new");
    EXPECT_EQ(read_key(t / "f.ini", "a", "x"), "1");
    EXPECT_EQ(read_key(t / "f.ini", "a", "added"), "2");
    EXPECT_EQ(read_key(t / "f.ini", "b", "k"), "other");
    EXPECT_TRUE(write_key(t / "f.ini", "a", "k", "  lead"));
    EXPECT_EQ(read_key(t / "f.ini", "a", "k"), "lead") << "leading blanks of a value are dropped";
}

#ifndef _WIN32

// A write as it lands in the file, byte for byte.
struct LayoutCase {
    const char* what;
    const char* before;
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

class IniLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(IniLayout, ChangesOnlyWhatTheWriteNeeds) {
    const LayoutCase& c = GetParam();
    TempDir t;
    if (c.before) qm::test::write_file(t / "f.ini", c.before);
    ASSERT_TRUE(write_key(t / "f.ini", c.section, c.key, c.value)) << c.what;
    EXPECT_EQ(qm::test::read_file(t / "f.ini"), c.after) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, IniLayout,
    ::testing::Values(
        LayoutCase{"new file", nullptr, "S", "k", "v", "[S]\r\nk=v\r\n"},
        LayoutCase{"value replaced in place, comments and blanks kept",
                   "; head\r\n\r\n[Other]\r\nx = 1\r\n\r\n[S]\r\n  Key =  old value\r\n; tail\r\n",
                   "s", "key", "new",
                   "; head\r\n\r\n[Other]\r\nx = 1\r\n\r\n[S]\r\n  Key =  new\r\n; tail\r\n"},
        LayoutCase{"LF file stays LF, new key after the section's last line",
                   "[S]\na=1\n\n[T]\nb=2\n", "S", "c", "3", "[S]\na=1\nc=3\n\n[T]\nb=2\n"},
        LayoutCase{"byte-order mark kept, section appended after a last line without end",
                   "\xEF\xBB\xBF[A]\r\nx=1", "B", "y", "2", "\xEF\xBB\xBF[A]\r\nx=1\r\n[B]\r\ny=2\r\n"},
        LayoutCase{"byte-order mark alone", "\xEF\xBB\xBF", "B", "y", "2", "\xEF\xBB\xBF[B]\r\ny=2\r\n"},
        LayoutCase{"key without = gets one", "[S]\nflag  \nz=0\n", "S", "flag", "on", "[S]\nflag=on\nz=0\n"},
        LayoutCase{"empty section gets the key after its header", "[S]\r\n[T]\r\n", "S", "k", "v",
                   "[S]\r\nk=v\r\n[T]\r\n"},
        LayoutCase{"section's last line is the file's last", "[S]\r\na=1", "S", "b", "2",
                   "[S]\r\na=1\r\nb=2\r\n"},
        LayoutCase{"CR-only file", "[S]\ra=1\r", "S", "a", "9", "[S]\ra=9\r"},
        LayoutCase{"unknown lines and odd text kept", "garbage line\r\n[S\r\n[S]\r\nk=1 ; not a comment\r\n",
                   "S", "k", "2", "garbage line\r\n[S\r\n[S]\r\nk=2\r\n"},
        LayoutCase{"second section of the name left alone", "[S]\r\na=1\r\n[S]\r\nk=old\r\n", "S", "k",
                   "new", "[S]\r\na=1\r\nk=new\r\n[S]\r\nk=old\r\n"}),
    [](const ::testing::TestParamInfo<LayoutCase>& i) { return "case" + std::to_string(i.index); });

TEST(IniWritePosix, SameValueLeavesTheFileAlone) {
    TempDir t;
    qm::test::write_file(t / "f.ini", "[S]\r\nk=v\r\n");
    struct stat before, after;
    ASSERT_EQ(::stat((t / "f.ini").c_str(), &before), 0);
    ASSERT_TRUE(write_key(t / "f.ini", "S", "k", "v"));
    ASSERT_EQ(::stat((t / "f.ini").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST(IniWritePosix, FailedWriteLeavesTheFileAsItWas) {
    const std::string original = "; keep\r\n[S]\r\nk=old\r\n";
    for (auto op : {qm::plat::fault::Op::Create, qm::plat::fault::Op::Write, qm::plat::fault::Op::Rename}) {
        TempDir t;
        qm::test::write_file(t / "f.ini", original);
        qm::plat::fault::arm(op, 0, qm::plat::kENOSPC);
        EXPECT_FALSE(write_key(t / "f.ini", "S", "k", "new")) << static_cast<int>(op);
        qm::plat::fault::disarm_all();
        EXPECT_EQ(qm::test::read_file(t / "f.ini"), original);
        int entries = 0;
        for (const auto& e : fs::directory_iterator(t.path())) entries += e.path().filename() != "f.ini";
        EXPECT_EQ(entries, 0) << "no temporary file left behind";
    }
}

TEST(IniWritePosix, FailedCreateLeavesNoFile) {
    TempDir t;
    qm::plat::fault::arm(qm::plat::fault::Op::Write, 0, qm::plat::kENOSPC);
    EXPECT_FALSE(write_key(t / "new.ini", "S", "k", "v"));
    qm::plat::fault::disarm_all();
    EXPECT_TRUE(fs::is_empty(t.path()));
}

TEST(IniWritePosix, RefusesWhatWouldBreakTheLines) {
    TempDir t;
    const std::string original = "[S]\r\nk=1\r\n";
    qm::test::write_file(t / "f.ini", original);
    EXPECT_FALSE(write_key(t / "f.ini", "S", "k", "a\r\n[Evil]\r\nx=1"));
    EXPECT_FALSE(write_key(t / "f.ini", "S", "k=j", "1"));
    EXPECT_FALSE(write_key(t / "f.ini", "S]x", "k", "1"));
    EXPECT_FALSE(write_key(t / "f.ini", "", "k", "1"));
    EXPECT_FALSE(write_key(t / "f.ini", "S", "", "1"));
    EXPECT_EQ(qm::test::read_file(t / "f.ini"), original);
}

TEST(IniWritePosix, ReadOnlyFileIsRefused) {
    TempDir t;
    qm::test::write_file(t / "f.ini", "[S]\r\nk=1\r\n");
    ::chmod((t / "f.ini").c_str(), 0444);
    EXPECT_FALSE(write_key(t / "f.ini", "S", "k", "2"));
    EXPECT_EQ(read_key(t / "f.ini", "S", "k"), "1");
}

TEST(IniWritePosix, KeepsPermissionsAndWritesThroughALink) {
    TempDir t;
    qm::test::write_file(t / "real.ini", "[S]\r\nk=1\r\n");
    ::chmod((t / "real.ini").c_str(), 0640);
    fs::create_symlink("real.ini", t / "link.ini");
    ASSERT_TRUE(write_key(t / "link.ini", "S", "k", "2"));
    EXPECT_TRUE(fs::is_symlink(t / "link.ini"));
    EXPECT_EQ(qm::test::read_file(t / "real.ini"), "[S]\r\nk=2\r\n");
    struct stat st;
    ASSERT_EQ(::stat((t / "real.ini").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniWritePosix, BackslashSeparatesPaths) {
    TempDir t;
    fs::create_directory(t / "sub");
    ASSERT_TRUE(write_key(t.str() + "\\sub\\f.ini", "S", "k", "v"));
    EXPECT_EQ(qm::test::read_file(t / "sub/f.ini"), "[S]\r\nk=v\r\n");
}

#endif  // _WIN32

}  // namespace
