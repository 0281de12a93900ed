// The DLL keeps no file, directory search, stream or other handle open across calls:
// every export is called through the real quillmar.dll over a small installation tree,
// with the dialogs and message boxes answered, and the process's handle count is taken
// around it. The first call of each export is not counted: it is where the system's own
// libraries (the common dialogs, fonts, the registry) set up what they keep for the
// life of the process; two calls after it must leave the count where it was.
#include <gtest/gtest.h>
#include <windows.h>
#include <dlgs.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/launch_records.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "win32/config_guards.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::TarBuilder;
using qm::test::TempDir;
using qm::test::write_file;
namespace fs = std::filesystem;

namespace {

// The process's handles in the system's handle table (SystemHandleInformation), which
// Wine keeps in its server; its GetProcessHandleCount answers 0 whatever is open.
DWORD handles_in_system_table() {
    struct Entry {
        ULONG pid;
        BYTE type;
        BYTE flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using QueryFn = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<QueryFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return 0;
    std::vector<unsigned char> buf(1 << 16);
    for (;;) {
        ULONG needed = 0;
        const LONG status = query(16 /* SystemHandleInformation */, buf.data(), static_cast<ULONG>(buf.size()), &needed);
        if (status == static_cast<LONG>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
            buf.resize(std::max<size_t>(buf.size() * 2, needed + 4096));
            continue;
        }
        if (status != 0) return 0;
        break;
    }
    const auto* table = reinterpret_cast<const Table*>(buf.data());
    DWORD n = 0;
    for (ULONG i = 0; i < table->count; ++i) n += table->entries[i].pid == GetCurrentProcessId() ? 1 : 0;
    return n;
}

DWORD handle_count() {
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n > 0) return n;
    return handles_in_system_table();
}

// The file-open dialog gets its answer once its modal loop runs.
std::string g_choice;
void CALLBACK answer_file_open(HWND dlg, UINT, UINT_PTR id, DWORD) {
    KillTimer(dlg, id);
    SetDlgItemTextA(dlg, edt1, g_choice.c_str());
    DialogWatcher::press(dlg, IDOK);
}

// Answers whatever the library shows: the list dialog with Select All and OK, the
// file-open dialog with one package, a message box with OK.
void answer(HWND h, const Shown& s) {
    if (s.caption == "Device Installation" || s.caption == "Uninstall Package") {
        DialogWatcher::press(h, 1001);
        DialogWatcher::press(h, IDOK);
    } else if (s.caption == "Select Package") {
        SetTimer(h, 0x5158, 20, answer_file_open);
    } else {
        DialogWatcher::press(h, IDOK);
    }
}

struct Call {
    const char* name;
    int ordinal;
    std::function<void()> run;
};

TEST(OpenHandles, EveryExportCalledTwiceLeavesNoneBehind) {
    ASSERT_NE(dll(), nullptr);
    SystemIniBackup ini_backup;
    TclEnvironmentBackup env_backup;
    TempDir t(false);
    const std::string base = t.str();
    auto p = [&](const char* rel) {
        std::string s = base + "\\" + rel;
        for (char& c : s)
            if (c == '/') c = '\\';
        return s;
    };

    TarBuilder pkg;
    pkg.file("etc/devices/router.mfs", "manifest").file("readme.txt", "text");
    qm::test::Member refused;  // a type the reader refuses: the error box comes up too
    refused.name = "link";
    refused.type = '2';
    pkg.add(refused).end();
    qm::test::write_bytes(t / "pkgs/router.pkg", pkg.bytes());
    fs::create_directories(t / "target/etc/devices");
    write_file(t / "ini/group.ini", "[program]\r\nico1=a\r\nico2=b\r\ndis1=c\r\n");
    write_file(t / "src/a.txt", "new a");
    write_file(t / "src/b.txt", "old b");
    write_file(t / "dst/b.txt", "newer b");
    qm::test::set_mtime(t / "src/b.txt", 1000000000);  // older: refused and logged
    write_file(t / "append/from.txt", "line\n");
    write_file(t / "nms/etc/dorva/devices/atm.mfs", "m");
    write_file(t / "nms/bin/rzgatewy.ini", "[SERVICES]\r\nCurrentService=0\r\n");
    write_file(t / "nms/bin/txgatewy.exe", "tx");
    write_file(t / "nms/bin/rzgatewy.exe", "rz");
    const fs::path fake = fs::path(dll_path()).parent_path() / "fake_wish.exe";
    ASSERT_TRUE(CopyFileA(fake.string().c_str(), p("nms/bin/wish.exe").c_str(), FALSE));
    write_file(t / "ren/old.txt", "r");
    fs::create_directories(t / "ren/olddir");
    write_file(t / "del/gone1.txt", "d");
    g_choice = p("pkgs/router.pkg");

    const std::string pkg_path = p("pkgs/router.pkg"), target = p("target"), ini = p("ini/group.ini"),
                      src = p("src"), dst = p("dst"), nms = p("nms"), from = p("append/from.txt"),
                      to = p("append/to.txt"), a = p("src/a.txt"), b = p("dst/b.txt"), pkgs = p("pkgs");
    // Renames and deletes go back and forth, so every call does real work.
    int flip = 0;
    auto there_and_back = [&](decltype(Exports::MyRenameFile) f, const std::string& x, const std::string& y) {
        const bool forth = (flip++ % 2) == 0;
        f((forth ? x : y).c_str(), (forth ? y : x).c_str());
    };
    int deleted = 0;
    // exports-list:begin (tests/source/every_export_listed.sh: a row for every export)
    const std::vector<Call> calls = {
        {"AppendFile", 3, [&] { exports().AppendFile(to.c_str(), from.c_str()); }},
        {"GetLastIconEntry", 4, [&] { exports().GetLastIconEntry(ini.c_str()); }},
        {"GetLastDisEntry", 5, [&] { exports().GetLastDisEntry(ini.c_str()); }},
        {"ExpandPackage", 6, [&] { exports().ExpandPackage(pkg_path.c_str(), target.c_str()); }},
        {"GetPackageFile", 7, [&] { exports().GetPackageFile(nullptr); }},
        {"DisplayPackageSelectionList", 8,
         [&] { exports().DisplayPackageSelectionList(nullptr, pkgs.c_str(), 1); }},
        {"GetFirstFile", 9, [&] { exports().GetFirstFile(); }},
        {"GetNextFile", 10, [&] { exports().GetNextFile(); }},
        {"ModifyGatewayFile", 11, [&] { exports().ModifyGatewayFile(nms.c_str(), 2048); }},
        {"GetShortFileName", 12, [&] { exports().GetShortFileName(nms.c_str()); }},
        {"CreateTopTcl", 13, [&] { exports().CreateTopTcl(nms.c_str()); }},
        {"SetEnvVariable", 14, [&] { exports().SetEnvVariable("QM_HANDLES_TEST", "v"); }},
        {"RenDirectory", 15, [&] { there_and_back(exports().RenDirectory, p("ren/olddir"), p("ren/newdir")); }},
        {"GetManifestFile", 16,
         [&] { exports().GetManifestFile(pkg_path.c_str(), target.c_str()); }},
        {"MyRenameFile", 17, [&] { there_and_back(exports().MyRenameFile, p("ren/old.txt"), p("ren/new.txt")); }},
        {"MyDeleteFile", 18,
         [&] {
             const std::string gone = p("del/gone1.txt");
             write_file(gone, "d");
             EXPECT_NE(exports().MyDeleteFile(gone.c_str()), 0);
             ++deleted;
         }},
        {"GetReInstallPackageList", 19, [&] { exports().GetReInstallPackageList(nms.c_str()); }},
        {"ClearPackageList", 21, [&] { exports().ClearPackageList(); }},
        {"MyFileCompare", 22, [&] { exports().MyFileCompare(a.c_str(), b.c_str()); }},
        {"MyCopyFiles", 23,
         [&] { exports().MyCopyFiles(src.c_str(), dst.c_str(), "*"); }},
        {"RemovePackage", 24,  // installed again each time, so that every removal deletes files
         [&] {
             exports().ExpandPackage(pkg_path.c_str(), target.c_str());
             EXPECT_EQ(exports().RemovePackage(pkg_path.c_str(), target.c_str()), 0);
         }},
    };
    // exports-list:end

    DialogWatcher watch(answer, 60000);
    DWORD first = 0, last = 0;
    for (const Call& c : calls) {
        FARPROC fn = by_ordinal(c.ordinal);
        ASSERT_NE(fn, nullptr) << c.name;
        ASSERT_EQ(fn, by_name(c.name)) << c.name;
        c.run();  // the system's one-time set-up, not counted
        const DWORD before = handle_count();
        c.run();
        c.run();
        const DWORD after = handle_count();
        EXPECT_GT(before, 0u) << c.name;
        EXPECT_EQ(after, before) << c.name << " left " << static_cast<long>(after - before) << " handle(s) open";
        if (!first) first = before;
        last = after;
        if (std::string(c.name) == "CreateTopTcl") qm::test::launch_records(t / "nms/bin", 6);
    }
    EXPECT_FALSE(watch.timed_out());
    EXPECT_EQ(deleted, 3);
    // The dialogs and the error box were really shown, once per call.
    int lists = 0, opens = 0, boxes = 0;
    for (const Shown& s : watch.shown()) {
        lists += s.caption == "Device Installation";
        opens += s.caption == "Select Package";
        boxes += s.caption == "Error";
    }
    EXPECT_EQ(lists, 3);
    EXPECT_EQ(opens, 3);
    EXPECT_EQ(boxes, 9) << "ExpandPackage reaches the refused member, three times alone and three times before "
                           "RemovePackage, which reaches it too; GetManifestFile stops at the manifest";
    std::printf("process handles around the export table: %lu before, %lu after\n", first, last);
}

}  // namespace
