// The package checker: each finding from a package that carries it, and none from a
// clean one; the predicted action agrees with what the expansion really does.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <filesystem>
#include <string>

#include "common/capture.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "packages/check.h"
#include "packages/expand.h"

using namespace qm::packages;
using qm::test::Member;
using qm::test::TarBuilder;
using qm::test::TempDir;
namespace fs = std::filesystem;

namespace {

TarBuilder clean_router() {
    TarBuilder b;
    b.dir("etc/").dir("etc/dorva/").dir("etc/dorva/devices/")
        .file("etc/dorva/devices/router.mfs", "manifest").file("etc/dorva/router/r.tcl", "puts r");
    return b;
}

CheckReport check(TempDir& t, const TarBuilder& b, const std::string& name = "router.pkg") {
    qm::test::write_bytes(t / name, b.bytes());
    return CheckPackage((t / name).string().c_str());
}

bool has_finding(const CheckReport& r, const std::string& part) {
    return std::any_of(r.findings.begin(), r.findings.end(),
                       [&](const std::string& f) { return f.find(part) != std::string::npos; });
}

std::string all(const CheckReport& r) {
    std::string s;
    for (const auto& f : r.findings) s += f + "\n";
    return s;
}

TEST(Check, CleanPackageHasNoFindings) {
    TempDir t;
    TarBuilder b = clean_router();
    b.end();
    const CheckReport r = check(t, b);
    ASSERT_TRUE(r.readable);
    EXPECT_TRUE(r.findings.empty()) << all(r);
    EXPECT_EQ(r.manifest_member, "etc/dorva/devices/router.mfs");
    ASSERT_EQ(r.members.size(), 5u);
    EXPECT_EQ(r.members[0].action, MemberAction::Directory);
    EXPECT_EQ(r.members[4].action, MemberAction::Write);
    EXPECT_EQ(r.members[4].offset, 5 * 512);  // three directories, the manifest and its data
}

struct FindingCase {
    const char* what;
    std::function<void(TarBuilder&)> build;
    const char* finding;
};

class Findings : public ::testing::TestWithParam<FindingCase> {};

TEST_P(Findings, AreReported) {
    const FindingCase& k = GetParam();
    TempDir t;
    TarBuilder b = clean_router();
    k.build(b);
    const CheckReport r = check(t, b);
    ASSERT_TRUE(r.readable) << k.what;
    EXPECT_TRUE(has_finding(r, k.finding)) << k.what << "\n" << all(r);
}

Member typed(const char* name, char type, const char* data = "x") {
    Member m;
    m.name = name;
    m.type = type;
    m.data = data;
    return m;
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Findings,
    ::testing::Values(
        FindingCase{"long-name member", [](TarBuilder& b) { b.add(typed("././@LongLink", 'L')).end(); },
                    "long file name detected"},
        FindingCase{"refused type", [](TarBuilder& b) { b.add(typed("link", '2')).end(); },
                    "has a type this library refuses ('2')"},
        FindingCase{"100-character name",
                    [](TarBuilder& b) { b.file("etc/" + std::string(96, 'n'), "x").end(); },
                    "fills all 100 bytes"},
        FindingCase{"unsafe name", [](TarBuilder& b) { b.file("../evil", "x").end(); },
                    "unsafe name (parent directory)"},
        FindingCase{"checksum failure",
                    [](TarBuilder& b) {
                        Member m = typed("bad", '0');
                        m.checksum_delta = 5;
                        b.add(m).end();
                    },
                    "checksum mismatch, name \"bad\""},
        FindingCase{"truncated member",
                    [](TarBuilder& b) {
                        Member m = typed("cut", '0', "");
                        m.data = std::string(5000, 'c');
                        m.omit_data = true;
                        b.add(m);
                    },
                    "is cut short"},
        FindingCase{"oversized member",
                    [](TarBuilder& b) {
                        Member m = typed("huge", '0');
                        m.size_field = "77777777777";
                        b.add(m).end();
                    },
                    "has an invalid size"},
        FindingCase{"member behind a blank block",
                    [](TarBuilder& b) {
                        b.raw(std::vector<unsigned char>(512, 0)).file("hidden", "h").end();
                    },
                    "never installed, the first \"hidden\""},
        FindingCase{"one-slash name without its directory",
                    [](TarBuilder& b) { b.file("lib/x.dll", "x").end(); },
                    "needs the directory \"lib\""},
        FindingCase{"duplicate name", [](TarBuilder& b) { b.file("etc/dorva/router/r.tcl", "again").end(); },
                    "appears more than once"}));

TEST(Check, ManifestFindings) {
    struct Case {
        const char* what;
        std::vector<std::string> names;
        const char* finding;
    } cases[] = {
        {"no manifest", {"etc/a.txt"}, "no manifest: no member name contains \"router.mfs\""},
        {"not the first match", {"etc/dorva/devices/xrouter.mfs.old", "etc/dorva/devices/router.mfs"},
         "the first member matching \"router.mfs\" is \"etc/dorva/devices/xrouter.mfs.old\""},
        {"outside the devices directory", {"router.mfs"}, "is not under etc/dorva/devices/"},
        {"upper case", {"etc/dorva/devices/ROUTER.MFS"}, "under its lower-case name \"etc/dorva/devices/router.mfs\""},
    };
    for (const Case& k : cases) {
        TempDir t;
        TarBuilder b;
        b.dir("etc/").dir("etc/dorva/").dir("etc/dorva/devices/");
        for (const auto& n : k.names) b.file(n, "m");
        b.end();
        const CheckReport r = check(t, b, "Router.pkg");
        EXPECT_TRUE(has_finding(r, k.finding)) << k.what << "\n" << all(r);
    }
}

TEST(Check, UnreadablePackages) {
    TempDir t;
    EXPECT_FALSE(CheckPackage((t / "absent.pkg").string().c_str()).readable);
    qm::test::write_file(t / "small.pkg", "tiny");
    const CheckReport r = CheckPackage((t / "small.pkg").string().c_str());
    EXPECT_FALSE(r.readable);
    EXPECT_NE(r.error.find("is too small"), std::string::npos) << r.error;
}

// What the checker predicts is what the expansion does: every member it calls written
// is on disk afterwards, and none after the member it says stops the expansion.
TEST(Check, PredictionAgreesWithTheExpansion) {
    TempDir t;
    TarBuilder b;
    b.dir("a/").file("a/one", "1").file("a/b/two", "2").add(typed("sym", '2')).file("a/three", "3").end();
    const CheckReport r = check(t, b, "pkg.pkg");
    fs::create_directory(t / "out");
    qm::test::NotifyCapture cap;
    ExpandPackage((t / "pkg.pkg").string().c_str(), (t / "out").string().c_str());
    for (const CheckedMember& m : r.members) {
        const bool on_disk = fs::exists(t / "out" / m.name);
        if (m.action == MemberAction::Write || m.action == MemberAction::Directory) {
            EXPECT_TRUE(on_disk) << m.name;
        } else if (!m.name.empty()) {
            EXPECT_FALSE(on_disk) << m.name;
        }
    }
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(r.members.back().action, MemberAction::Stops);
    EXPECT_EQ(r.members.back().why, cap.shown()[0]);
}

}  // namespace
