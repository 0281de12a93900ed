// The whole-file write: nobody sees or opens a file while it is written or staged, an
// unpublished write leaves nothing, a replaced file keeps its identity, temporaries left
// by a run that ended early are removed by the next write of that file or the scope's
// sweep of its directory, while one that a running writer holds is left alone, one
// scope serves writes from several threads, and a batched scope flushes a replacement
// after its data and before its name, once for many.
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
#include <atomic>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/temp_dir.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/whole_file.h"

using qm::plat::WholeFile;
using qm::plat::WholeFileEnd;
using qm::plat::WholeFileScope;
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
    ASSERT_EQ(w.begin("f", k.intent, nullptr), 0) << k.what;
    ASSERT_EQ(w.write("new ", 4), 0);
    // Half-way, and staged: the old file whole, or nothing anyone can open.
    const auto unchanged = [&](const char* when) {
        if (k.old_file)
            EXPECT_EQ(read_file(t / "f"), "old") << k.what << when;
        else
            EXPECT_FALSE(others_can_open(t / "f")) << k.what << when;
    };
    unchanged(", half-way");
    ASSERT_EQ(w.write("content", 7), 0);
    WholeFileEnd end;
    end.times_kind = WholeFileEnd::Times::Seconds;
    end.seconds = kSeconds;
    ASSERT_TRUE(w.stage(end).ok()) << k.what;
    unchanged(", staged");
    EXPECT_TRUE(w.publish().ok()) << k.what;
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
        ASSERT_EQ(w.begin("f", k.intent, nullptr), 0) << k.what;
        ASSERT_EQ(w.write("part", 4), 0);
        if (k.intent == WholeFile::Intent::New) {
            ASSERT_TRUE(w.stage(WholeFileEnd{}).ok());  // staged, never named
        }
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
    int e = w.begin("f", WholeFile::Intent::New, nullptr);
    if (e == 0) {  // learnt only when the file takes its name
        ASSERT_EQ(w.write("mine", 4), 0);
        e = w.commit(WholeFileEnd{}).error;
    }
    EXPECT_EQ(e, qm::plat::kEEXIST);
    EXPECT_EQ(read_file(t / "f"), "someone else's");
    if (w.holds_content()) {
        EXPECT_TRUE(w.publish_replacing().ok());
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

// A batched scope flushes each replacement after its last write and before its rename;
// on POSIX one sync serves every file staged before it began (and one more at the end).
struct BatchCase {
    const char* steps;  // "sK": file K begun, written and staged; "pK": named; "f": flush()
    int syncs;          // POSIX: the flushes the steps take, the scope's end included
};

void log_op(qm::plat::fault::Op op, void* context) { static_cast<std::vector<qm::plat::fault::Op>*>(context)->push_back(op); }

class WholeFileBatch : public ::testing::TestWithParam<BatchCase> {
protected:
    void TearDown() override { qm::plat::fault::set_hook(nullptr, nullptr); }
};

TEST_P(WholeFileBatch, EachReplacementIsFlushedAfterItsDataAndBeforeItsName) {
    using qm::plat::fault::Op;
    const BatchCase& k = GetParam();
    TempDir t;
    const auto name = [](int i) { return "f" + std::to_string(i); };
    for (int i = 0; i < 3; ++i) write_file(t / name(i), "old");
    std::vector<Op> ops;
    std::vector<size_t> written(3, 0);  // where in ops each file's last write is
    qm::plat::fault::set_hook(&log_op, &ops);
    {
        WholeFileScope scope(WholeFileScope::Durability::Batched);
        WholeFile files[3];
        std::istringstream steps(k.steps);
        for (std::string step; steps >> step;) {
            const int i = step.size() > 1 ? step[1] - '0' : 0;
            const std::string text = "new " + std::to_string(i);
            if (step == "f") {
                EXPECT_EQ(scope.flush(), 0);
            } else if (step[0] == 's') {
                ASSERT_EQ(files[i].begin(name(i).c_str(), WholeFile::Intent::Replace, &scope, true), 0) << step;
                ASSERT_EQ(files[i].write(text.data(), text.size()), 0);
                ASSERT_TRUE(files[i].stage(WholeFileEnd{}).ok()) << step;
                written[i] = static_cast<size_t>(ops.rend() - std::find(ops.rbegin(), ops.rend(), Op::Write));
            } else {
                ASSERT_TRUE(files[i].publish().ok()) << step;
                const auto renamed = std::find(ops.rbegin(), ops.rend(), Op::Rename).base() - 1;
                EXPECT_GT(std::count(ops.begin() + static_cast<long>(written[i]), renamed, Op::Flush), 0)
                    << k.steps << ": " << step << " named before a flush after its data";
                EXPECT_EQ(read_file(t / name(i)), text) << step;
            }
        }
    }
    qm::plat::fault::set_hook(nullptr, nullptr);
#ifndef _WIN32
    EXPECT_EQ(std::count(ops.begin(), ops.end(), Op::Flush), k.syncs) << k.steps;
#endif
}

INSTANTIATE_TEST_SUITE_P(Steps, WholeFileBatch,
                         ::testing::Values(BatchCase{"s0 s1 s2 p0 p1 p2", 2}, BatchCase{"s0 p0 s1 p1 s2 p2", 4},
                                           BatchCase{"s0 s1 f p0 p1", 2}, BatchCase{"s0 f s1 p0 p1", 3},
                                           BatchCase{"s0 s1", 0}));

TEST(WholeFile, NextWriteRemovesATemporaryNobodyHoldsAndKeepsAHeldOne) {
    for (bool held : {false, true}) {
        TempDir t;
        fs::create_directory(t / "d");
        write_file(t / "d/f", "old");
        const std::string left = temp_name("d/f", 0);
        LeftTemporary temporary(left, held);
        WholeFile w;
        ASSERT_EQ(w.begin("d\\f", WholeFile::Intent::Replace, nullptr), 0) << held;
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

// Whatever the order of the writes, a scope searches each directory for stale
// temporaries once: with more directories than a few, written in turn, a temporary left
// after the first write into each directory is found only by the next scope.
TEST(WholeFile, AScopeSweepsEachDirectoryOnceWhateverTheOrder) {
    TempDir t;
    constexpr int kDirs = 12;
    const auto dir = [](int d) { return "d" + std::to_string(d); };
    const auto write_all = [&](WholeFileScope& scope, const char* name) {
        for (int d = 0; d < kDirs; ++d) {
            WholeFile w;
            ASSERT_EQ(w.begin((dir(d) + "\\" + name).c_str(), WholeFile::Intent::Replace, &scope), 0) << d;
            ASSERT_TRUE(w.commit(WholeFileEnd{}).ok()) << d;
        }
    };
    for (int d = 0; d < kDirs; ++d) {
        fs::create_directory(t / dir(d));
        write_file(temp_name(dir(d) + "/before", 0), "left by an earlier run");
    }
    WholeFileScope first;
    write_all(first, "a");
    for (int d = 0; d < kDirs; ++d) {
        EXPECT_EQ(entries(t / dir(d)), std::vector<std::string>{"a"}) << d << ": swept";
        write_file(temp_name(dir(d) + "/later", 0), "left meanwhile");
    }
    write_all(first, "b");
    for (int d = 0; d < kDirs; ++d) EXPECT_EQ(entries(t / dir(d)).size(), 3u) << d << ": not searched again";
    WholeFileScope second;
    write_all(second, "c");
    for (int d = 0; d < kDirs; ++d)
        EXPECT_EQ(entries(t / dir(d)), (std::vector<std::string>{"a", "b", "c"})) << d << ": the next scope's sweep";
}

// Several threads write through one scope into the same directories, staging and
// publishing as a pool of workers would: every file whole, nothing else left.
TEST(WholeFile, OneScopeServesWritesFromSeveralThreads) {
    TempDir t;
    constexpr int kThreads = 4, kFiles = 150, kDirs = 10;
    for (int d = 0; d < kDirs; ++d) fs::create_directory(t / ("d" + std::to_string(d)));
    WholeFileScope scope;
    std::vector<int> failures(kThreads, 0);
    std::vector<std::thread> workers;
    for (int w = 0; w < kThreads; ++w)
        workers.emplace_back([&, w] {
            for (int i = 0; i < kFiles; ++i) {
                const std::string name = "d" + std::to_string(i % kDirs) + "/t" + std::to_string(w) + "-" + std::to_string(i);
                WholeFile f;
                const bool ok = f.begin(name.c_str(), i % 3 ? WholeFile::Intent::New : WholeFile::Intent::Replace,
                                        &scope, true) == 0 &&
                                f.write(name.data(), name.size()) == 0 && f.stage(WholeFileEnd{}).ok() &&
                                f.publish().ok();
                failures[w] += ok ? 0 : 1;
            }
        });
    for (auto& w : workers) w.join();
    EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
    size_t files = 0;
    for (int d = 0; d < kDirs; ++d)
        for (const std::string& n : entries(t / ("d" + std::to_string(d)))) {
            ++files;
            EXPECT_EQ(read_file(t / ("d" + std::to_string(d)) / n), "d" + std::to_string(d) + "/" + n);
        }
    EXPECT_EQ(files, size_t{kThreads * kFiles});
}

// A write of a name begun through the scope while another of the same name is being put
// in place, as an expansion stages a later copy of a member while it replaces an earlier
// one: every replace goes through, and nothing else is left. (On Windows the replacing
// temporary is closed while the system puts it in place, and looks left over.)
TEST(WholeFile, AReplaceGoesThroughWhileAnotherWriteOfTheNameBegins) {
    TempDir t;
    write_file(t / "f", "old");
    WholeFileScope scope;
    std::atomic<bool> done{false};
    std::thread other([&] {
        while (!done) {
            WholeFile w;
            if (w.begin("f", WholeFile::Intent::New, &scope, true) == 0) w.discard();
        }
    });
    constexpr int kRounds = 300;
    int failed = 0;
    for (int i = 0; i < kRounds; ++i) {
        const std::string text = std::to_string(i);
        WholeFile w;
        failed += !(w.begin("f", WholeFile::Intent::Replace, &scope, true) == 0 &&
                    w.write(text.data(), text.size()) == 0 && w.commit(WholeFileEnd{}).ok());
    }
    done = true;
    other.join();
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(read_file(t / "f"), std::to_string(kRounds - 1));
    EXPECT_EQ(entries(t.path()), std::vector<std::string>{"f"});
}

#ifndef _WIN32
// Identity of a replaced file: owner and group (root may give them), and its mode,
// on which the runtime's owner-write rule then acts.
TEST(WholeFile, ReplacedFileKeepsOwnerGroupAndMode) {
    if (!qm::test::can_give_files_away(fs::temp_directory_path()))
        GTEST_SKIP() << "giving a file another owner needs root (of a namespace that maps other users)";
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
        ASSERT_EQ(w.begin("f", WholeFile::Intent::Replace, nullptr), 0);
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
        ASSERT_EQ(w.begin(name, WholeFile::Intent::Replace, nullptr), 0) << name;
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
