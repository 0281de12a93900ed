// The POSIX hosts of the two dialogs: prompts on the controlling terminal, and no
// dialog at all without one.
#ifndef _WIN32
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/temp_dir.h"
#include "list_helpers.h"
#include "packages/selection_dialog.h"
#include "platform/posix/terminal_dialogs.h"

using namespace qm::packages;
using qm::test::read_list;
using qm::test::TempDir;
using Names = std::vector<std::string>;

namespace {

// A stream that yields text.
struct Input {
    explicit Input(const std::string& text) : f(std::tmpfile()) {
        std::fputs(text.c_str(), f);
        std::rewind(f);
    }
    ~Input() { std::fclose(f); }
    FILE* f;
};

struct Output {
    Output() : f(std::tmpfile()) {}
    ~Output() { std::fclose(f); }
    std::string text() {
        std::rewind(f);
        std::string s;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
        return s;
    }
    FILE* f;
};

class TerminalTest : public ::testing::Test {
protected:
    void SetUp() override {
        qm::test::reset_list_state();
        for (const char* n : {"c.pkg", "a.pkg", "b.pkg", "kynms.pkg", "notes.txt"}) qm::test::write_file(dir / n, "x");
    }
    int list_dialog(const std::string& answers, int mode = 1) {
        prepare_selection(dir.str().c_str(), mode);
        PackageSelectionDialog logic;
        Input in(answers);
        const int r = qm::plat::run_list_dialog_on(in.f, out.f, logic);
        shown = out.text();
        return r;
    }
    TempDir dir;
    Output out;
    std::string shown;
};

TEST_F(TerminalTest, ShowsCaptionAndNumberedItems) {
    EXPECT_EQ(list_dialog("q\n", 0), 0);
    EXPECT_NE(shown.find("Uninstall Package\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("  1 [ ] a.pkg\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("  4 [ ] notes.txt\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("kynms"), std::string::npos) << shown;
}

struct Session {
    const char* answers;
    int result;
    Names list;
};

void PrintTo(const Session& s, std::ostream* os) { *os << '"' << s.answers << '"'; }

class TerminalSessions : public TerminalTest, public ::testing::WithParamInterface<Session> {};

TEST_P(TerminalSessions, AnswersDriveTheDialog) {
    const Session& s = GetParam();
    EXPECT_EQ(list_dialog(s.answers), s.result) << s.answers;
    EXPECT_EQ(read_list(), s.list) << s.answers;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TerminalSessions,
    ::testing::Values(Session{"2\n\n", 1, {"b.pkg"}}, Session{"3 1\n\n", 1, {"a.pkg", "c.pkg"}},
                      Session{"1-3\n2\n\n", 1, {"a.pkg", "c.pkg"}}, Session{"all\n\n", 1, {"a.pkg", "b.pkg", "c.pkg"}},
                      Session{"all\nnone\n\n", 0, {}}, Session{"\n", 0, {}}, Session{"all\nq\n", 0, {}},
                      Session{"all\n", 0, {}} /* the end of the input cancels */,
                      Session{"1 x\n2\n\n", 1, {"b.pkg"}} /* a mistyped line changes nothing */,
                      Session{"4\n0\n2-1\n\n", 0, {}}));

TEST_F(TerminalTest, FileChoiceBuildsTheClassicSelectionText) {
    std::filesystem::create_directory(dir / "sub.pkg");
    qm::test::write_file(dir / "with space.pkg", "x");
    char sel[200];
    {
        Input in("2\n\n");
        ASSERT_TRUE(qm::plat::choose_package_files_on(in.f, out.f, "/pkgs", sel, sizeof sel));
        EXPECT_STREQ(sel, "/pkgs/b.pkg");
    }
    {
        Input in("1 3\n\n");
        ASSERT_TRUE(qm::plat::choose_package_files_on(in.f, out.f, "/", sel, sizeof sel));
        EXPECT_STREQ(sel, "/ a.pkg c.pkg");
    }
    {
        Input in("all\n\n");
        ASSERT_TRUE(qm::plat::choose_package_files_on(in.f, out.f, "/pkgs", sel, sizeof sel));
        EXPECT_STREQ(sel, "/pkgs a.pkg b.pkg c.pkg kynms.pkg") << "no directory, no name with a space";
    }
}

TEST_F(TerminalTest, FileChoiceCancelledOrImpossible) {
    char sel[200];
    for (const char* answers : {"q\n", "\n", "", "1\nnone\n\n"}) {
        Input in(answers);
        EXPECT_FALSE(qm::plat::choose_package_files_on(in.f, out.f, "/pkgs", sel, sizeof sel)) << answers;
    }
    Input in("1\n\n");
    EXPECT_FALSE(qm::plat::choose_package_files_on(in.f, out.f, "/my pkgs", sel, sizeof sel));
    Input in2("all\n\n");
    char small[20];
    EXPECT_FALSE(qm::plat::choose_package_files_on(in2.f, out.f, "/pkgs", small, sizeof small));
}

// In a new session there is no controlling terminal.
template <typename F>
int in_new_session(F f) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setsid();
        _exit(f());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100;
}

TEST_F(TerminalTest, WithoutATerminalTheListDialogCannotBeShown) {
    const int code = in_new_session([&] {
        qm::test::fill_entries(2);
        const int r = DisplayPackageSelectionList(nullptr, dir.str().c_str(), 0);
        if (r != -1) return 1;
        if (PackageList.count != 2) return 2;  // the dialog never opened
        if (SelectionMode != 0 || std::string(SelectionPattern) != dir.str() + "\\*.*") return 3;
        return 0;
    });
    EXPECT_EQ(code, 0);
}

TEST_F(TerminalTest, WithoutATerminalTheFileChoiceFailsAndKeepsTheList) {
    const int code = in_new_session([&] {
        qm::test::fill_entries(2);
        GetFirstFile();
        if (GetPackageFile(nullptr) != 0) return 1;
        if (PackageList.count != 2 || PackageList.cursor != 1) return 2;
        return 0;
    });
    EXPECT_EQ(code, 0);
}

}  // namespace
#endif
