// The unattended session: the mode's decision, the call's log line and last error, the
// boxes that go to the log, the dialogs' scripted answers and the expansion's report.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "common/as_export.h"
#include "common/capture.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "list_helpers.h"
#include "packages/expand.h"
#include "packages/remove.h"
#include "packages/selection_dialog.h"
#include "platform/notify.h"
#include "platform/host.h"
#include "platform/sys.h"
#include "session/session.h"

namespace {

using qm::session::Call;
using qm::test::TempDir;
namespace win32 = qm::plat::win32;

// The log's text with its line ends as "\n" (Windows writes "\r\n").
std::string slurp(const qm::test::fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

// The session's variables for one test, put back to unset at its end.
struct SessionEnv {
    TempDir dir{false};
    std::string log = (dir / "session.log").string();
    explicit SessionEnv(const char* unattended) {
        qm::plat::set_env("QUILLMAR_LOG", log.c_str());
        qm::plat::set_env("QUILLMAR_UNATTENDED", unattended);
        qm::test::reset_list_state();
    }
    ~SessionEnv() {
        for (const char* v : {"QUILLMAR_LOG", "QUILLMAR_UNATTENDED", "QUILLMAR_SELECT", "QUILLMAR_PACKAGES"})
            qm::plat::set_env(v, nullptr);
        qm::session::set_log_refusal_sink(nullptr);
    }
    std::string text() const { return slurp(log); }
    // The last error the last call left, as its line in the log says.
    unsigned long last_error() const { return qm::test::last_error_in_log(log); }
};

qm::session::Status failure(unsigned long code, const char* text = "") {
    qm::session::Status st;
    st.code = code;
    std::snprintf(st.message, sizeof st.message, "%s", text);
    return st;
}

TEST(Session, TheModeIsOnForAValueOrForAProcessNobodySees) {
    struct Case {
        const char* value;
        bool visible;
        bool unattended;
    } cases[] = {
        {nullptr, true, false}, {"", true, false},  {"0", true, false},  {"1", true, true},
        {"yes", true, true},    {"00", true, true}, {nullptr, false, true}, {"0", false, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(qm::session::decide_unattended(c.value, c.visible), c.unattended)
            << (c.value ? c.value : "(unset)") << " visible=" << c.visible;
}

TEST(Session, TheVariableIsReadLiveAtEachCall) {
    SessionEnv env("1");
    {
        const Call c("First");
        EXPECT_TRUE(qm::session::unattended());
    }
    qm::plat::set_env("QUILLMAR_UNATTENDED", "0");
    {
        const Call c("Second");
        EXPECT_EQ(qm::session::unattended(), !qm::plat::interactive_station_visible());
    }
    EXPECT_FALSE(qm::session::unattended()) << "outside a call";
}

TEST(Session, TheCallLeavesItsLineAndTheFirstFailureAsLastError) {
    SessionEnv env("1");
    {
        const Call c("Probe", "a\tb", static_cast<const char*>(nullptr), 3);
        qm::session::note("first %s", "note\nwith a line end");
        qm::session::report(failure(win32::kFileNotFound));
        qm::session::report(failure(win32::kAccessDenied));
        c.result(7);
    }
    EXPECT_EQ(env.last_error(), win32::kFileNotFound);
    {
        const Call c("Clean");
        c.result("text");
    }
    EXPECT_EQ(env.last_error(), 0u) << "a call that failed nothing leaves none";
    const std::string log = env.text();
    EXPECT_NE(log.find(" Probe: first note<0A>with a line end\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" Probe(\"a<09>b\", NULL, 3) = 7, last error 2 [unattended]\n"), std::string::npos) << log;
    EXPECT_NE(log.find(" Clean() = \"text\", last error 0 [unattended]\n"), std::string::npos) << log;
    EXPECT_LT(log.find("Probe: first"), log.find("Probe(")) << "notes come before the call's line";
}

TEST(Session, ATextIsLoggedAndTheNotifierStillHearsIt) {
    SessionEnv env("1");
    qm::test::NotifyCapture capture;
    {
        const Call c("Boxed");
        qm::session::report(failure(win32::kInvalidData, "ERROR: something"));
    }
    ASSERT_EQ(capture.shown().size(), 1u);
    // The capture stands where the tool's stderr would: no box, so reported as such.
    EXPECT_NE(env.text().find(" Boxed: reported: ERROR: something\n"), std::string::npos) << env.text();
}

std::vector<std::string> g_said;  // what the tool's stderr would say of a refused log
void hear(const char* text) noexcept { g_said.emplace_back(text); }

// The log: only the caller's own regular file, never a wait; no call's outcome changed; a refusal said once.
TEST(Session, TheLogIsOnlyTheCallersOwnFileAndNeverChangesACall) {
    SessionEnv env("1");
    const std::string target = (env.dir / "target").string(), made = (env.dir / "made").string();
    qm::test::write_file(target, "");
#ifndef _WIN32
    const bool other_user = qm::test::can_give_files_away(env.dir.path());
#endif
    struct Case {
        std::string name;
        std::function<void(const char*)> plant;  // what is at the name first
        const char* said;  // in what the sink hears; null: nothing
    } cases[] = {
        {"no-such-dir/x.log", nullptr, nullptr},
#ifndef _WIN32
        {"new.log", nullptr, nullptr},
        {"link", [&](const char* at) { symlink(target.c_str(), at); }, "is refused (a link)"},
        {"dangling", [&](const char* at) { symlink(made.c_str(), at); }, "is refused (a link)"},
        {"hard", [&](const char* at) { link(target.c_str(), at); }, "is refused (a file with more than one link)"},
        {"fifo", [](const char* at) { mkfifo(at, 0600); }, "is refused (not a regular file)"},
        {"dir", [](const char* at) { mkdir(at, 0700); }, "is refused (a directory)"},
        {"other", [](const char* at) { qm::test::write_file(at, ""); if (chown(at, 65534, 65534)) {} },
         other_user ? "is refused (a file another user owns)" : nullptr},
#endif
    };
#ifndef _WIN32
    if (!other_user) std::printf("[ note ] no file can be given to another user here: the caller's own\n");
    const mode_t umask_was = umask(0);
    alarm(60);  // an open that waits for a FIFO's reader fails the test rather than hang it
#endif
    for (const Case& c : cases) {
        const std::string at = (env.dir / c.name).string();
        if (c.plant) c.plant(at.c_str());
        g_said.clear();
        qm::session::set_log_refusal_sink(&hear);
        qm::test::NotifyCapture capture;
        {
            // An outer call (the tool's, around an operation) with a log that takes its
            // line: the code the inner calls left reaches it, whatever became of their log.
            qm::plat::set_env("QUILLMAR_LOG", env.log.c_str());
            const Call outer("Outer");
            qm::plat::set_env("QUILLMAR_LOG", at.c_str());
            for (int call = 0; call < 2; ++call) {
                const Call q("Quiet");
                qm::session::report(failure(win32::kInvalidData, "shown anyway"));
            }
        }
        EXPECT_EQ(capture.shown().size(), 2u) << c.name;
        EXPECT_EQ(env.last_error(), win32::kInvalidData) << c.name;
        EXPECT_TRUE(c.said ? g_said.size() == 1 && g_said[0].find(c.said) != std::string::npos : g_said.empty())
            << c.name << ": " << testing::PrintToString(g_said);
    }
#ifndef _WIN32
    alarm(0);
    umask(umask_was);
    struct stat st;
    EXPECT_TRUE(stat((env.dir / "new.log").c_str(), &st) == 0 && (st.st_mode & 0777) == 0600) << "umask 000";
    EXPECT_EQ(qm::test::read_file(target), "") << "nothing through a link";
    EXPECT_FALSE(qm::test::fs::exists(made)) << "nothing made through a dangling link";
#endif
}

// The list dialog over a directory and the file-open dialog, answered by the variables.
TEST(Session, TheDialogsAnswerFromTheEnvironment) {
    SessionEnv env("1");
    for (const char* n : {"Alpha.pkg", "beta.pkg", "gamma.pkg"}) qm::test::write_file(env.dir / n, "x");
    // Cut at 32,767 it would name beta.pkg (Windows cannot even set it: unset, same answer).
    const std::string cut_to_beta = std::string(32767 - 8, ';') + "beta.pkg" + ".pkg";
    std::string unknown = "beta.pkg";
    for (int i = 0; i < 3000; ++i) unknown += ";n" + std::to_string(i) + ".pkg";
    struct Case {
        const char* select;  // null: unset
        int result;
        std::vector<std::string> list;
        unsigned long error;
    } cases[] = {
        {"all", 1, {"Alpha.pkg", "beta.pkg", "gamma.pkg"}, 0},
        {"ALL", 1, {"Alpha.pkg", "beta.pkg", "gamma.pkg"}, 0},
        {" all\t", 1, {"Alpha.pkg", "beta.pkg", "gamma.pkg"}, 0},
        {"GAMMA.PKG; alpha.pkg", 1, {"Alpha.pkg", "gamma.pkg"}, 0},
        {unknown.c_str(), 1, {"beta.pkg"}, 0},
        {cut_to_beta.c_str(), 0, {}, win32::kCancelled},
        {"nothere.pkg;beta.pkg", 1, {"beta.pkg"}, 0},
        {"nothere.pkg", 0, {}, win32::kCancelled},
        {"", 0, {}, win32::kCancelled},
        {nullptr, 0, {}, win32::kCancelled},
    };
    for (const Case& c : cases) {
        qm::test::fill_entries(2);
        qm::plat::set_env("QUILLMAR_SELECT", nullptr);  // a value Windows refuses leaves it unset
        qm::plat::set_env("QUILLMAR_SELECT", c.select);
        int r = -5;
        {
            const Call call("DisplayPackageSelectionList");
            r = qm::packages::DisplayPackageSelectionList(nullptr, env.dir.str().c_str(), 1);
        }
        const char* what = c.select ? c.select : "(unset)";
        EXPECT_EQ(r, c.result) << what;
        EXPECT_EQ(qm::test::read_list(), c.list) << what;
        EXPECT_EQ(env.last_error(), c.error) << what;
    }
    const std::string log = env.text();
    EXPECT_NE(log.find("SELECT names 1 item(s) the list dialog does not offer, ignored: \"nothere.pkg\"\n"), std::string::npos);
    EXPECT_NE(log.find("names 3000 item(s) the list dialog does not offer, ignored: \"n0.pkg\", \""), std::string::npos);
    EXPECT_EQ(log.find("\"n2999.pkg\""), std::string::npos) << "one line, the rest counted";

    const std::string too_long(120, 'x');
    const std::string cut_to_a = std::string(32767 - 10, ';') + "c:\\p\\a.pkg" + ".old";
    struct Files {
        const char* packages;
        int result;
        std::vector<std::string> list;
    } files[] = {
        {"c:\\p\\b.pkg;c:\\p\\a.pkg", 1, {"c:\\p\\b.pkg", "c:\\p\\a.pkg"}},
        {too_long.c_str(), 0, {"e0", "e1"}},  // fits no slot: as cancelled
        {cut_to_a.c_str(), 0, {"e0", "e1"}},  // longer than the platform holds: as unset
        {"", 0, {"e0", "e1"}},
        {nullptr, 0, {"e0", "e1"}},
    };
    for (const Files& f : files) {
        qm::test::fill_entries(2);
        qm::plat::set_env("QUILLMAR_PACKAGES", nullptr);
        qm::plat::set_env("QUILLMAR_PACKAGES", f.packages);
        int r = -5;
        {
            const Call call("GetPackageFile");
            r = qm::packages::GetPackageFile(nullptr);
        }
        EXPECT_EQ(r, f.result);
        EXPECT_EQ(qm::test::read_list(), f.list);
        EXPECT_EQ(env.last_error(), f.result ? 0u : win32::kCancelled);
    }
}

TEST(Session, AnExpansionAndARemovalReportTheirMembersAndAMissingPackage) {
    SessionEnv env("1");
    qm::test::NotifyCapture capture;
    qm::test::TarBuilder pkg;
    pkg.dir("d/").file("d/new.txt", "n").file("d/old.txt", "o", 1000).end();
    qm::test::write_bytes(env.dir / "p.pkg", pkg.bytes());
    qm::test::write_file(env.dir / "t" / "d" / "old.txt", "mine");  // newer than the member
    const std::string target = (env.dir / "t").string();
    {
        const Call c("ExpandPackage");
        qm::packages::ExpandPackage((env.dir / "p.pkg").string().c_str(), target.c_str());
    }
    EXPECT_EQ(env.last_error(), 0u);
    {
        const Call c("ExpandPackage");
        qm::packages::ExpandPackage((env.dir / "none.pkg").string().c_str(), target.c_str());
    }
    EXPECT_EQ(env.last_error(), win32::kFileNotFound);
    {
        const Call c("GetManifestFile");
        qm::packages::GetManifestFile(nullptr, target.c_str());
    }
    EXPECT_EQ(env.last_error(), win32::kInvalidParameter) << "a null package, and no crash";
    {
        const Call c("RemovePackage");
        EXPECT_EQ(qm::packages::RemovePackage((env.dir / "p.pkg").string().c_str(), target.c_str()), 1);
    }
    EXPECT_EQ(env.last_error(), 0u) << "a file the user changed is kept, and that is no failure";
    const std::string log = env.text();
    EXPECT_NE(log.find("RemovePackage: kept \"d/old.txt\": other size: 4 bytes, the member's 1\n"), std::string::npos)
        << log;
    EXPECT_NE(log.find("RemovePackage: removed \"" + (env.dir / "p.pkg").string() +
                       "\": 1 file(s) removed, 1 kept, 0 already gone, 0 refused; 0 directories removed, 1 kept; "
                       "ended at the end-of-archive block"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(": 2 written, 1 kept (newer on disk), 0 refused or failed; ended at the end-of-archive block"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("none.pkg\" not loaded, nothing installed: open:"), std::string::npos) << log;
    EXPECT_TRUE(capture.shown().empty());
}

#ifndef _WIN32
// Two processes append 400 lines each at once: every line arrives whole.
TEST(Session, TwoProcessesAppendingNeverMixWithinALine) {
    TempDir dir(false);
    const std::string log = (dir / "both.log").string();
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = fork();
        if (kids[k] == 0) {
            const std::string line = std::string(k ? "B" : "A") + std::string(700, k ? 'b' : 'a');
            for (int i = 0; i < 400; ++i) qm::plat::append_line(log.c_str(), line.data(), line.size());
            _exit(0);
        }
    }
    for (pid_t p : kids) waitpid(p, nullptr, 0);
    std::istringstream lines(slurp(log));
    std::string l;
    int n = 0;
    while (std::getline(lines, l)) {
        ++n;
        ASSERT_EQ(l.size(), 701u) << "line " << n;
        EXPECT_EQ(l.find_first_not_of(l[0] == 'A' ? "Aa" : "Bb"), std::string::npos) << "line " << n;
    }
    EXPECT_EQ(n, 800);
}
#endif

}  // namespace
