// The export table as an install script binds to it: every name at its ordinal, the
// unassigned ordinals empty, undecorated names, who removes the arguments, and a DLL
// that needs no runtime DLL beyond the system's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <set>
#include <string>

#include "win32/config_guards.h"
#include "win32/harness.h"

using namespace qm::wintest;

namespace {

// What a probe call with harmless arguments still changes outside the test, and is
// saved and put back around it.
enum class SideEffect {
    None,
    GatewayIni,      // writes "Dir" into the Windows directory's gateway INI (code 0 passed)
    TclEnvironment,  // sets NMSROOT, TCL_LIBRARY and TK_LIBRARY
    NullOwner,       // the first argument is a window handle: passed as null
};

struct Export {
    const char* name;
    int ordinal;
    int args;
    bool callee_cleans;
    SideEffect side_effect = SideEffect::None;
};

// The whole table the library promises; each row is checked by name, by ordinal and
// by a call that measures who removed the arguments.
// exports-list:begin (tests/source/every_export_listed.sh: a row for every export)
const Export kExports[] = {
    {"AppendFile", 3, 2, true},
    {"GetLastIconEntry", 4, 1, true},
    {"GetLastDisEntry", 5, 1, true},
    {"ExpandPackage", 6, 2, true},
    {"GetPackageFile", 7, 1, true, SideEffect::NullOwner},
    {"DisplayPackageSelectionList", 8, 3, false, SideEffect::NullOwner},
    {"GetFirstFile", 9, 0, false},
    {"GetNextFile", 10, 0, false},
    {"ModifyGatewayFile", 11, 2, false, SideEffect::GatewayIni},
    {"GetShortFileName", 12, 1, false},
    {"CreateTopTcl", 13, 1, false, SideEffect::TclEnvironment},
    {"SetEnvVariable", 14, 2, false},
    {"RenDirectory", 15, 2, false},
    {"GetManifestFile", 16, 2, true},
    {"MyRenameFile", 17, 2, false},
    {"MyDeleteFile", 18, 1, false},
    {"GetReInstallPackageList", 19, 1, false},
    {"ClearPackageList", 21, 0, false},
    {"MyFileCompare", 22, 2, false},
    {"MyCopyFiles", 23, 3, false},
    {"RemovePackage", 24, 2, true},
};
// exports-list:end

const IMAGE_EXPORT_DIRECTORY* export_directory(HMODULE m) {
    auto base = reinterpret_cast<const BYTE*>(m);
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const auto& d = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    return reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + d.VirtualAddress);
}

TEST(ExportTable, LoadsByPlainName) {
    ASSERT_NE(dll(), nullptr) << "LoadLibrary(" QM_DLL_FILE ") failed: " << GetLastError();
    char name[MAX_PATH];
    GetModuleFileNameA(dll(), name, sizeof name);
    std::string n(name);
    std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_NE(n.find(std::string("\\") + QM_DLL_FILE), std::string::npos) << n;
}

TEST(ExportTable, EveryExportResolvesByNameAndOrdinal) {
    ASSERT_NE(dll(), nullptr);
    for (const Export& e : kExports) {
        FARPROC a = by_name(e.name);
        FARPROC b = by_ordinal(e.ordinal);
        EXPECT_NE(a, nullptr) << e.name;
        EXPECT_EQ(a, b) << e.name << " is not at ordinal " << e.ordinal;
    }
}

TEST(ExportTable, UnassignedOrdinalsResolveToNothing) {
    ASSERT_NE(dll(), nullptr);
    std::set<int> used;
    for (const Export& e : kExports) used.insert(e.ordinal);
    for (int ord = 1; ord <= 40; ++ord) {
        if (used.count(ord)) continue;
        EXPECT_EQ(by_ordinal(ord), nullptr) << "ordinal " << ord;
    }
    EXPECT_EQ(by_ordinal(1), nullptr);
    EXPECT_EQ(by_ordinal(2), nullptr);
    EXPECT_EQ(by_ordinal(20), nullptr);
}

TEST(ExportTable, NamesAreUndecoratedAndNothingElseIsExported) {
    ASSERT_NE(dll(), nullptr);
    const IMAGE_EXPORT_DIRECTORY* d = export_directory(dll());
    auto base = reinterpret_cast<const BYTE*>(dll());
    auto names = reinterpret_cast<const DWORD*>(base + d->AddressOfNames);
    auto ords = reinterpret_cast<const WORD*>(base + d->AddressOfNameOrdinals);
    std::set<std::string> expected;
    for (const Export& e : kExports) expected.insert(e.name);
    std::set<std::string> seen;
    for (DWORD i = 0; i < d->NumberOfNames; ++i) {
        std::string n = reinterpret_cast<const char*>(base + names[i]);
        EXPECT_EQ(n.find('@'), std::string::npos) << n;
        EXPECT_NE(n[0], '_') << n;
        seen.insert(n);
        const int ordinal = static_cast<int>(ords[i] + d->Base);
        for (const Export& e : kExports)
            if (n == e.name) {
                EXPECT_EQ(ordinal, e.ordinal) << n;
            }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_STREQ(reinterpret_cast<const char*>(base + d->Name), QM_DLL_FILE);
}

TEST(ExportTable, ImportsOnlySystemDlls) {
    ASSERT_NE(dll(), nullptr);
    auto base = reinterpret_cast<const BYTE*>(dll());
    auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, kX64 ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386);
    const auto& d = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto imp = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + d.VirtualAddress);
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                           "comdlg32.dll", "msvcrt.dll", "advapi32.dll"};
    int count = 0;
    for (; imp->Name; ++imp, ++count) {
        std::string n = reinterpret_cast<const char*>(base + imp->Name);
        std::transform(n.begin(), n.end(), n.begin(), [](unsigned char c) { return std::tolower(c); });
        EXPECT_TRUE(allowed.count(n)) << "imports " << n;
    }
    EXPECT_GT(count, 0);
}

TEST(CallingConvention, EachExportRemovesItsArgumentsAsDeclared) {
    ASSERT_NE(dll(), nullptr);
    // Arguments that make every call harmless: empty texts and null handles. A call
    // that shows a dialog is cancelled by the watcher.
    static const char kEmpty[] = "";
    static const char kNowhere[] = "Z:\\quillmar-no-such\\dir";
    DialogWatcher watch([](HWND h, const Shown&) { DialogWatcher::press(h, IDCANCEL); });
    for (const Export& e : kExports) {
        std::vector<Word> args;
        if (e.side_effect == SideEffect::NullOwner) args.push_back(0);
        for (int i = static_cast<int>(args.size()); i < e.args; ++i)
            args.push_back(reinterpret_cast<Word>(args.empty() ? kNowhere : kEmpty));
        // A platform code of 0 selects no service and copies no program.
        if (e.side_effect == SideEffect::GatewayIni) args[1] = 0;
        std::unique_ptr<SystemIniBackup> ini;
        std::unique_ptr<TclEnvironmentBackup> env;
        if (e.side_effect == SideEffect::GatewayIni) ini = std::make_unique<SystemIniBackup>();
        if (e.side_effect == SideEffect::TclEnvironment) env = std::make_unique<TclEnvironmentBackup>();
        Word result = 0;
        const int removed = bytes_removed_by_callee(by_ordinal(e.ordinal), args, &result);
        EXPECT_EQ(removed, e.callee_cleans && !kX64 ? 4 * e.args : 0) << e.name;
    }
    EXPECT_FALSE(watch.timed_out());
}

}  // namespace
