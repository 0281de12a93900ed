// The Tcl launcher: the three variables, the two command lines as a stand-in shell
// receives them, the launch results and the 1023-character limit. The stand-in is a shell
// script, so those tests run on POSIX; the DLL tests run a Windows stand-in under Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "common/launch_records.h"
#include "common/temp_dir.h"
#include "config/tcl_launcher.h"
#include "platform/sys.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

using qm::test::TempDir;
namespace fs = std::filesystem;

namespace {

const char* const kVars[] = {"NMSROOT", "TCL_LIBRARY", "TK_LIBRARY"};

// The process environment as programs started now inherit it.
std::string env(const char* name) {
#ifdef _WIN32
    char buf[32768];
    const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
    return n > 0 && n < sizeof buf ? std::string(buf, n) : "<unset>";
#else
    const char* v = std::getenv(name);
    return v ? v : "<unset>";
#endif
}

// Puts the three variables back as they were, whatever the launcher set.
class TclLauncher : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* v : kVars) saved_.push_back(env(v));
    }
    void TearDown() override {
        for (size_t i = 0; i < saved_.size(); ++i)
            qm::plat::set_env(kVars[i], saved_[i] == "<unset>" ? nullptr : saved_[i].c_str());
    }
    std::vector<std::string> saved_;
};

// Values and command lines are built in 1024 bytes: a root of 1023 characters still
// makes NMSROOT, one of 1024 does not; the command lines (twice the root and 38
// characters) fit up to a root of 492. Nothing cut short is ever set or started.
TEST_F(TclLauncher, LimitOfValuesAndCommandLines) {
    for (const char* v : kVars) qm::plat::set_env(v, "before");
    const std::string base = "Z:\\qm-no-such-root-";
    auto root_of = [&](size_t n) { return base + std::string(n - base.size(), 'r'); };

    EXPECT_EQ(qm::config::CreateTopTcl(root_of(1024).c_str()), 0) << "not started";
    EXPECT_EQ(env("NMSROOT"), "before");
    EXPECT_EQ(env("TCL_LIBRARY"), "before");

    EXPECT_EQ(qm::config::CreateTopTcl(root_of(1023).c_str()), 0);
    EXPECT_EQ(env("NMSROOT"), root_of(1023));
    EXPECT_EQ(env("TCL_LIBRARY"), "before");

    EXPECT_EQ(qm::config::CreateTopTcl(root_of(1011).c_str()), 0);
    EXPECT_EQ(env("TCL_LIBRARY"), root_of(1011) + "\\lib\\tcl7.5");
    EXPECT_EQ(env("TK_LIBRARY"), root_of(1011) + "\\lib\\tk4.1");

    EXPECT_EQ(qm::config::CreateTopTcl(root_of(493).c_str()), 0) << "command line of 1024";
    const int r = qm::config::CreateTopTcl(root_of(492).c_str());
    EXPECT_NE(r, 0) << "command line of 1022 is started and fails to find its program";
    EXPECT_LE(r, 31);
}

#ifndef _WIN32

// Records what it received: every argument after the program, then the three variables.
const char kStandIn[] =
    "#!/bin/sh\n"
    "f=\"$(dirname \"$0\")/record-$$\"\n"
    "printf '%s\\n' \"$@\" \"NMSROOT=$NMSROOT\" \"TCL_LIBRARY=$TCL_LIBRARY\" \"TK_LIBRARY=$TK_LIBRARY\""
    " > \"$f.tmp\" && mv \"$f.tmp\" \"$f.txt\"\n";

void install_shell(const fs::path& root) {
    qm::test::write_file(root / "bin/wish.exe", kStandIn);
    ::chmod((root / "bin/wish.exe").c_str(), 0755);
    fs::create_directories(root / "etc/dorva");
}

std::string record(const std::string& args, const std::string& root) {
    return args + qm::test::tcl_variables(root);
}

TEST_F(TclLauncher, StartsBothScriptsWithTheEnvironment) {
    TempDir t;
    const std::string root = (t / "prod").string();
    install_shell(root);
    const int r = qm::config::CreateTopTcl(root.c_str());
    EXPECT_GT(r, 31);
    EXPECT_EQ(env("NMSROOT"), root);
    EXPECT_EQ(env("TCL_LIBRARY"), root + "\\lib\\tcl7.5");
    EXPECT_EQ(env("TK_LIBRARY"), root + "\\lib\\tk4.1");
    const auto got = qm::test::launch_records(t / "prod/bin");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], record(root + "/etc/dorva/createtop.tcl\n", root));
    EXPECT_EQ(got[1], record(root + "/etc/dorva/createcnt.tcl\n", root));
}

TEST_F(TclLauncher, RootWithABlankIsSplitButTheShellIsFound) {
    TempDir t;
    const std::string root = (t / "my prod").string();
    install_shell(root);
    EXPECT_GT(qm::config::CreateTopTcl(root.c_str()), 31);
    const auto got = qm::test::launch_records(t / "my prod/bin");
    ASSERT_EQ(got.size(), 2u);
    // The program's own first word ("<tmp>/my") is not among the recorded arguments.
    const std::string tmp = t.str();
    EXPECT_EQ(got[0], record("prod/bin/wish.exe\n" + tmp + "/my\nprod/etc/dorva/createtop.tcl\n", root));
}

TEST_F(TclLauncher, TrailingBackslashDoublesInEveryValue) {
    TempDir t;
    const std::string root = (t / "prod").string() + "\\";
    install_shell(t / "prod");
    EXPECT_GT(qm::config::CreateTopTcl(root.c_str()), 31);
    EXPECT_EQ(env("NMSROOT"), root);
    EXPECT_EQ(env("TCL_LIBRARY"), root + "\\lib\\tcl7.5");
    const auto got = qm::test::launch_records(t / "prod/bin");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], record(t.str() + "/prod//etc/dorva/createcnt.tcl\n", root));
}

struct FailCase {
    const char* what;
    const char* shell;  // content of bin/wish.exe, null: none; bin/ missing when "nobin"
    int mode;
    int expected;
};

class TclLaunchFailure : public TclLauncher, public ::testing::WithParamInterface<FailCase> {};

TEST_P(TclLaunchFailure, GivesThePlatformCode) {
    const FailCase& c = GetParam();
    TempDir t;
    const fs::path root = t / "prod";
    if (std::string(c.what) != "no bin directory") fs::create_directories(root / "bin");
    if (c.shell) {
        qm::test::write_file(root / "bin/wish.exe", c.shell);
        ::chmod((root / "bin/wish.exe").c_str(), static_cast<mode_t>(c.mode));
    }
    EXPECT_EQ(qm::config::CreateTopTcl(root.string().c_str()), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, TclLaunchFailure,
    ::testing::Values(FailCase{"missing shell", nullptr, 0, 2}, FailCase{"no bin directory", nullptr, 0, 3},
                      FailCase{"not executable", "#!/bin/sh\n", 0644, 11},
                      FailCase{"not a program", "\x7f" "ELF garbage", 0755, 11}),
    [](const ::testing::TestParamInfo<FailCase>& i) { return "case" + std::to_string(i.index); });

#endif  // _WIN32

}  // namespace
