// Unattended installs through the real quillmar.dll: the mode set mid-process (by the
// platform's call and by SetEnvVariable) at the next call, boxes and dialogs counted by
// the WH_CBT hook in both modes, the dialogs' scripted answers, the last error of every
// export on success and on failure, null texts, and the log written by two processes at
// once, one of them on a window station nobody can see.
#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "win32/config_guards.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::TempDir;
using qm::test::TarBuilder;

namespace {

constexpr DWORD kAnyError = 0xFFFFFFFF;  // expected: some nonzero code

Word T(const char* s) { return reinterpret_cast<Word>(s); }

// Calls an export with the last error set to something it must replace.
// result: an int result (the low 32 bits of what came back); word: all of it, for a text.
struct Outcome {
    uint32_t result;
    DWORD error;
    Word word;
};
Outcome call(const char* name, std::vector<Word> args) {
    Word r = 0;
    SetLastError(0xBADC0DE);
    bytes_removed_by_callee(by_name(name), args, &r);
    const DWORD error = GetLastError();
    return {static_cast<uint32_t>(r), error, r};
}

// A variable of the process environment for the life of the object, removed afterwards.
struct Var {
    const char* name;
    Var(const char* n, const char* value) : name(n) { SetEnvironmentVariableA(n, value); }
    ~Var() { SetEnvironmentVariableA(name, nullptr); }
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string refused_package(const TempDir& t) {
    TarBuilder b;
    qm::test::Member link;
    link.name = "link";
    link.type = '2';  // the reader refuses it with a box
    b.file("a.txt", "a").add(link).end();
    const std::string p = (t / "refused.pkg").string();
    qm::test::write_bytes(p, b.bytes());
    return p;
}

TEST(UnattendedDll, BoxesAndDialogsAreCountedInBothModesAndTheVariableActsAtTheNextCall) {
    ASSERT_NE(dll(), nullptr);
    TempDir t(false);
    const std::string pkg = refused_package(t), target = (t / "out").string(), log = (t / "q.log").string();
    CreateDirectoryA(target.c_str(), nullptr);
    qm::test::write_file(t / "one.pkg", "x");
    const Var log_var("QUILLMAR_LOG", log.c_str());
    DialogWatcher watch;  // presses OK on whatever appears
    {
        const Var on("QUILLMAR_UNATTENDED", "1");
        EXPECT_EQ(call("ExpandPackage", {T(pkg.c_str()), T(target.c_str())}).error, 13u);
        EXPECT_EQ(call("DisplayPackageSelectionList", {0, T(t.str().c_str()), 1}).result, 0u);
        EXPECT_EQ(call("GetPackageFile", {0}).result, 0u);
        EXPECT_TRUE(watch.shown().empty()) << watch.shown()[0].caption;
    }
    call("ExpandPackage", {T(pkg.c_str()), T(target.c_str())});
    ASSERT_EQ(watch.shown().size(), 1u) << "the mode off: the usual box";
    EXPECT_EQ(watch.shown()[0].caption, "Error");
    // Set by the script through the library itself.
    EXPECT_NE(call("SetEnvVariable", {T("QUILLMAR_UNATTENDED"), T("yes")}).result, 0u);
    call("ExpandPackage", {T(pkg.c_str()), T(target.c_str())});
    EXPECT_EQ(call("SetEnvVariable", {T("QUILLMAR_UNATTENDED"), T("0")}).error, 0u);
    SetEnvironmentVariableA("QUILLMAR_UNATTENDED", nullptr);
    EXPECT_EQ(watch.shown().size(), 1u);
    EXPECT_FALSE(watch.timed_out());

    const std::string text = slurp(log);
    const std::string box = "\"Error\" box: WARNING:";
    EXPECT_NE(text.find("ExpandPackage: not shown (unattended) " + box), std::string::npos) << text;
    EXPECT_NE(text.find("ExpandPackage: shown " + box), std::string::npos) << text;
    EXPECT_NE(text.find("ExpandPackage: expanded \"" + pkg + "\": 1 written, 0 kept (newer on disk), 1 refused"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ExpandPackage(\"" + pkg + "\", \"" + target + "\") = 0, last error 13 [unattended]\r\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("GetPackageFile(0) = 0, last error 1223 [unattended]\r\n"), std::string::npos) << text;
}

TEST(UnattendedDll, TheDialogsAnswerFromTheVariables) {
    TempDir t(false);
    for (const char* n : {"Router.pkg", "switch.pkg", "hub.pkg", "kynms.pkg"}) qm::test::write_file(t / n, "x");
    const Var on("QUILLMAR_UNATTENDED", "1");
    auto list = [] {
        std::vector<std::string> out;
        using Read = const char*(__cdecl*)();
        for (const char* e = get<Read>("GetFirstFile", 9)(); e; e = get<Read>("GetNextFile", 10)()) out.emplace_back(e);
        return out;
    };
    struct Case {
        const char* select;
        uint32_t result;
        std::vector<std::string> list;
    } cases[] = {
        {"all", 1, {"hub.pkg", "Router.pkg", "switch.pkg"}},
        {"SWITCH.PKG;router.PKG", 1, {"Router.pkg", "switch.pkg"}},
        {"gateway.pkg;hub.pkg;kynms.pkg", 1, {"hub.pkg"}},
        {"gateway.pkg", 0, {}},
        {nullptr, 0, {}},
    };
    DialogWatcher watch;
    for (const Case& c : cases) {
        SetEnvironmentVariableA("QUILLMAR_SELECT", c.select);
        const Outcome o = call("DisplayPackageSelectionList", {0, T(t.str().c_str()), 1});
        EXPECT_EQ(o.result, c.result) << (c.select ? c.select : "(unset)");
        EXPECT_EQ(o.error, c.result ? 0u : 1223u);
        EXPECT_EQ(list(), c.list) << (c.select ? c.select : "(unset)");
    }
    SetEnvironmentVariableA("QUILLMAR_SELECT", nullptr);
    {
        const Var files("QUILLMAR_PACKAGES", "C:\\p\\b.pkg;c:\\p\\A.pkg");
        EXPECT_EQ(call("GetPackageFile", {0}).result, 1u);
        EXPECT_EQ(list(), (std::vector<std::string>{"C:\\p\\b.pkg", "c:\\p\\A.pkg"}));
    }
    const Outcome none = call("GetPackageFile", {0});
    EXPECT_EQ(none.result, 0u);
    EXPECT_EQ(none.error, 1223u);
    EXPECT_EQ(list(), (std::vector<std::string>{"C:\\p\\b.pkg", "c:\\p\\A.pkg"})) << "Cancel keeps the list";
    EXPECT_TRUE(watch.shown().empty());
}

// Every export's last error, in the order an install script might call them.
TEST(UnattendedDll, EveryExportSetsItsLastError) {
    TempDir t(false);
    const Var on("QUILLMAR_UNATTENDED", "1");
    const Var log("QUILLMAR_LOG", (t / "q.log").string().c_str());
    const SystemIniBackup ini;
    auto p = [&](const char* rel) {
        static std::vector<std::string> keep;
        keep.push_back((t / rel).string());
        return T(keep.back().c_str());
    };
    TarBuilder good;
    good.file("etc/dorva/devices/good.mfs", "m").dir("bin/").file("bin/x.txt", "x").end();
    qm::test::write_bytes(t / "good.pkg", good.bytes());
    TarBuilder damaged;
    qm::test::Member bad;
    bad.name = "b.txt";
    bad.checksum_delta = 7;
    damaged.file("a.txt", "a").add(bad).file("c.txt", "c").end();
    qm::test::write_bytes(t / "damaged.pkg", damaged.bytes());
    TarBuilder no_parent;  // one "/" and no directory member: the directory must be there
    no_parent.file("nodir/x.txt", "x").end();
    qm::test::write_bytes(t / "noparent.pkg", no_parent.bytes());
    qm::test::write_file(t / "from.txt", "line\n");
    qm::test::write_file(t / "g.ini", "[program]\r\nico1=a\r\n");
    qm::test::write_file(t / "src/a.txt", "a");
    qm::test::write_file(t / "src/sub/b.txt", "b");
    qm::test::write_file(t / "nms/bin/rzgatewy.ini", "[SERVICES]\r\n");
    qm::test::write_file(t / "ren/old.txt", "r");
    qm::test::write_file(t / "del.txt", "d");
    CreateDirectoryA((t / "out").string().c_str(), nullptr);
    CreateDirectoryA((t / "dst").string().c_str(), nullptr);
    const std::string sel = (t / "good.pkg").string();
    const Var files("QUILLMAR_PACKAGES", sel.c_str());

    struct Row {
        const char* name;
        std::vector<Word> args;
        int64_t result;  // -2: any; for a text result 1 means "not null"
        DWORD error;
    } rows[] = {
        // exports-list:begin (tests/source/every_export_listed.sh: rows for every export)
        {"AppendFile", {p("to.txt"), p("from.txt")}, 1, 0},
        {"AppendFile", {p("to.txt"), p("none.txt")}, 0, ERROR_FILE_NOT_FOUND},
        {"GetLastIconEntry", {p("g.ini")}, 2, 0},
        {"GetLastDisEntry", {p("g.ini")}, 1, 0},
        {"ExpandPackage", {p("good.pkg"), p("out")}, 0, 0},
        {"ExpandPackage", {p("none.pkg"), p("out")}, 0, ERROR_FILE_NOT_FOUND},
        {"ExpandPackage", {p("damaged.pkg"), p("out")}, 0, ERROR_INVALID_DATA},
        {"ExpandPackage", {p("noparent.pkg"), p("out")}, 0, ERROR_FILE_NOT_FOUND},
        {"ExpandPackage", {p("good.pkg"), p("no-such-dir")}, 0, ERROR_FILE_NOT_FOUND},
        {"GetManifestFile", {p("good.pkg"), p("out")}, 0, 0},
        {"GetManifestFile", {p("damaged.pkg"), p("out")}, 0, ERROR_FILE_NOT_FOUND},
        {"GetPackageFile", {0}, 1, 0},
        {"GetFirstFile", {}, 1, 0},
        {"GetNextFile", {}, 0, ERROR_NO_MORE_FILES},
        {"ClearPackageList", {}, 0, 0},
        {"GetFirstFile", {}, 0, ERROR_NO_MORE_FILES},
        {"DisplayPackageSelectionList", {0, p("."), 1}, 0, ERROR_CANCELLED},
        {"ModifyGatewayFile", {p("nms"), 0}, 1, 0},
        {"ModifyGatewayFile", {p("nms"), 0}, 1, ERROR_FILE_NOT_FOUND},  // its INI moved already
        {"GetShortFileName", {p("from.txt")}, 1, 0},
        {"GetShortFileName", {p("none.txt")}, 1, kAnyError},
        {"CreateTopTcl", {p("no-such-root")}, -2, kAnyError},
        {"SetEnvVariable", {T("QM_UNATTENDED_TEST"), T("v")}, 1, 0},
        {"RenDirectory", {p("ren"), p("ren2")}, 0, 0},
        {"RenDirectory", {p("ren"), p("ren3")}, -1, ERROR_FILE_NOT_FOUND},
        {"MyRenameFile", {p("ren2/old.txt"), p("ren2/new.txt")}, 0, 0},
        {"MyRenameFile", {p("ren2/old.txt"), p("ren2/x.txt")}, -1, ERROR_FILE_NOT_FOUND},
        {"MyDeleteFile", {p("del.txt")}, 1, 0},
        {"MyDeleteFile", {p("del.txt")}, 0, ERROR_FILE_NOT_FOUND},
        {"GetReInstallPackageList", {p("out")}, 1, 0},
        {"GetReInstallPackageList", {p("dst")}, -1, kAnyError},
        {"MyFileCompare", {p("from.txt"), p("to.txt")}, -2, 0},
        {"MyFileCompare", {p("from.txt"), p("none.txt")}, 0, ERROR_FILE_NOT_FOUND},
        {"MyCopyFiles", {p("src"), p("dst"), T("*")}, 1, 0},  // ".", ".." and "sub" are no failure
        {"MyCopyFiles", {p("src"), p("dst"), T("*.none")}, 0, ERROR_FILE_NOT_FOUND},
        {"RemovePackage", {p("damaged.pkg"), p("out")}, 0, ERROR_INVALID_DATA},  // a.txt went, b.txt is beyond
        {"RemovePackage", {p("good.pkg"), p("out")}, 0, 0},
        {"RemovePackage", {p("none.pkg"), p("out")}, -1, ERROR_FILE_NOT_FOUND},
        {"RemovePackage", {p("good.pkg"), p("no-such-dir")}, -1, ERROR_FILE_NOT_FOUND},
        // exports-list:end
    };
    const TclEnvironmentBackup env;
    DialogWatcher watch;
    for (const Row& r : rows) {
        const Outcome o = call(r.name, r.args);
        const bool text = std::string(r.name) == "GetFirstFile" || std::string(r.name) == "GetNextFile" ||
                          std::string(r.name) == "GetShortFileName";
        const int64_t result = text ? (o.word != 0) : static_cast<int64_t>(static_cast<int32_t>(o.result));
        if (r.result != -2) {
            EXPECT_EQ(result, r.result) << r.name;
        }
        if (r.error == kAnyError) {
            EXPECT_NE(o.error, 0u) << r.name;
        } else {
            EXPECT_EQ(o.error, r.error) << r.name << "\n" << slurp((t / "q.log").string());
        }
    }
    SetEnvironmentVariableA("QM_UNATTENDED_TEST", nullptr);
    EXPECT_TRUE(watch.shown().empty());
}

// Null for every text, in either mode: the result of a failed call, never a crash.
TEST(UnattendedDll, EveryExportSurvivesNullTexts) {
    const SystemIniBackup ini;
    const TclEnvironmentBackup env;
    struct Row {
        const char* name;
        std::vector<Word> args;
        int32_t result;
        DWORD error;
    } rows[] = {
        // exports-list:begin (tests/source/every_export_listed.sh: every export with a text to pass)
        // exports-list:not GetPackageFile GetFirstFile GetNextFile ClearPackageList (no text parameter)
        {"AppendFile", {0, 0}, 0, ERROR_INVALID_PARAMETER},
        {"GetLastIconEntry", {0}, 1, ERROR_INVALID_PARAMETER},
        {"GetLastDisEntry", {0}, 1, ERROR_INVALID_PARAMETER},
        {"ExpandPackage", {0, 0}, 0, ERROR_INVALID_PARAMETER},
        {"GetManifestFile", {0, 0}, 0, ERROR_INVALID_PARAMETER},
        {"ModifyGatewayFile", {0, 0}, 1, ERROR_INVALID_PARAMETER},
        {"CreateTopTcl", {0}, -2, ERROR_INVALID_PARAMETER},
        {"SetEnvVariable", {0, 0}, 0, ERROR_INVALID_PARAMETER},
        {"RenDirectory", {0, 0}, -1, ERROR_INVALID_PARAMETER},
        {"MyRenameFile", {0, 0}, -1, ERROR_INVALID_PARAMETER},
        {"MyDeleteFile", {0}, 0, ERROR_INVALID_PARAMETER},
        {"GetReInstallPackageList", {0}, -1, ERROR_INVALID_PARAMETER},
        {"MyFileCompare", {0, 0}, 0, ERROR_INVALID_PARAMETER},
        {"MyCopyFiles", {0, 0, 0}, 0, ERROR_INVALID_PARAMETER},
        {"DisplayPackageSelectionList", {0, 0, 1}, 0, ERROR_CANCELLED},
        {"RemovePackage", {0, 0}, -1, ERROR_INVALID_PARAMETER},
    };
    const Var on("QUILLMAR_UNATTENDED", "1");
    for (const Row& r : rows) {
        const Outcome o = call(r.name, r.args);
        if (r.result != -2) {
            EXPECT_EQ(static_cast<int32_t>(o.result), r.result) << r.name;
        }
        if (r.error == kAnyError) {
            EXPECT_NE(o.error, 0u) << r.name;
        } else {
            EXPECT_EQ(o.error, r.error) << r.name;
        }
    }
    const Outcome s = call("GetShortFileName", {0});
    ASSERT_NE(s.word, 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(s.word), "");
    EXPECT_EQ(s.error, static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    // exports-list:end
}

// No log through a link or a second name, no outcome changed; a new log lets in only the caller and
// the administrators (Wine maps the DACL to the host's mode and reads back the owner and SYSTEM).
TEST(UnattendedDll, TheLogIsNeverWrittenThroughALinkAndANewOneIsPrivate) {
    TempDir t(false);
    const std::string target = (t / "target.txt").string(), link = (t / "link.log").string(),
                      hard = (t / "hard.log").string(), fresh = (t / "new.log").string();
    qm::test::write_file(target, "");
    ASSERT_TRUE(CreateHardLinkA(hard.c_str(), target.c_str(), nullptr)) << GetLastError();
    const auto create_link = reinterpret_cast<BOOLEAN(WINAPI*)(const char*, const char*, DWORD)>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "CreateSymbolicLinkA")));  // newer than the headers' target
    const DWORD attributes = create_link && create_link(link.c_str(), target.c_str(), 2 /* unprivileged */)
                                 ? GetFileAttributesA(link.c_str()) : INVALID_FILE_ATTRIBUTES;
    const bool reparse = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (!reparse) std::printf("[ note ] no reparse point can be made here (Wine 8): no link row\n");
    const Var on("QUILLMAR_UNATTENDED", "1");
    for (const std::string& log : {hard, fresh, reparse ? link : hard}) {
        const Var log_var("QUILLMAR_LOG", log.c_str());
        EXPECT_EQ(call("MyDeleteFile", {T("Z:\\no-such-file")}).error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        EXPECT_EQ(slurp(log).find("MyDeleteFile(") != std::string::npos, log == fresh) << log;
    }
    EXPECT_EQ(slurp(target), "") << "nothing through a link";
    char sd[4096], *sddl = nullptr;
    DWORD needed = 0;
    ASSERT_TRUE(GetFileSecurityA(fresh.c_str(), DACL_SECURITY_INFORMATION, sd, sizeof sd, &needed) &&
                ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, 1, DACL_SECURITY_INFORMATION, &sddl, nullptr));
    const std::string dacl = sddl;
    LocalFree(sddl);
    for (const char* other : {";WD)", ";BU)", ";AU)", ";IU)"}) EXPECT_EQ(dacl.find(other), std::string::npos) << dacl;
}

// The child's half of the next test: on a new window station, which nobody can see,
// the calls run unattended by themselves.
TEST(UnattendedDll, ChildOnAnInvisibleStation) {
    char started[64];
    if (!GetEnvironmentVariableA("QM_UNATTENDED_CHILD", started, sizeof started)) GTEST_SKIP() << "run by the next test";
    HWINSTA station = CreateWindowStationA(nullptr, 0, WINSTA_ALL_ACCESS, nullptr);
    if (!station || !SetProcessWindowStation(station)) std::exit(3);
    HANDLE go = OpenEventA(EVENT_MODIFY_STATE, FALSE, started);
    if (!go) std::exit(4);
    SetEvent(go);  // the parent appends from now on, while this process does
    for (int i = 0; i < 2000; ++i) call("GetLastIconEntry", {T("Z:\\no-such.ini")});
    std::exit(0);
}

TEST(UnattendedDll, TwoProcessesAppendWholeLinesAndAnInvisibleStationIsUnattended) {
    TempDir t(false);
    const std::string log = (t / "both.log").string();
    const Var log_var("QUILLMAR_LOG", log.c_str());
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string cmd = std::string("\"") + exe + "\" --gtest_filter=UnattendedDll.ChildOnAnInvisibleStation";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    const std::string started = "Local\\qm-unattended-child-" + std::to_string(GetCurrentProcessId());
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, started.c_str());
    ASSERT_NE(go, nullptr);
    {
        const Var role("QM_UNATTENDED_CHILD", started.c_str());
        ASSERT_TRUE(CreateProcessA(exe, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
    }
    // Once the child appends, this process appends too, as long as the child runs: the
    // two overlap however slowly Wine starts a process. Every wait is bounded.
    const HANDLE either[] = {go, pi.hProcess};
    WaitForMultipleObjects(2, either, FALSE, 300000);
    CloseHandle(go);
    int mine = 0;
    while (WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT && mine < 20000) {
        call("GetLastIconEntry", {T("Z:\\no-such.ini")});
        ++mine;
    }
    const bool ended = WaitForSingleObject(pi.hProcess, 300000) == WAIT_OBJECT_0;
    if (!ended) TerminateProcess(pi.hProcess, 9);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    ASSERT_TRUE(ended);
    ASSERT_NE(code, 3u) << "no new window station could be made current";
    ASSERT_NE(code, 4u) << "the child could not signal its start";
    ASSERT_EQ(code, 0u);

    std::istringstream lines(slurp(log));
    std::string l;
    int child = 0, parent = 0, other = 0;
    const std::string call_line = " GetLastIconEntry(\"Z:\\no-such.ini\") = 1, last error 0";
    while (std::getline(lines, l)) {
        const size_t at = l.find(" pid ");
        const bool whole = l.size() > 24 && l[4] == '-' && at == 23 && l.back() == '\r';
        if (whole && l.find(call_line + " [unattended]\r") != std::string::npos)
            ++child;
        else if (whole && l.find(call_line + "\r") != std::string::npos)
            ++parent;
        else
            ++other;
    }
    EXPECT_EQ(other, 0) << "lines mixed or cut";
    EXPECT_EQ(child, 2000) << "the invisible station's calls run unattended";
    EXPECT_EQ(parent, mine);
}

}  // namespace
