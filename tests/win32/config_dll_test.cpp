// The configuration exports through the real DLL: the entry probes over INI files the
// test writes, the gateway set-up against a product tree in a temporary folder and the
// prefix's own Windows directory (its INI read back with the platform's own read), and
// the Tcl launcher starting a stand-in shell that records what it was given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/launch_records.h"
#include "common/temp_dir.h"
#include "win32/config_guards.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::TempDir;
namespace fs = std::filesystem;

namespace {

auto icon_probe() { return exports().GetLastIconEntry; }
auto dis_probe() { return exports().GetLastDisEntry; }
auto gateway() { return exports().ModifyGatewayFile; }
auto tcl() { return exports().CreateTopTcl; }

std::string profile(const std::string& file, const char* section, const char* key) {
    char buf[1024];
    GetPrivateProfileStringA(section, key, "<none>", buf, sizeof buf, file.c_str());
    return buf;
}

// ---- Entry probes

struct ProbeCase {
    const char* program_section;
    int ico;
    int dis;
};

class ProbesDll : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(ProbesDll, FirstFreeNumberOfEachSeries) {
    ASSERT_NE(icon_probe(), nullptr);
    ASSERT_NE(dis_probe(), nullptr);
    const ProbeCase& c = GetParam();
    TempDir t;
    qm::test::write_file(t / "group.ini", std::string("[program]\r\n") + c.program_section);
    const std::string path = (t / "group.ini").string();
    EXPECT_EQ(icon_probe()(path.c_str()), c.ico) << c.program_section;
    EXPECT_EQ(dis_probe()(path.c_str()), c.dis) << c.program_section;
}

INSTANTIATE_TEST_SUITE_P(Series, ProbesDll,
                         ::testing::Values(ProbeCase{"", 1, 1}, ProbeCase{"ico1=a\r\nico2=b\r\nico3=c\r\n", 4, 1},
                                           ProbeCase{"ico1=a\r\nico2=\r\nico3=c\r\n", 2, 1},
                                           ProbeCase{"ico1=a\r\nico3=c\r\ndis1=x\r\n", 2, 2},
                                           ProbeCase{"ico1=0123456789abcdef\r\n", 2, 1}));

TEST(ProbesDllFile, MissingFileGivesOneAndFullSeriesGivesThousand) {
    ASSERT_NE(icon_probe(), nullptr);
    TempDir t;
    EXPECT_EQ(icon_probe()((t / "absent.ini").string().c_str()), 1);
    std::string all = "[program]\r\n";
    for (int n = 1; n <= 999; ++n) all += "dis" + std::to_string(n) + "=d\r\n";
    qm::test::write_file(t / "all.ini", all);
    EXPECT_EQ(dis_probe()((t / "all.ini").string().c_str()), 1000);
    EXPECT_EQ(icon_probe()((t / "all.ini").string().c_str()), 1);
}

// ---- Gateway configuration

const char kShipped[] =
    "; gateway settings\r\n[Gateway]\r\nPort=7071\r\n\r\n[SERVICES]\r\nCurrentService=9\r\n";

class GatewayDll : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(gateway(), nullptr);
        root_ = (t_ / "prod").string();
        qm::test::write_file(bin("rzgatewy.ini"), kShipped);
        qm::test::write_file(bin("rzgatewy.exe"), "gateway");
        qm::test::write_file(bin("txgatewy.exe"), "tx variant");
        qm::test::write_file(bin("mqgatewy.exe"), "mq variant");
    }
    fs::path bin(const char* name) const { return fs::path(root_) / "bin" / name; }
    std::string ini(const char* section, const char* key) const { return profile(backup_.path(), section, key); }

    TempDir t_;
    SystemIniBackup backup_;
    std::string root_;
};

struct CodeCase {
    int code;
    const char* service;
    const char* gateway;
};

class GatewayDllCodes : public GatewayDll, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(GatewayDllCodes, MovesIniRecordsRootAndPlacesVariant) {
    const CodeCase& c = GetParam();
    EXPECT_EQ(gateway()(root_.c_str(), c.code), 1);
    EXPECT_FALSE(fs::exists(bin("rzgatewy.ini")));
    EXPECT_EQ(ini("Working Directory", "Dir"), root_);
    EXPECT_EQ(ini("SERVICES", "CurrentService"), c.service);
    EXPECT_EQ(ini("Gateway", "Port"), "7071");
    EXPECT_EQ(qm::test::read_file(bin("rzgatewy.exe")), c.gateway);
    EXPECT_EQ(qm::test::read_file(bin("txgatewy.exe")), "tx variant");
    EXPECT_EQ(qm::test::read_file(bin("mqgatewy.exe")), "mq variant");
}

INSTANTIATE_TEST_SUITE_P(Codes, GatewayDllCodes,
                         ::testing::Values(CodeCase{2048, "1", "tx variant"}, CodeCase{1024, "2", "mq variant"},
                                           CodeCase{4096, "0", "gateway"}, CodeCase{0, "9", "gateway"},
                                           CodeCase{8192, "9", "gateway"}),
                         [](const ::testing::TestParamInfo<CodeCase>& i) {
                             return "code" + std::to_string(i.param.code);
                         });

TEST_F(GatewayDll, NeitherIniPresentGivesWorkingDirectoryFirst) {
    fs::remove(bin("rzgatewy.ini"));
    gateway()(root_.c_str(), 1024);
    EXPECT_EQ(ini("Working Directory", "Dir"), root_);
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "2");
    const std::string text = qm::test::read_file(backup_.path());
    const size_t wd = text.find("[Working Directory]"), sv = text.find("[SERVICES]");
    ASSERT_NE(wd, std::string::npos) << text;
    ASSERT_NE(sv, std::string::npos) << text;
    EXPECT_LT(wd, sv) << text;
}

TEST_F(GatewayDll, SecondCallWithAnotherCodeUpdatesInPlace) {
    gateway()(root_.c_str(), 2048);
    EXPECT_EQ(gateway()(root_.c_str(), 1024), 1);
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "2");
    EXPECT_EQ(ini("Gateway", "Port"), "7071");
    EXPECT_EQ(qm::test::read_file(bin("rzgatewy.exe")), "mq variant");
    gateway()(root_.c_str(), 4096);
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "0");
    EXPECT_EQ(qm::test::read_file(bin("rzgatewy.exe")), "mq variant");
}

TEST_F(GatewayDll, TrailingBackslashIsKept) {
    const std::string root = root_ + "\\";
    gateway()(root.c_str(), 2048);
    EXPECT_EQ(ini("Working Directory", "Dir"), root);
    EXPECT_EQ(qm::test::read_file(bin("rzgatewy.exe")), "tx variant");
    EXPECT_FALSE(fs::exists(bin("rzgatewy.ini")));
}

TEST_F(GatewayDll, FailedCopyKeepsThePackageIni) {
    // The system INI held open without sharing: the copy onto it fails, and the package
    // INI must then stay, being the only copy.
    qm::test::write_file(backup_.path(), "[SERVICES]\r\nCurrentService=5\r\n");
    HANDLE lock = CreateFileA(backup_.path().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_EQ(gateway()(root_.c_str(), 2048), 1);
    CloseHandle(lock);
    EXPECT_EQ(qm::test::read_file(bin("rzgatewy.ini")), kShipped);
    EXPECT_EQ(qm::test::read_file(bin("rzgatewy.exe")), "tx variant") << "later steps ran all the same";
}

// ---- Tcl launcher

class TclDll : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(tcl(), nullptr); }

    // A product root whose bin holds the stand-in shell (built beside the test program).
    static void install_shell(const fs::path& root) {
        fs::create_directories(root / "bin");
        const fs::path fake = fs::path(dll_path()).parent_path() / "fake_wish.exe";
        ASSERT_TRUE(CopyFileA(fake.string().c_str(), (root / "bin/wish.exe").string().c_str(), FALSE))
            << fake.string();
    }

    // A record as the stand-in writes it: its command line, then the variables.
    static std::string expected(const std::string& root, const char* script) {
        return root + "\\bin\\wish.exe " + root + "\\etc\\dorva\\" + script + " \n" +
               qm::test::tcl_variables(root);
    }

    TclEnvironmentBackup env_;
};

TEST_F(TclDll, StartsBothScriptsWithTheEnvironment) {
    TempDir t;
    const std::string root = (t / "prod").string();
    install_shell(root);
    EXPECT_GT(tcl()(root.c_str()), 31);
    const auto got = qm::test::launch_records(t / "prod/bin");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], expected(root, "createtop.tcl"));
    EXPECT_EQ(got[1], expected(root, "createcnt.tcl"));
    char buf[MAX_PATH];
    ASSERT_GT(GetEnvironmentVariableA("TCL_LIBRARY", buf, sizeof buf), 0u);
    EXPECT_EQ(std::string(buf), root + "\\lib\\tcl7.5") << "the variables stay set for later programs";
}

TEST_F(TclDll, TrailingBackslashDoublesInEveryPath) {
    TempDir t;
    const std::string root = (t / "prod").string() + "\\";
    install_shell(t / "prod");
    EXPECT_GT(tcl()(root.c_str()), 31);
    const auto got = qm::test::launch_records(t / "prod/bin");
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[1], expected(root, "createcnt.tcl"));
}

TEST_F(TclDll, RootWithABlankIsNotQuoted) {
    TempDir t;
    const std::string root = (t / "my prod").string();
    install_shell(root);
    EXPECT_GT(tcl()(root.c_str()), 31) << "the platform finds the program word by word";
    const auto got = qm::test::launch_records(t / "my prod/bin");
    ASSERT_EQ(got.size(), 2u);
    const std::string script = " " + root + "\\etc\\dorva\\createtop.tcl \n";
    EXPECT_NE(got[0].find(script), std::string::npos) << got[0];
}

TEST_F(TclDll, MissingShellGivesFileNotFound) {
    TempDir t;
    fs::create_directories(t / "prod/bin");
    EXPECT_EQ(tcl()((t / "prod").string().c_str()), 2);
}

}  // namespace
