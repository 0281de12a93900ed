// A disk that fills up in the middle of an expansion, injected at each step of writing
// one member (creating the file, writing it, setting its time, putting it in place) and
// at each member in turn: every file installed before is either still whole or whole in
// its new version, the expansion stops at the failure with its message and leaves the
// failing step's code as the last error, and no temporary file stays behind. The same
// steps failing otherwise (no right, too many files open, a read-only volume) leave
// their own codes, and so does each step of the guarded copy. Runs natively and under Wine; real_full_disk_test.cpp
// does the same on a real full disk where it may mount one. A flush the disk refuses is
// the failure of the member whose rename waited for it. Natively, the process is also
// ended at every step of an update, the flushes of a batch of replacements among them
// (and once by a real kill -9), and the next expansion finds every file whole with its
// member's time and no temporary left.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <string>
#include <tuple>
#include <vector>

#include "common/as_export.h"
#include "fileutil/guarded_copy.h"
#include "common/capture.h"
#include "common/ended_at_step.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "packages/expand.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/host.h"
#include "platform/sys.h"
#include "session/session.h"
#include "session/status.h"

namespace fs = std::filesystem;
using qm::plat::fault::Op;
using qm::test::NotifyCapture;
using qm::test::read_file;
using qm::test::TarBuilder;
using qm::test::TempDir;

namespace {

constexpr int64_t kOld = 1000000000, kNew = kOld + 100;
const char* const kNames[] = {"a.txt", "etc/dorva/b.txt", "c.txt"};
constexpr int kMembers = 3;

std::string old_text(int i) { return std::string(3000 + 100 * i, static_cast<char>('a' + i)); }
std::string new_text(int i) { return std::string(70000 + 100 * i, static_cast<char>('A' + i)); }

TarBuilder version(bool newer) {
    TarBuilder b;
    for (int i = 0; i < kMembers; ++i) b.file(kNames[i], newer ? new_text(i) : old_text(i), newer ? kNew : kOld);
    b.end();
    return b;
}

std::string package(const TempDir& t, const char* name, const TarBuilder& b) {
    qm::test::write_bytes(t / name, b.bytes());
    return (t / name).string();
}

// The expansion as an export makes it: the last error the script sees.
unsigned long expand_as_export(const std::string& package, const std::string& target) {
    return qm::test::last_error_of("ExpandPackage",
                                   [&] { qm::packages::ExpandPackage(package.c_str(), target.c_str()); });
}

bool temporary_files_left(const fs::path& dir) {
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.path().filename().string().find(".qm") != std::string::npos) return true;
    return false;
}

const char* op_name(Op op) {
    switch (op) {
        case Op::Create: return "Create";
        case Op::Write: return "Write";
        case Op::SetTime: return "SetTime";
        case Op::Rename: return "Rename";
        default: return "other";
    }
}

// With one thread the k-th create, write or time of the walk is member k's; with four,
// members are staged side by side and the failure lands on whichever member's step
// comes k-th: its message names it, and the promise is the same from there on. A full
// disk stays full once it is: with four, and with one once an update has met
// replacements (a window is then staged before any of it is named), a member that found
// no room beside others is written again alone, and must find none then either.
// The step that fails, the member (or copied file, in the search's order) it fails for,
// the threads, and the runtime error the step meets.
using StepFailure = std::tuple<Op, int, int, int>;

class FullDisk : public ::testing::TestWithParam<StepFailure> {
protected:
    void SetUp() override {
        qm::plat::set_env("QUILLMAR_THREADS", std::to_string(std::get<2>(GetParam())).c_str());
    }
    void TearDown() override {
        qm::plat::fault::disarm_all();
        qm::plat::set_env("QUILLMAR_THREADS", nullptr);
    }
    // stays_full: a full disk stays full for an update (whose window is written again
    // alone with one thread too).
    void arm(bool stays_full = false) const {
        const auto [op, armed, threads, error] = GetParam();
        qm::plat::fault::arm(op, armed, error,
                             threads == 1 && !(stays_full && error == qm::plat::kENOSPC) ? 1 : -1);
    }
    // What the export leaves as its last error: the failing step's code.
    unsigned long step_code() const { return qm::session::code_from_crt(std::get<3>(GetParam())); }
    // The member the one message names, checked against the one the fault was armed for
    // where a single thread makes that certain.
    int failed_member(const std::vector<std::string>& shown) const {
        const auto [op, armed, threads, error] = GetParam();
        const std::string rc = "\" failed. rc=" + std::to_string(error) + " " + qm::plat::error_text(error);
        int named = -1;
        for (int i = 0; i < kMembers && !shown.empty(); ++i)
            if (shown[0].find(std::string("\"") + kNames[i] + rc) != std::string::npos) named = i;
        EXPECT_NE(named, -1) << (shown.empty() ? "" : shown[0]);
        if (threads == 1 || op == Op::Rename) {
            EXPECT_EQ(named, armed) << shown[0];
        }
        return named;
    }
};
class FullDiskFresh : public FullDisk {};

// The older version installed into t/nms, which it returns; nothing shown.
std::string installed_older(const TempDir& t) {
    const std::string target = (t / "nms").string();
    fs::create_directories(target);
    NotifyCapture quiet;
    qm::packages::ExpandPackage(package(t, "v1.pkg", version(false)).c_str(), target.c_str());
    EXPECT_TRUE(quiet.shown().empty());
    return target;
}

TEST_P(FullDisk, UpdateKeepsEveryInstalledFileWholeAndStops) {
    TempDir t(false);
    const std::string target = installed_older(t);
    NotifyCapture cap;

    arm(true);
    const unsigned long code = expand_as_export(package(t, "v2.pkg", version(true)), target);
    qm::plat::fault::disarm_all();

    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(code, step_code()) << "the failing member's code";
    const int failing = failed_member(cap.shown());
    for (int i = 0; i < kMembers; ++i) {
        const fs::path f = t / "nms" / kNames[i];
        if (i < failing) {
            EXPECT_EQ(read_file(f), new_text(i)) << kNames[i] << " was replaced whole before the failure";
            EXPECT_EQ(qm::test::get_mtime(f), kNew) << kNames[i];
        } else {
            EXPECT_EQ(read_file(f), old_text(i)) << kNames[i] << " is kept whole";
            EXPECT_EQ(qm::test::get_mtime(f), kOld) << kNames[i];
        }
    }
    EXPECT_FALSE(temporary_files_left(t.path()));
}

// A file that did not exist is staged without a name and given one only when complete:
// a member the disk stopped leaves nothing at its name.
TEST_P(FullDiskFresh, InstallLeavesNoHalfWrittenFile) {
    TempDir t(false);
    const std::string target = (t / "nms").string();
    fs::create_directories(target);
    NotifyCapture cap;
    arm();
    const unsigned long code = expand_as_export(package(t, "v2.pkg", version(true)), target);
    qm::plat::fault::disarm_all();
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(code, step_code()) << "the failing member's code";
    const int failing = failed_member(cap.shown());
    for (int i = 0; i < kMembers; ++i) {
        const fs::path f = t / "nms" / kNames[i];
        if (i < failing)
            EXPECT_EQ(read_file(f), new_text(i)) << kNames[i];
        else
            EXPECT_FALSE(fs::exists(f)) << kNames[i] << " must not be left half-made";
    }
    EXPECT_FALSE(temporary_files_left(t.path()));
}

// The guarded copy of the new versions over the old ones, failing at the same step of
// one file: that file stays as it was, the copy goes on with the others, and the call's
// last error is the failing step's code (a full disk's 112, never what a later call left).
TEST_P(FullDisk, CopyKeepsTheFileItCouldNotReplaceAndLeavesTheStepsCode) {
    const auto [op, armed, threads, error] = GetParam();
    TempDir t(false);
    for (int i = 0; i < kMembers; ++i) {
        qm::test::write_file(t / "new" / std::to_string(i), new_text(i).substr(0, 9000));
        qm::test::write_file(t / "old" / std::to_string(i), old_text(i));
        qm::test::set_mtime(t / "new" / std::to_string(i), kNew);
        qm::test::set_mtime(t / "old" / std::to_string(i), kOld);
    }
    arm();
    const unsigned long code = qm::test::last_error_of("MyCopyFiles", [&] {
        qm::fileutil::MyCopyFiles((t / "new").string().c_str(), (t / "old").string().c_str(), "*");
    });
    qm::plat::fault::disarm_all();
    EXPECT_EQ(code, step_code());
    int kept = 0;
    for (int i = 0; i < kMembers; ++i) {
        const std::string now = read_file(t / "old" / std::to_string(i));
        kept += now == old_text(i);
        if (now != old_text(i)) {
            EXPECT_EQ(now, new_text(i).substr(0, 9000)) << i << ": whole in one version or the other";
        }
    }
    EXPECT_GE(kept, 1);
    if (threads == 1) {
        EXPECT_EQ(kept, 1) << "the one copy whose step failed";
    }
    EXPECT_FALSE(temporary_files_left(t.path()));
}

std::string case_name(const ::testing::TestParamInfo<StepFailure>& i) {
    return std::string(op_name(std::get<0>(i.param))) + "AtMember" + std::to_string(std::get<1>(i.param)) + "With" +
           std::to_string(std::get<2>(i.param)) + "ThreadsError" + std::to_string(std::get<3>(i.param));
}

using qm::plat::kEACCES;
using qm::plat::kEMFILE;
using qm::plat::kENOSPC;
using qm::plat::kEPERM;
using qm::plat::kEROFS;

INSTANTIATE_TEST_SUITE_P(EachStepAndMember, FullDisk,
                         ::testing::Combine(::testing::Values(Op::Create, Op::Write, Op::SetTime, Op::Rename),
                                            ::testing::Range(0, kMembers), ::testing::Values(1, 4),
                                            ::testing::Values(kENOSPC)),
                         case_name);
// Each step failing in its own way leaves its own code: 4 too many open files, 5 no
// right, 19 a write-protected volume.
INSTANTIATE_TEST_SUITE_P(EachStepItsOwnCode, FullDisk,
                         ::testing::Values(StepFailure{Op::Create, 1, 1, kEMFILE}, StepFailure{Op::Write, 1, 1, kEACCES},
                                           StepFailure{Op::SetTime, 1, 1, kEPERM}, StepFailure{Op::Rename, 1, 1, kEROFS},
                                           StepFailure{Op::Create, 1, 4, kEMFILE}, StepFailure{Op::Rename, 1, 4, kEROFS}),
                         case_name);
INSTANTIATE_TEST_SUITE_P(EachStepAndMember, FullDiskFresh,
                         ::testing::Combine(::testing::Values(Op::Create, Op::Write, Op::SetTime),
                                            ::testing::Range(0, kMembers), ::testing::Values(1, 4),
                                            ::testing::Values(kENOSPC)),
                         case_name);

// Room that ran out only while members were staged side by side (their files took it),
// at staging or as the member took its name, is looked for again alone: that member and
// every one after it are written, nothing shown, no failure left as the last error. The
// same rule holds for the guarded copy's files.
// The members' directories are there, so that every one of them is staged beside others.
TEST(FullDiskBesideOthers, TheMemberIsWrittenAgainAlone) {
    for (const Op op : {Op::Create, Op::Write, Op::SetTime, Op::Rename}) {
        for (const bool copy : {false, true}) {
            const std::string what = std::string(op_name(op)) + (copy ? " copy" : " expansion");
            TempDir t(false);
            const std::string target = (t / "nms").string();
            fs::create_directories(t / "nms/etc/dorva");
            for (int i = 0; copy && i < kMembers; ++i) qm::test::write_file(t / "new" / std::to_string(i), new_text(i));
            const std::string pkg = copy ? "" : package(t, "v2.pkg", version(true));
            NotifyCapture cap;
            qm::plat::set_env("QUILLMAR_THREADS", "4");
            qm::plat::fault::arm(op, 1, qm::plat::kENOSPC);
            const unsigned long code =
                copy ? qm::test::last_error_of("MyCopyFiles",
                                               [&] {
                                                   qm::fileutil::MyCopyFiles((t / "new").string().c_str(),
                                                                             target.c_str(), "*");
                                               })
                     : expand_as_export(pkg, target);
            qm::plat::fault::disarm_all();
            qm::plat::set_env("QUILLMAR_THREADS", nullptr);
            EXPECT_EQ(code, 0u) << what;
            EXPECT_TRUE(cap.shown().empty()) << what << ": " << (cap.shown().empty() ? "" : cap.shown()[0]);
            for (int i = 0; i < kMembers; ++i)
                EXPECT_EQ(read_file(t / "nms" / (copy ? std::to_string(i) : kNames[i])), new_text(i)) << what;
            EXPECT_FALSE(temporary_files_left(t.path())) << what;
        }
    }
}

// A refused flush is the failure of the member whose rename waited for it: it and every
// later file stay old, nothing is left. A batch's failed sync (POSIX) makes each file
// flush itself; a whole package's one flush refused changes nothing.
struct FlushCase {
    const char* what;
    int times;  // flushes refused; -1: all
    const char* threads;
    bool whole, fails;
};
const FlushCase kFlushCases[] = {
    {"every flush refused", -1, "1", false, true}, {"every flush refused, four threads", -1, "4", false, true},
    {"a whole package's one flush refused", 1, "1", true, true},
    {"a whole package, every flush refused, four threads", -1, "4", true, true},
#ifdef _WIN32
    {"one flush refused: the first file's own", 1, "1", false, true},
#else
    {"the batch's sync refused once", 1, "1", false, false}, {"the same, four threads", 1, "4", false, false},
#endif
};

class FailedFlush : public ::testing::TestWithParam<FlushCase> {
protected:
    void TearDown() override {
        qm::plat::fault::disarm_all();
        qm::plat::set_env("QUILLMAR_THREADS", nullptr);
    }
};

TEST_P(FailedFlush, IsTheFailureOfTheMemberWhoseRenameWaitedForIt) {
    const FlushCase& k = GetParam();
    TempDir t(false);
    const std::string target = installed_older(t);
    NotifyCapture cap;
    qm::plat::set_env("QUILLMAR_THREADS", k.threads);
    const std::string v2 = package(t, "v2.pkg", version(true));
    qm::plat::fault::arm(Op::Flush, 0, qm::plat::kEIO, k.times);
    const unsigned long code = qm::test::last_error_of("ExpandPackage", [&] {
        qm::packages::ExpandPackageObserved(v2.c_str(), target.c_str(), nullptr, nullptr, k.whole);
    });
    qm::plat::fault::disarm_all();
    const std::string shown = k.fails ? std::string("ERROR:write file:\"a.txt\" failed. rc=5 ") +
                                            qm::plat::error_text(qm::plat::kEIO) + "\n"
                                      : "";
    EXPECT_EQ(cap.shown(), k.fails ? std::vector<std::string>{shown} : std::vector<std::string>{}) << k.what;
    EXPECT_EQ(code, k.fails ? qm::session::code_from_crt(qm::plat::kEIO) : 0u) << k.what;
    for (int i = 0; i < kMembers; ++i) {
        const fs::path f = t / "nms" / kNames[i];
        EXPECT_EQ(read_file(f), k.fails ? old_text(i) : new_text(i)) << k.what << ": " << kNames[i];
        EXPECT_EQ(qm::test::get_mtime(f), k.fails ? kOld : kNew) << k.what << ": " << kNames[i];
    }
    EXPECT_FALSE(temporary_files_left(t.path())) << k.what;
}

INSTANTIATE_TEST_SUITE_P(Flushes, FailedFlush, ::testing::ValuesIn(kFlushCases));

#ifndef _WIN32
// Runs the expansion of package into target in a child that is killed at step n; the
// number of steps the child took, or -1 when it was not killed.
int expand_in_child(const std::string& package, const std::string& target, int n) {
    return qm::test::ended_at_step(n, [&] { qm::packages::ExpandPackage(package.c_str(), target.c_str()); }) ? n : -1;
}

// An update ended at each of its steps: v1 installed, then v2 killed at step n. Each row
// names the files of v2 and whether v1 had them (replaced) or not (added).
struct KillCase {
    const char* what;
    std::vector<std::pair<std::string, bool>> files;
    const char* threads;
    int at_least;  // steps to end at
};

TarBuilder interrupted_update(const KillCase& k, bool newer) {
    TarBuilder b;
    for (size_t i = 0; i < k.files.size(); ++i)
        if (newer || k.files[i].second)
            b.file(k.files[i].first, newer ? new_text(static_cast<int>(i)) : old_text(static_cast<int>(i)),
                   newer ? kNew : kOld);
    return b.end();
}

// Each file is whole: its old version with its old time, its new one with the new time,
// or (a file the update adds) not there.
void expect_each_whole(const KillCase& k, const fs::path& root, const std::string& when) {
    for (size_t i = 0; i < k.files.size(); ++i) {
        const auto& [name, installed] = k.files[i];
        const fs::path f = root / name;
        if (!fs::exists(f)) {
            EXPECT_FALSE(installed) << name << " " << when;
            continue;
        }
        const bool is_new = qm::test::get_mtime(f) == kNew;
        const int n = static_cast<int>(i);
        EXPECT_EQ(read_file(f), is_new ? new_text(n) : old_text(n)) << name << " " << when;
        if (!is_new) {
            EXPECT_EQ(qm::test::get_mtime(f), kOld) << name << " " << when;
        }
    }
}

class Interrupted : public ::testing::TestWithParam<KillCase> {
protected:
    void TearDown() override { qm::plat::set_env("QUILLMAR_THREADS", nullptr); }
};

TEST_P(Interrupted, AtEveryStepTheNextExpansionFindsEveryFileWholeAndNoTemporary) {
    const KillCase& k = GetParam();
    TempDir t(false);
    const std::string v1 = package(t, "v1.pkg", interrupted_update(k, false));
    const std::string v2 = package(t, "v2.pkg", interrupted_update(k, true));
    qm::plat::set_env("QUILLMAR_THREADS", k.threads);
    int points = 0;
    for (int n = 1;; ++n) {
        const fs::path target = t / ("nms" + std::to_string(n));
        fs::create_directories(target);
        NotifyCapture cap;
        qm::packages::ExpandPackage(v1.c_str(), target.string().c_str());
        if (expand_in_child(v2, target.string(), n) < 0) break;  // the update ran to its end
        ++points;
        expect_each_whole(k, target, "after a kill at step " + std::to_string(n));
        qm::packages::ExpandPackage(v2.c_str(), target.string().c_str());
        EXPECT_TRUE(cap.shown().empty()) << "step " << n;
        for (size_t i = 0; i < k.files.size(); ++i) {
            const fs::path f = target / k.files[i].first;
            EXPECT_EQ(read_file(f), new_text(static_cast<int>(i))) << f << " step " << n;
            EXPECT_EQ(qm::test::get_mtime(f), kNew) << f << " step " << n;
        }
        EXPECT_FALSE(temporary_files_left(target)) << "step " << n;
    }
    EXPECT_GE(points, k.at_least) << k.what << ": every step was a point to end at";
}

const std::vector<std::pair<std::string, bool>> kEveryFileInstalled = {
    {"a.txt", true}, {"c.txt", true}, {"e.txt", true}, {"etc/dorva/b.txt", true}, {"etc/dorva/d.txt", true}};

INSTANTIATE_TEST_SUITE_P(
    Updates, Interrupted,
    ::testing::Values(
        KillCase{"two replaced, one added beside them, one in a new directory",
                 {{"a.txt", true}, {"etc/dorva/b.txt", true}, {"new.txt", false}, {"etc/added/deep/d.txt", false}},
                 "1", 12},
        KillCase{"every file replaced, one batch", kEveryFileInstalled, "1", 20},
        KillCase{"every file replaced, four threads", kEveryFileInstalled, "4", 20}),
    [](const ::testing::TestParamInfo<KillCase>& i) { return std::to_string(i.index); });

// Tells the parent, through the pipe in context, that the writing has begun.
void tell_once(Op op, void* context) {
    int& fd = *static_cast<int*>(context);
    if (op != Op::Write || fd < 0) return;
    (void)::write(fd, "w", 1);
    ::close(fd);
    fd = -1;
}

TEST(InterruptedByKill, KillNineMidwayThenAgain) {
    TempDir t(false);
    TarBuilder big;
    for (int i = 0; i < 400; ++i)
        big.file("m/" + std::to_string(i % 7) + "/f" + std::to_string(i), std::string(256 * 1024, 'x'), kNew);
    const std::string pkg = package(t, "big.pkg", big.end());
    const std::string target = (t / "nms").string();
    fs::create_directories(target);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(ready[0]);
        NotifyCapture quiet;
        int fd = ready[1];
        qm::plat::fault::set_hook(&tell_once, &fd);
        qm::packages::ExpandPackage(pkg.c_str(), target.c_str());
        ::_exit(0);
    }
    ::close(ready[1]);
    char r;
    ASSERT_EQ(::read(ready[0], &r, 1), 1);
    ::close(ready[0]);
    ::usleep(30 * 1000);
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    size_t seen = 0;
    for (const auto& e : fs::recursive_directory_iterator(target)) {
        if (!e.is_regular_file()) continue;
        ++seen;
        EXPECT_EQ(fs::file_size(e.path()), 256u * 1024) << e.path() << ": only whole files under their names";
        EXPECT_EQ(qm::test::get_mtime(e.path()), kNew) << e.path();
    }
    NotifyCapture cap;
    qm::packages::ExpandPackage(pkg.c_str(), target.c_str());
    EXPECT_TRUE(cap.shown().empty());
    size_t after = 0;
    for (const auto& e : fs::recursive_directory_iterator(target))
        if (e.is_regular_file()) {
            ++after;
            EXPECT_EQ(fs::file_size(e.path()), 256u * 1024) << e.path();
            EXPECT_EQ(qm::test::get_mtime(e.path()), kNew) << e.path();
        }
    EXPECT_EQ(after, 400u);
    EXPECT_FALSE(temporary_files_left(target));
    std::printf("killed with %zu of 400 files written (status %d)\n", seen, status);
}
#endif

}  // namespace
