// The file utility exports through the real DLL: exclusive opens, the three file times,
// the runtime's text streams (CRLF and the 0x1A end-of-file mark), NMSROOT as the
// library saw it at load, short names, rename and delete.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "common/child_dir.h"
#include "common/file_times.h"
#include "common/temp_dir.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::FileTimes100ns;
using qm::test::kTime2020;
using qm::test::read_file;
using qm::test::TempDir;
using qm::test::write_file;
namespace fs = std::filesystem;

namespace {

auto append_file() { return exports().AppendFile; }
auto short_name() { return exports().GetShortFileName; }
auto set_env() { return exports().SetEnvVariable; }
auto ren_directory() { return exports().RenDirectory; }
auto rename_file() { return exports().MyRenameFile; }
auto delete_file() { return exports().MyDeleteFile; }
auto file_compare() { return exports().MyFileCompare; }
auto copy_files() { return exports().MyCopyFiles; }

std::string win(const fs::path& p) { return p.string(); }

void file(const fs::path& p, const std::string& content, uint64_t time) {
    write_file(p, content);
    ASSERT_TRUE(qm::test::set_all_times(p, time)) << p;
}

// Held open by the test, as another program would hold it.
struct Held {
    Held(const fs::path& p, DWORD share)
        : h(CreateFileA(win(p).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, 0, nullptr)) {}
    ~Held() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    HANDLE h;
};

bool opens_exclusively(const fs::path& p) {
    Held held(p, 0);
    return held.h != INVALID_HANDLE_VALUE;
}

class FileutilDll : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(copy_files(), nullptr);
        char buf[8];
        ASSERT_EQ(GetEnvironmentVariableA("NMSROOT", buf, sizeof buf), 0u)
            << "the DLL tests need NMSROOT unset: the log then lands in the current directory";
        fs::create_directories(t / "s");
        fs::create_directories(t / "d");
    }
    std::string log() const { return read_file(t / "kyinstall.log"); }
    std::string s(const char* name) const { return win(t / "s" / name); }
    std::string d(const char* name) const { return win(t / "d" / name); }
    TempDir t;  // the current directory
};

TEST_F(FileutilDll, WalkCopiesRefusesAndLogsWithCrLf) {
    file(t / "s/older.txt", "older", kTime2020 - 1);
    file(t / "d/older.txt", "newer", kTime2020);
    file(t / "s/new.txt", "new\n", kTime2020);
    file(t / "s/hidden.txt", "hidden", kTime2020);
    SetFileAttributesA(s("hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    fs::create_directories(t / "s/sub.txt");
    write_file(t / "kyinstall.log", "earlier\r\n\x1a");

    EXPECT_EQ(copy_files()(win(t / "s").c_str(), (win(t / "d") + "\\").c_str(), "*.txt"), 1);
    EXPECT_EQ(read_file(t / "d/older.txt"), "newer");
    EXPECT_EQ(read_file(t / "d/new.txt"), "new\n") << "a binary copy";
    EXPECT_EQ(read_file(t / "d/hidden.txt"), "hidden");
    EXPECT_FALSE(fs::exists(t / "d/sub.txt"));
    EXPECT_EQ(log(), "earlier\r\n" + s("older.txt") + " is older than " + d("older.txt") + "\r\n");
    // Nothing stays open after the call.
    EXPECT_TRUE(opens_exclusively(t / "kyinstall.log"));
    EXPECT_TRUE(opens_exclusively(t / "s/new.txt"));
    EXPECT_TRUE(opens_exclusively(t / "d/new.txt"));

    // The second run copies again (equal times are not older) and adds only the refusal.
    write_file(t / "kyinstall.log", "");
    EXPECT_EQ(copy_files()(win(t / "s").c_str(), win(t / "d").c_str(), "*.txt"), 1);
    EXPECT_EQ(log(), s("older.txt") + " is older than " + d("older.txt") + "\r\n");
    EXPECT_EQ(copy_files()(win(t / "s").c_str(), win(t / "d").c_str(), "*.none"), 0);
}

TEST_F(FileutilDll, CopyCarriesCreationAccessAndWriteTimes) {
    write_file(t / "s/f", "content");
    const FileTimes100ns set{kTime2020 - 3000000, kTime2020 + 12345677, kTime2020 + 7};
    ASSERT_TRUE(qm::test::set_times(t / "s/f", set));
    EXPECT_EQ(copy_files()(win(t / "s").c_str(), win(t / "d").c_str(), "f"), 1);
    const FileTimes100ns src = qm::test::get_times(t / "s/f");
    const FileTimes100ns dst = qm::test::get_times(t / "d/f");
    EXPECT_EQ(dst.write, set.write);
    EXPECT_EQ(dst.write, src.write);
    EXPECT_EQ(dst.access, src.access);
    // Wine keeps no creation time of its own on a Linux file system and reports another
    // time there; what Windows reports is what was set.
    EXPECT_EQ(dst.creation, src.creation);
}

// A user's own file newer than the source is kept by MyCopyFiles, whatever its
// attributes, and its refusal logged; a copy of such a file carries them and is kept as
// well when an older source comes later.
class UsersFileCopyDll : public FileutilDll, public ::testing::WithParamInterface<UsersFile> {};

TEST_P(UsersFileCopyDll, NewerIsKeptWithItsRefusalAndSoIsACopyOfOne) {
    const UsersFile& u = GetParam();
    const uint64_t older = kTime2020 - 10000000;
    ASSERT_TRUE(place_users_file(t / "d/f", u, kTime2020));
    ASSERT_TRUE(place_users_file(t / "s/g", u, kTime2020));
    file(t / "s/f", "older source", older);
    file(t / "older/g", "older source", older);
    EXPECT_EQ(copy_files()(win(t / "s").c_str(), win(t / "d").c_str(), "?"), 1);
    EXPECT_EQ(read_file(t / "d/f"), u.content);
    EXPECT_EQ(read_file(t / "d/g"), u.content);
    EXPECT_EQ(GetFileAttributesA(d("g").c_str()) & 7, u.attributes) << "a copy carries the source's attributes";
    EXPECT_EQ(log(), s("f") + " is older than " + d("f") + "\r\n");
    write_file(t / "kyinstall.log", "");
    EXPECT_EQ(copy_files()(win(t / "older").c_str(), win(t / "d").c_str(), "g"), 1);
    EXPECT_EQ(read_file(t / "d/g"), u.content);
    EXPECT_EQ(log(), win(t / "older") + "\\g is older than " + d("g") + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(Attributes, UsersFileCopyDll, ::testing::ValuesIn(kUsersFiles),
                         [](const ::testing::TestParamInfo<UsersFile>& i) { return std::string(i.param.what); });

struct AgeCase {
    int64_t first_minus_second;
    int expected;
};

class FileCompareDll : public FileutilDll, public ::testing::WithParamInterface<AgeCase> {};

TEST_P(FileCompareDll, OnlyAStrictlyEarlierWriteIsOlder) {
    file(t / "a", "a", kTime2020 + GetParam().first_minus_second);
    file(t / "b", "b", kTime2020);
    EXPECT_EQ(file_compare()(win(t / "a").c_str(), win(t / "b").c_str()), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(SmallestUnit, FileCompareDll,
                         ::testing::Values(AgeCase{-1, 1}, AgeCase{0, 0}, AgeCase{1, 0}));

TEST_F(FileutilDll, AFileHeldWithoutSharingIsNotOlderAndTheCopyIsAttempted) {
    file(t / "s/f", "older source", kTime2020 - 10);
    file(t / "d/f", "newer destination", kTime2020);
    ASSERT_EQ(file_compare()(s("f").c_str(), d("f").c_str()), 1);
    {
        Held held(t / "d/f", 0);
        ASSERT_NE(held.h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(file_compare()(s("f").c_str(), d("f").c_str()), 0);
        EXPECT_EQ(copy_files()(win(t / "s").c_str(), win(t / "d").c_str(), "f"), 1);
    }
    // The copy was attempted rather than refused: no line; the held file could not be
    // replaced.
    EXPECT_FALSE(fs::exists(t / "kyinstall.log"));
    EXPECT_EQ(read_file(t / "d/f"), "newer destination");
    {
        Held held(t / "s/f", 0);
        EXPECT_EQ(file_compare()(s("f").c_str(), d("f").c_str()), 0);
    }
    {
        // Held for reading with reading shared: the age test still cannot open it, and
        // the copy, which shares reading, goes through: the platform's own outcome.
        Held held(t / "s/f", FILE_SHARE_READ);
        ASSERT_NE(held.h, INVALID_HANDLE_VALUE);
        EXPECT_EQ(copy_files()(win(t / "s").c_str(), win(t / "d").c_str(), "f"), 1);
    }
    EXPECT_EQ(read_file(t / "d/f"), "older source");
    EXPECT_FALSE(fs::exists(t / "kyinstall.log"));
}

TEST_F(FileutilDll, CopyOntoItselfLeavesTheFile) {
    file(t / "s/f", "content", kTime2020 + 5);
    EXPECT_EQ(copy_files()(win(t / "s").c_str(), win(t / "s").c_str(), "*"), 1);
    EXPECT_EQ(qm::test::get_times(t / "s/f").write, kTime2020 + 5);
    EXPECT_EQ(read_file(t / "s/f"), "content");
    EXPECT_FALSE(fs::exists(t / "kyinstall.log"));
}

struct AppendCase {
    const char* label;
    std::optional<std::string> destination;
    std::string source;
    std::string expected;
};

void PrintTo(const AppendCase& c, std::ostream* os) { *os << c.label; }

class AppendDll : public FileutilDll, public ::testing::WithParamInterface<AppendCase> {};

TEST_P(AppendDll, RuntimeTextStreams) {
    const AppendCase& c = GetParam();
    if (c.destination) write_file(t / "dst", *c.destination);
    write_file(t / "src", c.source);
    EXPECT_EQ(append_file()(win(t / "dst").c_str(), win(t / "src").c_str()), 1);
    EXPECT_EQ(read_file(t / "dst"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AppendDll,
    ::testing::Values(
        AppendCase{"bare line feeds become pairs", std::string("top\r\n"), "a\nb\n", "top\r\na\r\nb\r\n"},
        AppendCase{"pairs stay pairs", std::nullopt, "a\r\nb\r\n", "a\r\nb\r\n"},
        AppendCase{"a mark ends the source", std::string(""), "kept\n\x1alost", "kept\r\n"},
        AppendCase{"a final mark on the destination goes", std::string("end\x1a"), "more", "endmore"},
        AppendCase{"only one final mark goes", std::string("end\x1a\x1a"), "more", "end\x1amore"},
        AppendCase{"a long source arrives whole", std::string(""), std::string(25000, 'q') + "\n",
                   std::string(25000, 'q') + "\r\n"}));

TEST_F(FileutilDll, AppendFileOpenFailures) {
    write_file(t / "dst", "d\x1a");
    EXPECT_EQ(append_file()(win(t / "dst").c_str(), win(t / "missing").c_str()), 0);
    EXPECT_EQ(read_file(t / "dst"), "d") << "opening the destination removed its mark";
    EXPECT_EQ(append_file()(win(t / "new").c_str(), win(t / "missing").c_str()), 0);
    EXPECT_TRUE(fs::exists(t / "new"));
    EXPECT_EQ(fs::file_size(t / "new"), 0u);
    EXPECT_EQ(append_file()(win(t / "dst").c_str(), win(t / "dst").c_str()), 0);
    EXPECT_EQ(read_file(t / "dst"), "d");
}

TEST_F(FileutilDll, ShortNameOfALongNameIsAnExistingPath) {
    write_file(t / "a long file name with spaces.textfile", "x");
    const std::string long_path = win(t / "a long file name with spaces.textfile");
    const char* r = short_name()(long_path.c_str());
    ASSERT_NE(r, nullptr);
    const std::string got(r);
    EXPECT_LE(got.size(), 254u);
    EXPECT_NE(GetFileAttributesA(got.c_str()), INVALID_FILE_ATTRIBUTES) << got;
    EXPECT_EQ(short_name()("Z:\\quillmar-no-such\\file name"), r) << "the same library-owned buffer";
    EXPECT_STREQ(r, "Z:\\quillmar-no-such\\file name");
    EXPECT_STREQ(short_name()(("Z:\\" + std::string(300, 'n')).c_str()), "");
}

TEST_F(FileutilDll, RenameNeverReplaces) {
    write_file(t / "a", "A");
    write_file(t / "b", "B");
    fs::create_directories(t / "dir");
    fs::create_directories(t / "taken");
    EXPECT_EQ(rename_file()(win(t / "a").c_str(), win(t / "b").c_str()), -1);
    EXPECT_EQ(read_file(t / "a"), "A");
    EXPECT_EQ(read_file(t / "b"), "B");
    EXPECT_EQ(ren_directory()(win(t / "dir").c_str(), win(t / "taken").c_str()), -1);
    EXPECT_EQ(ren_directory()(win(t / "dir").c_str(), win(t / "renamed").c_str()), 0);
    EXPECT_TRUE(fs::is_directory(t / "renamed"));
    EXPECT_EQ(rename_file()(win(t / "a").c_str(), win(t / "renamed/a").c_str()), 0);
    EXPECT_EQ(read_file(t / "renamed/a"), "A");
    EXPECT_EQ(rename_file()(win(t / "missing").c_str(), win(t / "c").c_str()), -1);
}

TEST_F(FileutilDll, DeleteRemovesOnlyAWritableFile) {
    write_file(t / "f", "f");
    write_file(t / "ro", "ro");
    SetFileAttributesA(win(t / "ro").c_str(), FILE_ATTRIBUTE_READONLY);
    fs::create_directories(t / "dir");
    EXPECT_EQ(delete_file()(win(t / "dir").c_str()), 0);
    EXPECT_EQ(delete_file()(win(t / "ro").c_str()), 0);
    EXPECT_EQ(delete_file()(win(t / "missing").c_str()), 0);
    EXPECT_TRUE(fs::exists(t / "ro"));
    EXPECT_NE(delete_file()(win(t / "f").c_str()), 0);
    EXPECT_FALSE(fs::exists(t / "f"));
    SetFileAttributesA(win(t / "ro").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// NMSROOT as the library saw it when it was loaded: the test sets it with the DLL's own
// SetEnvVariable (a started program inherits it) and starts itself again; the child
// loads the DLL, logs a refusal, moves NMSROOT with SetEnvVariable and logs another.
// Both lines land under the value at load.
TEST(FileutilDllLoad, NmsrootIsTakenAtLoadAndNotMovedBySetEnvVariable) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const qm::test::ChildSharedDir dir("QM_TEST_NMSROOT");
    const std::string root = win(dir.path() / "Root");
    if (!dir.in_child()) {
        file(fs::path(root) / "s/f", "older", kTime2020 - 1);
        file(fs::path(root) / "d/f", "newer", kTime2020);
        fs::create_directories(fs::path(root) / "moved");
        ASSERT_NE(set_env(), nullptr);
        ASSERT_NE(set_env()("nmsRoot", root.c_str()), 0);
    }
    const std::string src = root + "\\s", dst = root + "\\d", moved = root + "\\moved";
    EXPECT_EXIT(
        {
            auto copy = copy_files();
            auto setenv_fn = set_env();
            if (!copy || !setenv_fn) std::exit(2);
            copy(src.c_str(), dst.c_str(), "f");
            const int set = setenv_fn("NMSROOT", moved.c_str());
            char now[MAX_PATH] = "";
            GetEnvironmentVariableA("NMSROOT", now, sizeof now);
            copy(src.c_str(), dst.c_str(), "f");
            std::fprintf(stderr, "set %d, environment %s", set, moved == now ? "moved" : "not moved");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "set 1, environment moved");
    set_env()("NMSROOT", nullptr);
    const std::string line = src + "\\f is older than " + dst + "\\f\r\n";
    EXPECT_EQ(read_file(fs::path(root) / "kyinstall.log"), line + line);
    EXPECT_FALSE(fs::exists(fs::path(root) / "moved/kyinstall.log"));
}

// An empty NMSROOT is defined (the install log goes to "\kyinstall.log" at the root of the
// current drive), whatever an earlier call left as the last error: a second copy of the
// library is loaded just after a call that left ERROR_ENVVAR_NOT_FOUND there. (Wine's
// GetEnvironmentVariableA clears that error itself on success, so only Windows could show
// a library that forgot to clear it; here the empty value's meaning is what is checked.)
TEST(FileutilDllLoad, AnEmptyNmsrootIsDefinedWhateverTheLastErrorWas) {
    TempDir t;  // the current directory
    const std::string copy = win(t / "qmroot.dll");
    ASSERT_TRUE(CopyFileA(dll_path().c_str(), copy.c_str(), FALSE));
    file(t / "s/f", "older", kTime2020 - 1);
    file(t / "d/f", "newer", kTime2020);
    const std::string root_log = t.str().substr(0, 3) + "kyinstall.log";
    DeleteFileA(root_log.c_str());
    SetEnvironmentVariableA("NMSROOT", "");
    char probe[4];
    GetEnvironmentVariableA("QM_SURELY_NOT_DEFINED", probe, sizeof probe);
    ASSERT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    HMODULE m = LoadLibraryA(copy.c_str());
    SetEnvironmentVariableA("NMSROOT", nullptr);
    ASSERT_NE(m, nullptr);
    auto copy_fn = reinterpret_cast<decltype(&MyCopyFiles)>(reinterpret_cast<void*>(GetProcAddress(m, "MyCopyFiles")));
    ASSERT_NE(copy_fn, nullptr);
    EXPECT_EQ(copy_fn(win(t / "s").c_str(), win(t / "d").c_str(), "f"), 1);
    FreeLibrary(m);
    EXPECT_FALSE(fs::exists(t / "kyinstall.log")) << "an empty NMSROOT read as undefined";
    EXPECT_EQ(read_file(root_log), win(t / "s" / "f") + " is older than " + win(t / "d" / "f") + "\r\n");
    DeleteFileA(root_log.c_str());
}

}  // namespace
