// The gateway set-up against a product tree and a Windows directory of its own. The
// Windows build runs the same steps against the real Windows directory in the DLL tests
// (tests/win32/config_dll_test.cpp), which save and restore what is there.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "common/temp_dir.h"
#include "config/gateway.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/ini.h"

using qm::test::TempDir;
namespace fs = std::filesystem;

namespace {

const char kShipped[] =
    "; gateway settings\r\n[Gateway]\r\nPort=7071\r\n\r\n[SERVICES]\r\nCurrentService=9\r\n";

class Gateway : public ::testing::Test {
protected:
    void SetUp() override {
        const char* old = std::getenv("WINDIR");
        had_windir_ = old != nullptr;
        if (old) saved_windir_ = old;
        fs::create_directory(t_ / "windows");
        setenv("WINDIR", (t_ / "windows").c_str(), 1);
        root_ = (t_ / "prod").string();
        make_tree(root_);
    }
    void TearDown() override {
        if (had_windir_) setenv("WINDIR", saved_windir_.c_str(), 1);
        else unsetenv("WINDIR");
        qm::plat::fault::disarm_all();
    }

    static void make_tree(const std::string& root) {
        qm::test::write_file(fs::path(root) / "bin/rzgatewy.ini", kShipped);
        qm::test::write_file(fs::path(root) / "bin/rzgatewy.exe", "gateway");
        qm::test::write_file(fs::path(root) / "bin/txgatewy.exe", "tx variant");
        qm::test::write_file(fs::path(root) / "bin/mqgatewy.exe", "mq variant");
    }

    fs::path system_ini() const { return fs::path(std::getenv("WINDIR")) / "rzgatewy.ini"; }
    fs::path bin(const std::string& root, const char* name) const { return fs::path(root) / "bin" / name; }

    std::string ini(const char* section, const char* key) const {
        char buf[1024];
        qm::plat::ini_read(section, key, "<none>", buf, sizeof buf, system_ini().c_str());
        return buf;
    }

    TempDir t_;
    std::string root_;
    std::string saved_windir_;
    bool had_windir_ = false;
};

struct CodeCase {
    int code;
    const char* service;  // "<none>": the shipped value stays
    const char* gateway;  // content of rzgatewy.exe afterwards
};

class GatewayCodes : public Gateway, public ::testing::WithParamInterface<CodeCase> {};

TEST_P(GatewayCodes, MovesIniRecordsRootAndServiceAndPlacesVariant) {
    const CodeCase& c = GetParam();
    EXPECT_EQ(qm::config::ModifyGatewayFile(root_.c_str(), c.code), 1);
    EXPECT_FALSE(fs::exists(bin(root_, "rzgatewy.ini"))) << "the INI now lives only in the Windows directory";
    EXPECT_EQ(ini("Working Directory", "Dir"), root_);
    EXPECT_EQ(ini("SERVICES", "CurrentService"), c.service);
    EXPECT_EQ(ini("Gateway", "Port"), "7071");
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.exe")), c.gateway);
    EXPECT_EQ(qm::test::read_file(bin(root_, "txgatewy.exe")), "tx variant") << "variants are copied, not moved";
    EXPECT_EQ(qm::test::read_file(bin(root_, "mqgatewy.exe")), "mq variant");
}

INSTANTIATE_TEST_SUITE_P(Codes, GatewayCodes,
                         ::testing::Values(CodeCase{2048, "1", "tx variant"}, CodeCase{1024, "2", "mq variant"},
                                           CodeCase{4096, "0", "gateway"}, CodeCase{0, "9", "gateway"},
                                           CodeCase{8192, "9", "gateway"}, CodeCase{2048 | 1024, "9", "gateway"}),
                         [](const ::testing::TestParamInfo<CodeCase>& i) {
                             return "code" + std::to_string(i.param.code);
                         });

TEST_F(Gateway, ShippedLinesStayAndTheNewSectionFollows) {
    qm::config::ModifyGatewayFile(root_.c_str(), 2048);
    EXPECT_EQ(qm::test::read_file(system_ini()),
              "; gateway settings\r\n[Gateway]\r\nPort=7071\r\n\r\n[SERVICES]\r\nCurrentService=1\r\n"
              "[Working Directory]\r\nDir=" + root_ + "\r\n");
}

TEST_F(Gateway, NeitherIniPresentGivesWorkingDirectoryFirst) {
    fs::remove(bin(root_, "rzgatewy.ini"));
    qm::config::ModifyGatewayFile(root_.c_str(), 4096);
    EXPECT_EQ(qm::test::read_file(system_ini()),
              "[Working Directory]\r\nDir=" + root_ + "\r\n[SERVICES]\r\nCurrentService=0\r\n");
}

TEST_F(Gateway, OtherCodeWithoutAnyIniWritesOnlyTheDirectory) {
    fs::remove(bin(root_, "rzgatewy.ini"));
    qm::config::ModifyGatewayFile(root_.c_str(), 0);
    EXPECT_EQ(qm::test::read_file(system_ini()), "[Working Directory]\r\nDir=" + root_ + "\r\n");
}

TEST_F(Gateway, SecondCallWithAnotherCodeUpdatesInPlace) {
    qm::config::ModifyGatewayFile(root_.c_str(), 2048);
    EXPECT_EQ(qm::config::ModifyGatewayFile(root_.c_str(), 1024), 1);
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "2");
    EXPECT_EQ(ini("Gateway", "Port"), "7071");
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.exe")), "mq variant");
    qm::config::ModifyGatewayFile(root_.c_str(), 4096);
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "0");
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.exe")), "mq variant");
    const std::string text = qm::test::read_file(system_ini());
    EXPECT_EQ(text.find("[SERVICES]"), text.rfind("[SERVICES]")) << text;
}

TEST_F(Gateway, NewPackageIniReplacesTheSystemOne) {
    qm::test::write_file(system_ini(), "[SERVICES]\r\nCurrentService=5\r\nStale=yes\r\n");
    qm::config::ModifyGatewayFile(root_.c_str(), 0);
    EXPECT_EQ(ini("SERVICES", "Stale"), "<none>");
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "9");
}

TEST_F(Gateway, TrailingBackslashIsKept) {
    const std::string root = root_ + "\\";
    qm::config::ModifyGatewayFile(root.c_str(), 2048);
    EXPECT_EQ(ini("Working Directory", "Dir"), root);
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.exe")), "tx variant");
    EXPECT_FALSE(fs::exists(bin(root_, "rzgatewy.ini")));
}

TEST_F(Gateway, FailedCopyKeepsThePackageIni) {
    // A full disk while the copy is written: the package INI is the only copy left.
    qm::plat::fault::arm(qm::plat::fault::Op::Write, 0, qm::plat::kENOSPC);
    EXPECT_EQ(qm::config::ModifyGatewayFile(root_.c_str(), 2048), 1);
    qm::plat::fault::disarm_all();
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.ini")), kShipped);
    // The later steps ran all the same.
    EXPECT_EQ(ini("Working Directory", "Dir"), root_);
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "1");
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.exe")), "tx variant");
}

TEST_F(Gateway, ReadOnlySystemIniIsNotReplacedAndPackageIniStays) {
    qm::test::write_file(system_ini(), "[SERVICES]\r\nCurrentService=5\r\n");
    ::chmod(system_ini().c_str(), 0444);
    qm::config::ModifyGatewayFile(root_.c_str(), 2048);
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.ini")), kShipped);
    EXPECT_EQ(qm::test::read_file(system_ini()), "[SERVICES]\r\nCurrentService=5\r\n");
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.exe")), "tx variant");
}

TEST_F(Gateway, PackageIniInTheWindowsDirectoryIsNotLost) {
    // The product's bin directory is the Windows directory: a copy onto itself must not
    // be followed by the delete.
    setenv("WINDIR", bin(root_, "").c_str(), 1);
    qm::config::ModifyGatewayFile(root_.c_str(), 4096);
    EXPECT_EQ(ini("Gateway", "Port"), "7071") << "the shipped content is still there";
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "0");
}

TEST_F(Gateway, MissingVariantLeavesGatewayAndStillRecordsService) {
    fs::remove(bin(root_, "txgatewy.exe"));
    qm::config::ModifyGatewayFile(root_.c_str(), 2048);
    EXPECT_EQ(qm::test::read_file(bin(root_, "rzgatewy.exe")), "gateway");
    EXPECT_EQ(ini("SERVICES", "CurrentService"), "1");
}

// A root whose built paths take exactly 255 characters works; one more and no step uses
// a path that would have been cut short.
TEST_F(Gateway, PathsAtTheLimit) {
    for (size_t extra : {0u, 1u}) {
        const std::string base = (t_ / "r").string();
        const size_t want = 255 - std::string("\\bin\\rzgatewy.ini").size() + extra;
        ASSERT_LT(base.size() + 2, want);
        const std::string root = base + std::to_string(extra) + std::string(want - base.size() - 1, 'x');
        ASSERT_EQ(root.size(), want);
        make_tree(root);
        fs::remove(system_ini());
        qm::config::ModifyGatewayFile(root.c_str(), 2048);
        EXPECT_EQ(ini("Working Directory", "Dir"), root);
        if (extra == 0) {
            EXPECT_FALSE(fs::exists(bin(root, "rzgatewy.ini")));
            EXPECT_EQ(ini("Gateway", "Port"), "7071");
            EXPECT_EQ(qm::test::read_file(bin(root, "rzgatewy.exe")), "tx variant");
        } else {
            EXPECT_EQ(qm::test::read_file(bin(root, "rzgatewy.ini")), kShipped);
            EXPECT_EQ(ini("Gateway", "Port"), "<none>");
            EXPECT_EQ(qm::test::read_file(bin(root, "rzgatewy.exe")), "gateway");
        }
    }
}

}  // namespace

#endif  // _WIN32
