// The whole-file write: nobody sees or opens a file while it is written, an
// unfinished write leaves nothing, a replaced file keeps its identity, and temporaries
// left by a run that ended early are removed by the next write of that file, while one
// that a running writer holds is left alone.
#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "platform/errors.h"
#include "platform/whole_file.h"

using qm::plat::WholeFile;
using qm::plat::WholeFileEnd;
using qm::test::read_file;
using qm::test::TempDir;
using qm::test::write_file;
namespace fs = std::filesystem;

namespace {

constexpr int64_t kSeconds = 1577836800;  // 2020-01-01

std::vector<std::string> entries(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Whether another opener can read path now.
bool others_can_open(const fs::path& p) {
    std::FILE* f = std::fopen(p.string().c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

std::string temp_name(const std::string& path, unsigned k) {
    char out[512];
    EXPECT_TRUE(qm::plat::whole_file_temp_name(path.c_str(), k, out, sizeof out));
    return out;
}

struct IntentCase {
    const char* what;
    WholeFile::Intent intent;
    bool old_file;
};

class WholeFileIntent : public ::testing::TestWithParam<IntentCase> {};

TEST_P(WholeFileIntent, NameShowsTheOldFileOrNothingUntilComplete) {
    const IntentCase& k = GetParam();
    TempDir t;
    if (k.old_file) write_file(t / "f", "old");
    WholeFile w;
    ASSERT_EQ(w.begin("f", k.intent), 0) << k.what;
    ASSERT_EQ(w.write("new ", 4), 0);
    // Half-way: the old file whole, or nothing anyone can open.
    if (k.old_file)
        EXPECT_EQ(read_file(t / "f"), "old") << k.what;
    else
        EXPECT_FALSE(others_can_open(t / "f")) << k.what;
    ASSERT_EQ(w.write("content", 7), 0);
    WholeFileEnd end;
    end.times_kind = WholeFileEnd::Times::Seconds;
    end.seconds = kSeconds;
    EXPECT_TRUE(w.commit(end).ok()) << k.what;
    EXPECT_EQ(read_file(t / "f"), "new content") << k.what;
    EXPECT_EQ(qm::test::get_mtime(t / "f"), kSeconds) << k.what;
    EXPECT_EQ(entries(t.path()), std::vector<std::string>{"f"}) << k.what;
}

TEST_P(WholeFileIntent, AWriteNeverCommittedLeavesWhatWasThere) {
    const IntentCase& k = GetParam();
    TempDir t;
    if (k.old_file) write_file(t / "f", "old");
    {
        WholeFile w;
        ASSERT_EQ(w.begin("f", k.intent), 0) << k.what;
        ASSERT_EQ(w.write("part", 4), 0);
    }
    if (k.old_file)
        EXPECT_EQ(read_file(t / "f"), "old") << k.what;
    else
        EXPECT_FALSE(fs::exists(t / "f")) << k.what;
    EXPECT_EQ(entries(t.path()).size(), k.old_file ? 1u : 0u) << k.what << ": no temporary";
}

INSTANTIATE_TEST_SUITE_P(Intents, WholeFileIntent,
                         ::testing::Values(IntentCase{"new file", WholeFile::Intent::New, false},
                                           IntentCase{"replaced file", WholeFile::Intent::Replace, true},
                                           IntentCase{"replacing, nothing there", WholeFile::Intent::Replace, false}));

TEST(WholeFile, NewWriteFindsTheNameTakenAndLeavesWhatIsThere) {
    TempDir t;
    write_file(t / "f", "someone else's");
    WholeFile w;
    int e = w.begin("f", WholeFile::Intent::New);
    if (e == 0) {  // POSIX learns it only when the file takes its name
        ASSERT_EQ(w.write("mine", 4), 0);
        e = w.commit(WholeFileEnd{}).error;
    }
    EXPECT_EQ(e, qm::plat::kEEXIST);
    EXPECT_EQ(read_file(t / "f"), "someone else's");
    if (w.holds_content()) {
        EXPECT_TRUE(w.commit_replacing(WholeFileEnd{}).ok());
        EXPECT_EQ(read_file(t / "f"), "mine");
    }
}

// A temporary that nobody holds is what a run that ended early left; one that a writer
// holds belongs to a run still going.
class LeftTemporary {
public:
    LeftTemporary(const fs::path& p, bool held) : path_(p) {
        write_file(p, "left by an earlier run");
        if (!held) return;
#ifdef _WIN32
        handle_ = CreateFileA(p.string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
#else
        fd_ = ::open(p.c_str(), O_RDONLY);
        ::flock(fd_, LOCK_EX);
#endif
    }
    ~LeftTemporary() {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
        if (fd_ >= 0) ::close(fd_);
#endif
    }

private:
    fs::path path_;
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
};

TEST(WholeFile, NextWriteRemovesATemporaryNobodyHoldsAndKeepsAHeldOne) {
    for (bool held : {false, true}) {
        TempDir t;
        fs::create_directory(t / "d");
        write_file(t / "d/f", "old");
        const std::string left = temp_name("d/f", 0);
        LeftTemporary temporary(left, held);
        WholeFile w;
        ASSERT_EQ(w.begin("d\\f", WholeFile::Intent::Replace), 0) << held;
        ASSERT_EQ(w.write("new", 3), 0);
        ASSERT_TRUE(w.commit(WholeFileEnd{}).ok()) << held;
        EXPECT_EQ(read_file(t / "d/f"), "new") << held;
        const std::vector<std::string> expected =
            held ? std::vector<std::string>{fs::path(left).filename().string(), "f"} : std::vector<std::string>{"f"};
        EXPECT_EQ(entries(t / "d"), expected) << (held ? "a held temporary stays" : "a stale one goes");
    }
}

TEST(WholeFile, TemporaryNameIsShortAndTheSameForEveryWriteOfAFile) {
    const std::string a = temp_name("dir\\" + std::string(250, 'n'), 0);
    EXPECT_EQ(a, temp_name("dir/" + std::string(250, 'n'), 0).replace(3, 1, "\\"));
    EXPECT_EQ(a.rfind("dir\\.qm", 0), 0u) << a;
    EXPECT_EQ(a.size(), std::string("dir\\.qm12345678~").size());
    EXPECT_NE(a, temp_name("dir\\other", 0));
    EXPECT_EQ(temp_name("f", 2), temp_name("f", 0) + "2");
}

#ifdef _WIN32
// What a new-file write that was ended leaves (the file created read-only, hidden and
// system, or under Wine for a moment read-only and empty) is replaced by the next
// write of the name and by a guarded copy, however recent its time.
TEST(WholeFile, WhatAnEndedNewFileWriteLeftIsReplacedByTheNextWriteAndByACopy) {
    for (DWORD left : {DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
                       DWORD{FILE_ATTRIBUTE_READONLY}}) {
        TempDir t;
        write_file(t / "src", "source");
        qm::test::set_mtime(t / "src", kSeconds);
        for (const char* name : {"f", "copied"}) {
            HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, left, nullptr);
            ASSERT_NE(h, INVALID_HANDLE_VALUE);
            if (left != FILE_ATTRIBUTE_READONLY) {
                DWORD n;
                WriteFile(h, "pa", 2, &n, nullptr);
            }
            CloseHandle(h);
        }
        WholeFile w;
        ASSERT_EQ(w.begin("f", WholeFile::Intent::New), 0) << left;
        ASSERT_EQ(w.write("whole", 5), 0);
        EXPECT_TRUE(w.commit(WholeFileEnd{}).ok());
        EXPECT_EQ(read_file(t / "f"), "whole");
        EXPECT_EQ(GetFileAttributesA("f") & 7, 0u);
        EXPECT_TRUE(qm::plat::copy_file_replace("src", "copied")) << left;
        EXPECT_EQ(read_file(t / "copied"), "source");
    }
}
#endif

#ifndef _WIN32
// Identity of a replaced file: owner and group (root may give them), and its mode,
// on which the runtime's owner-write rule then acts.
TEST(WholeFile, ReplacedFileKeepsOwnerGroupAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "giving a file another owner needs root";
    struct Case {
        mode_t old_mode;
        WholeFileEnd::Mode kind;
        unsigned mode;
        mode_t expected;
    };
    for (const Case& k : {Case{0664, WholeFileEnd::Mode::Runtime, 0644, 0664},
                          Case{0664, WholeFileEnd::Mode::Runtime, 0444, 0644},
                          Case{0640, WholeFileEnd::Mode::Keep, 0, 0640},
                          Case{0640, WholeFileEnd::Mode::Exact, 0751, 0751}}) {
        TempDir t;
        write_file(t / "f", "old");
        ASSERT_EQ(::chown((t / "f").c_str(), 1234, 2345), 0);
        ASSERT_EQ(::chmod((t / "f").c_str(), k.old_mode), 0);
        WholeFile w;
        ASSERT_EQ(w.begin("f", WholeFile::Intent::Replace), 0);
        ASSERT_EQ(w.write("new", 3), 0);
        WholeFileEnd end;
        end.mode_kind = k.kind;
        end.mode = k.mode;
        ASSERT_TRUE(w.commit(end).ok());
        struct stat st;
        ASSERT_EQ(::stat((t / "f").c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 2345u);
        EXPECT_EQ(st.st_mode & 07777, k.expected) << std::oct << k.old_mode << " " << k.mode;
        EXPECT_EQ(read_file(t / "f"), "new");
    }
}

// A link where the file goes is replaced by the file; what it points to is never
// opened, created or changed.
TEST(WholeFile, LinkAtTheNameIsReplacedAndItsTargetLeftAlone) {
    TempDir t;
    write_file(t / "outside", "not ours");
    ::chmod((t / "outside").c_str(), 0600);
    fs::create_directory(t / "in");
    fs::create_symlink(t / "outside", t / "in/to-file");
    fs::create_symlink(t / "nowhere", t / "in/dangling");
    for (const char* name : {"in/to-file", "in/dangling"}) {
        WholeFile w;
        ASSERT_EQ(w.begin(name, WholeFile::Intent::Replace), 0) << name;
        ASSERT_EQ(w.write("file", 4), 0);
        WholeFileEnd end;
        end.mode_kind = WholeFileEnd::Mode::Runtime;
        end.mode = 0644;
        ASSERT_TRUE(w.commit(end).ok()) << name;
        EXPECT_FALSE(fs::is_symlink(t / name)) << name;
        EXPECT_EQ(read_file(t / name), "file") << name;
    }
    EXPECT_EQ(read_file(t / "outside"), "not ours");
    EXPECT_EQ(fs::status(t / "outside").permissions(), fs::perms(0600));
    EXPECT_FALSE(fs::exists(t / "nowhere"));
}
#endif

}  // namespace
