// The package author's tools. The checker: each finding from a package that carries it,
// and none from a clean one. The plan: against prepared targets, every row borne out by a
// real expansion of the same target. Verify: each kind of difference. The packer: its
// output read back by other tar readers and by the expansion, equal to the tree, the same
// bytes for the same tree, and nothing written for a tree the installer would refuse.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <map>
#include <string>

#include "common/capture.h"
#include "common/plan_cases.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "authoring/author.h"
#include "authoring/check.h"
#include "authoring/json.h"
#include "packages/expand.h"
#include "authoring/pack.h"
#include "platform/fault.h"

using namespace qm::authoring;
using qm::packages::ExpandPackage;
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
    return check_package((t / name).string().c_str());
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
    EXPECT_EQ(r.members[0].action, qm::extract::Outcome::Directory);
    EXPECT_EQ(r.members[4].action, qm::extract::Outcome::Write);
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
                    "appears more than once"},
        FindingCase{"names that differ in letter case", [](TarBuilder& b) { b.file("etc/dorva/router/R.tcl", "R").end(); },
                    "\"etc/dorva/router/r.tcl\" and \"etc/dorva/router/R.tcl\" differ only in letter case"},
        FindingCase{"a directory on the way in another case", [](TarBuilder& b) { b.file("ETC/x", "x").end(); },
                    "\"etc\" and \"ETC\" differ only in letter case"},
        FindingCase{"a name ending in a dot", [](TarBuilder& b) { b.file("etc/notes.", "x").end(); },
                    "\"notes.\" ends in a dot or a space"},
        FindingCase{"a directory ending in a space", [](TarBuilder& b) { b.dir("etc/dir /").end(); },
                    "\"dir \" ends in a dot or a space"},
        FindingCase{"a \\ without its directory", [](TarBuilder& b) { b.file("back\\slash", "x").end(); },
                    "member \"back\\slash\" needs the directory \"back\" on the target: no earlier member creates it "
                    "(a \"\\\" is a separator to Windows, but extraction makes no directory there)"}));

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
    EXPECT_FALSE(check_package((t / "absent.pkg").string().c_str()).readable);
    qm::test::write_file(t / "small.pkg", "tiny");
    const CheckReport r = check_package((t / "small.pkg").string().c_str());
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
        if (m.action == qm::extract::Outcome::Write || m.action == qm::extract::Outcome::Directory) {
            EXPECT_TRUE(on_disk) << m.name;
        } else if (!m.name.empty()) {
            EXPECT_FALSE(on_disk) << m.name;
        }
    }
    ASSERT_EQ(cap.shown().size(), 1u);
    EXPECT_EQ(r.members.back().action, qm::extract::Outcome::Refuse);
    EXPECT_EQ(r.members.back().why, cap.shown()[0]);
}

// Every file and directory below root with its kind and, for files, its bytes.
std::map<std::string, std::string> tree_of(const fs::path& root) {
    std::map<std::string, std::string> out;
    for (auto& e : fs::recursive_directory_iterator(root)) {
        const std::string rel = fs::relative(e.path(), root).generic_string();
        out[rel] = e.is_directory() ? "<dir>" : qm::test::read_file(e.path());
    }
    return out;
}

// The target as it stands, times and all: a plan must leave it so.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> out = tree_of(root);
    for (auto& [rel, what] : out) what += "@" + std::to_string(qm::test::get_mtime(root / rel));
    return out;
}

TEST(Plan, EveryRowIsBorneOutByARealExpansionOfTheSameTarget) {
    for (const qm::test::PlanCase& k : qm::test::plan_cases()) {
        TempDir t;
        const fs::path target = t / "target";
        fs::create_directory(target);
        k.prepare(target);
        qm::test::write_bytes(t / "p.pkg", qm::test::plan_package(k).bytes());
        const std::string package = (t / "p.pkg").string();
        const auto before = snapshot(target);
        const PlanReport plan = plan_expansion(package.c_str(), target.string().c_str());
        ASSERT_TRUE(plan.readable) << k.what << ": " << plan.error;
        EXPECT_EQ(snapshot(target), before) << k.what << ": the plan changed the target";
        std::vector<qm::test::PlanRow> rows;
        for (const PlannedMember& m : plan.members) rows.push_back({m.name, qm::extract::outcome_name(m.action), m.reason});

        qm::test::NotifyCapture cap;
        ExpandPackage(package.c_str(), target.string().c_str());
        fs::current_path(t.path());
        for (const std::string& d : qm::test::disagreements(k, rows, target, cap.shown())) ADD_FAILURE() << d;
        EXPECT_EQ(plan.runs_to_end, cap.shown().empty()) << k.what;
    }
}

TEST(Plan, ReasonsNameWhatDecided) {
    TempDir t;
    fs::create_directory(t / "target");
    qm::test::write_file(t / "target/old", "mine");
    qm::test::set_mtime(t / "target/old", 315630000 - 60);
    TarBuilder b;
    b.file("old", "o").file("a/b/c", "c").dir("d/").end();
    qm::test::write_bytes(t / "p.pkg", b.bytes());
    const PlanReport r = plan_expansion((t / "p.pkg").string().c_str(), (t / "target").string().c_str());
    ASSERT_EQ(r.members.size(), 3u);
    EXPECT_EQ(r.members[0].reason.rfind("the file on disk is older: ", 0), 0u) << r.members[0].reason;
    EXPECT_EQ(r.members[1].reason, "new file; makes the directories from \"a\" on");
    EXPECT_EQ(r.members[2].reason, "new directory");
    EXPECT_TRUE(r.runs_to_end);
    EXPECT_FALSE(plan_expansion((t / "absent.pkg").string().c_str(), t.str().c_str()).readable);
}

TEST(Verify, ReportsEachKindOfDifference) {
    TempDir t;
    const fs::path target = t / "target";
    fs::create_directory(target);
    TarBuilder b;
    b.dir("etc/").file("etc/same", "s").file("etc/gone", "g").file("etc/edited", "e").file("etc/local", "l")
        .file("etc/now-a-dir", "d").dir("empty/").file("etc/linked", "k").dir("way/").file("way/f", "w")
        .file("etc/same", "s2", 315630000 - 5).file("../evil", "x").end();
    qm::test::write_bytes(t / "p.pkg", b.bytes());
    const std::string package = (t / "p.pkg").string();
    qm::test::NotifyCapture cap;
    ExpandPackage(package.c_str(), target.string().c_str());
    fs::current_path(t.path());

    fs::remove(target / "etc/gone");
    qm::test::write_file(target / "etc/edited", "changed, time kept");
    qm::test::set_mtime(target / "etc/edited", 315630000);
    qm::test::write_file(target / "etc/local", "a local edit");
    qm::test::set_mtime(target / "etc/local", 315630000 + 3600);
    fs::remove(target / "etc/now-a-dir");
    fs::create_directory(target / "etc/now-a-dir");
    fs::remove(target / "empty");
    std::map<std::string, std::string> links = {{"etc/linked", "ok"}, {"way/", "ok"}, {"way/f", "ok"}};
#ifndef _WIN32
    // Links to the member's own bytes outside the target: at a file's name, and in place
    // of a directory on the way.
    fs::remove(target / "etc/linked");
    qm::test::write_file(t / "outside", "k");
    fs::create_symlink(t / "outside", target / "etc/linked");
    fs::rename(target / "way", t / "way-outside");
    fs::create_directory_symlink(t / "way-outside", target / "way");
    links = {{"etc/linked", "link"}, {"way/", "link"}, {"way/f", "link"}};
#endif

    const VerifyReport r = verify_install(package.c_str(), target.string().c_str());
    ASSERT_TRUE(r.readable);
    EXPECT_FALSE(r.all_ok);
    std::map<std::string, std::string> states;
    for (const VerifiedMember& m : r.members) states[m.name] = verify_state_name(m.state);
    std::map<std::string, std::string> expected = {
        {"etc/", "ok"},           {"etc/same", "ok"},     {"etc/gone", "missing"},
        {"etc/edited", "modified"}, {"etc/local", "kept-newer"}, {"etc/now-a-dir", "missing"},
        {"empty/", "missing"},    {"../evil", "missing"}};
    expected.insert(links.begin(), links.end());
    EXPECT_EQ(states, expected);
    for (const VerifiedMember& m : r.members)
        if (m.name == "../evil") {
            EXPECT_EQ(m.reason.rfind("never installed: ERROR:File \"../evil\" unsafe name", 0), 0u);
        }

    // Put back as the package holds it, everything is ok (the refused member aside).
    qm::test::write_file(target / "etc/edited", "e");
    const VerifyReport again = verify_install(package.c_str(), target.string().c_str());
    for (const VerifiedMember& m : again.members)
        if (m.name == "etc/edited" || m.name == "etc/same") {
            EXPECT_EQ(m.state, VerifyState::Ok) << m.name;
        }
    EXPECT_FALSE(verify_install((t / "absent.pkg").string().c_str(), target.string().c_str()).readable);
}

// The tool's JSON text: every code page's bytes into UTF-8, and malformed UTF-8 as U+FFFD
// a byte, so that the output always parses.
TEST(Json, NamesDecodeIntoUtf8) {
    const struct {
        const char* bytes;
        CodePage cp;
        const char* utf8;
    } cases[] = {
        {"caf\xe9", CodePage::Windows1252, "caf\u00e9"},      {"\x80\x81\x9f", CodePage::Windows1252, "\u20ac\ufffd\u0178"},
        {"\xe9\xff", CodePage::Oem437, "\u0398\u00a0"},          {"\xe9\xd5", CodePage::Oem850, "\u00da\u0131"},
        {"caf\xc3\xa9 \xf0\x9f\x98\x80", CodePage::Utf8, "caf\u00e9 \U0001f600"},
        {"\xc0\xaf|\xed\xa0\x80|\xe2\x82|\xf4\x90\x80\x80|\xff", CodePage::Utf8,  // overlong, surrogate, cut, too large
         "\ufffd\ufffd|\ufffd\ufffd\ufffd|\ufffd\ufffd|\ufffd\ufffd\ufffd\ufffd|\ufffd"},
    };
    for (const auto& k : cases) EXPECT_EQ(to_utf8(k.bytes, k.cp), k.utf8) << k.bytes;
    EXPECT_EQ(json_quoted("a\"\\\x1b"), "\"a\\\"\\\\\\u001b\"");
    EXPECT_EQ(hex_of("\x01\xfe"), "01fe");
    CodePage cp = CodePage::Utf8;
    EXPECT_TRUE(code_page_named("Windows-1252", &cp) && cp == CodePage::Windows1252);
    EXPECT_FALSE(code_page_named("1250", &cp));
}

constexpr int64_t kPackTime = 1700000000;

// A tree with what packages hold: nested and empty directories, a path that needs the
// ustar prefix, a name of 99 characters, an empty file, a larger one.
void make_tree(const fs::path& root) {
    qm::test::write_file(root / "bin/router.dat", std::string(70000, 'r'));
    qm::test::write_file(root / "etc/dorva/devices/router.mfs", "manifest");
    qm::test::write_file(root / "etc/empty.txt", "");
    fs::create_directories(root / "var/spool");
    const std::string deep = "lib/" + std::string(60, 'a') + "/" + std::string(60, 'b');
    qm::test::write_file(root / deep / "deep.tcl", "puts deep");
    qm::test::write_file(root / ("etc/" + std::string(95, 'n')), "ninety-nine");
    fs::create_directories(root / ("var/" + std::string(100, 'v')));  // its name in the prefix field alone
}

TEST(Pack, TheExpansionGivesBackTheTree) {
    TempDir t;
    make_tree(t / "tree");
    PackOptions o;
    o.has_mtime = true;
    o.mtime = kPackTime;
    const PackReport r = pack_tree((t / "tree").string().c_str(), (t / "router.pkg").string().c_str(), o);
    ASSERT_TRUE(r.written) << (r.problems.empty() ? "" : r.problems[0]);
    EXPECT_EQ(r.bytes, static_cast<int64_t>(fs::file_size(t / "router.pkg")));
    EXPECT_EQ(r.files, 5);

    fs::create_directory(t / "ours");
    qm::test::NotifyCapture cap;
    ExpandPackage((t / "router.pkg").string().c_str(), (t / "ours").string().c_str());
    fs::current_path(t.path());
    EXPECT_TRUE(cap.shown().empty()) << cap.shown().front();
    EXPECT_EQ(tree_of(t / "ours"), tree_of(t / "tree"));
    EXPECT_EQ(qm::test::get_mtime(t / "ours/bin/router.dat"), kPackTime);

    const CheckReport check = check_package((t / "router.pkg").string().c_str());
    EXPECT_TRUE(check.findings.empty()) << all(check);
    // Each directory comes before what it holds, and names are in order within one.
    std::vector<std::string> names;
    for (const CheckedMember& m : check.members) names.push_back(m.name);
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string& n = names[i];
        const size_t slash = n.find_last_of('/', n.size() - 2);
        if (slash == std::string::npos) continue;
        const auto dir = std::find(names.begin(), names.end(), n.substr(0, slash + 1));
        EXPECT_TRUE(dir != names.end() && dir < names.begin() + static_cast<long>(i)) << n;
    }
    for (const CheckedMember& m : check.members) {
        EXPECT_EQ(m.uid, 0);
        EXPECT_EQ(m.mtime, kPackTime);
        EXPECT_TRUE(m.mode == 0644u || m.mode == 0755u) << m.name;
    }
}

TEST(Pack, TheSameTreeGivesTheSameBytesAndAChangedOneANewerPackage) {
    TempDir t;
    make_tree(t / "tree");
    const PackOptions newest;  // the tree's newest time
    const PackReport first = pack_tree((t / "tree").string().c_str(), (t / "a.pkg").string().c_str(), newest);
    const PackReport second = pack_tree((t / "tree").string().c_str(), (t / "b.pkg").string().c_str(), newest);
    ASSERT_TRUE(first.written && second.written);
    EXPECT_EQ(qm::test::read_file(t / "a.pkg"), qm::test::read_file(t / "b.pkg"));
    qm::test::write_file(t / "tree/etc/new.txt", "added");
    qm::test::set_mtime(t / "tree/etc/new.txt", first.mtime + 10);
    const PackReport changed = pack_tree((t / "tree").string().c_str(), (t / "a.pkg").string().c_str(), newest);
    ASSERT_TRUE(changed.written);
    EXPECT_GT(changed.mtime, first.mtime);
}

TEST(Pack, ParsesTimes) {
    struct {
        const char* text;
        bool ok;
        int64_t value;
    } cases[] = {{"1700000000", true, 1700000000}, {"@0", true, 0}, {"2026-01-01", true, 1767225600},
                 {"2026-01-01 00:00:01Z", true, 1767225601}, {"1998-06-01T12:00:00", true, 896702400},
                 {"1998-06-01T12:00", true, 896702400}, {"yesterday", false, 0}, {"2026-13-01", false, 0},
                 {"@x", false, 0}, {"2026-01-01 25:00", false, 0}, {"2026-02-31", false, 0},
                 {"2024-02-29", true, 1709164800}, {"2026-01-01 23:59:60", false, 0}, {"2026-01-01 24:00", false, 0},
                 {"2026-01-01 12:60", false, 0}};
    for (const auto& k : cases) {
        int64_t v = -1;
        EXPECT_EQ(parse_pack_time(k.text, &v), k.ok) << k.text;
        if (k.ok) {
            EXPECT_EQ(v, k.value) << k.text;
        }
    }
}

#ifndef _WIN32
TEST(Pack, OtherTarReadersReadItAsTheTree) {
    if (std::system("tar --version >/dev/null 2>&1") != 0 || std::system("bsdtar --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU tar or bsdtar not installed";
    TempDir t;
    make_tree(t / "tree");
    ::chmod((t / "tree/bin/router.dat").c_str(), 0750);
    PackOptions o;
    o.has_mtime = true;
    o.mtime = kPackTime;
    ASSERT_TRUE(pack_tree((t / "tree").string().c_str(), (t / "p.pkg").string().c_str(), o).written);
    for (const char* tool : {"tar", "bsdtar"}) {
        const fs::path out = t / tool;
        fs::create_directory(out);
        const std::string cmd = std::string(tool) + " -xf '" + (t / "p.pkg").string() + "' -C '" + out.string() +
                                "' 2>" + (t / "err.txt").string();
        EXPECT_EQ(std::system(cmd.c_str()), 0) << tool << ": " << qm::test::read_file(t / "err.txt");
        EXPECT_EQ(tree_of(out), tree_of(t / "tree")) << tool;
        EXPECT_EQ(qm::test::get_mtime(out / "etc/dorva/devices/router.mfs"), kPackTime) << tool;
        struct stat st;
        ASSERT_EQ(::stat((out / "bin/router.dat").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0755u) << tool << ": an executable file packs as 0755";
    }
}

// Another process changing file just before the packer's first read of any file.
void change_at_first_read(const fs::path& file, void (*change)(const fs::path&)) {
    static fs::path target;
    static void (*act)(const fs::path&);
    target = file;
    act = change;
    qm::plat::fault::set_hook(
        [](qm::plat::fault::Op op, void*) {
            if (op != qm::plat::fault::Op::Read) return;
            qm::plat::fault::set_hook(nullptr, nullptr);
            act(target);
        },
        nullptr);
}

// Nothing is written for a tree the installer could not take whole; each problem names
// its path.
TEST(Pack, RefusesWhatTheInstallerWouldNotTake) {
    struct Case {
        const char* what;
        void (*add)(const fs::path& tree);
        const char* named;
    } cases[] = {
        {"a link", [](const fs::path& r) { fs::create_symlink("router.dat", r / "bin/link"); }, "bin/link: a link"},
        {"a FIFO", [](const fs::path& r) { ::mkfifo((r / "bin/fifo").c_str(), 0600); }, "bin/fifo: a device, FIFO"},
        {"a device name", [](const fs::path& r) { qm::test::write_file(r / "etc/aux.cfg", "x"); },
         "etc/aux.cfg: the installer would refuse it: ERROR:File \"etc/aux.cfg\" unsafe name (device name)"},
        {"a reserved character", [](const fs::path& r) { qm::test::write_file(r / "what?.txt", "x"); },
         "what?.txt: the installer would refuse it"},
        {"a backslash", [](const fs::path& r) { qm::test::write_file(r / "a\\b", "x"); }, "a\\b: a \"\\\""},
        {"a path that fits no header",
         [](const fs::path& r) { qm::test::write_file(r / "etc" / std::string(120, 'x'), "x"); },
         "too long for a header"},
        {"a file that grows while it is packed",
         [](const fs::path& r) {
             change_at_first_read(r / "bin/router.dat",
                                  [](const fs::path& f) { qm::test::write_file(f, std::string(70001, 'r')); });
         },
         "bin/router.dat: changed while it was packed"},
        {"a file whose time changes while it is packed, not its length",
         [](const fs::path& r) {
             change_at_first_read(r / "bin/router.dat", [](const fs::path& f) { qm::test::set_mtime(f, 1000000000); });
         },
         "bin/router.dat: changed while it was packed"},
    };
    for (const Case& k : cases) {
        TempDir t;
        make_tree(t / "tree");
        k.add(t / "tree");
        const PackReport r = pack_tree((t / "tree").string().c_str(), (t / "p.pkg").string().c_str(), PackOptions{});
        EXPECT_FALSE(r.written) << k.what;
        ASSERT_EQ(r.problems.size(), 1u) << k.what;
        EXPECT_NE(r.problems[0].find(k.named), std::string::npos) << k.what << ": " << r.problems[0];
        EXPECT_FALSE(fs::exists(t / "p.pkg")) << k.what;
        EXPECT_EQ(std::distance(fs::directory_iterator(t.path()), fs::directory_iterator()), 1) << k.what;
    }
}
#endif

}  // namespace
