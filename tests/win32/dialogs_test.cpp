// The two selection dialogs and the list exports through the real quillmar.dll: what
// the user sees (caption, items, order, place on the screen, the template itself), what
// each button leaves in the package list, the file-open dialog's settings, and the
// module-name lookup of the dialog template.
#include <gtest/gtest.h>
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/list_box_order.h"
#include "common/temp_dir.h"
#include "win32/harness.h"

using namespace qm::wintest;
using qm::test::TempDir;
using Names = std::vector<std::string>;

namespace {

constexpr int kList = 1000, kSelectAll = 1001, kUnselectAll = 1002;

auto display() { return exports().DisplayPackageSelectionList; }
auto package_file() { return exports().GetPackageFile; }
auto first() { return exports().GetFirstFile; }
auto next() { return exports().GetNextFile; }
auto reinstall() { return exports().GetReInstallPackageList; }
auto clear() { return exports().ClearPackageList; }

Names read_list() {
    Names out;
    for (const char* e = first()(); e; e = next()()) out.emplace_back(e);
    return out;
}

// n entries through the reinstall list, read to the end (the cursor is then n).
Names earlier_list(int n) {
    TempDir root(false);
    for (int i = 0; i < n; ++i)
        qm::test::write_file(root / ("etc/dorva/devices/old" + std::to_string(i) + ".mfs"), "m");
    EXPECT_EQ(reinstall()(root.str().c_str()), 1);
    return read_list();
}

Names list_box_items(HWND dlg) {
    HWND lb = GetDlgItem(dlg, kList);
    Names out;
    const int n = static_cast<int>(SendMessageA(lb, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < n; ++i) {
        char buf[MAX_PATH];
        SendMessageA(lb, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buf));
        out.emplace_back(buf);
    }
    return out;
}

// Runs f on the dialog once its modal loop is running, so that focus and position are
// final and posted clicks arrive in order.
std::function<void(HWND)> g_pending;
void CALLBACK run_pending(HWND dlg, UINT, UINT_PTR id, DWORD) {
    KillTimer(dlg, id);
    auto f = std::move(g_pending);
    g_pending = nullptr;
    if (f) f(dlg);
}
void when_running(HWND dlg, std::function<void(HWND)> f) {
    g_pending = std::move(f);
    SetTimer(dlg, 0x5157, 20, run_pending);
}

void post_key(HWND dlg, UINT vk) {
    HWND target = GetFocus();
    if (!target) target = dlg;
    PostMessageA(target, WM_KEYDOWN, vk, 0);
    PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
}

// One run of the list dialog through the export: what was on screen, and the result.
struct ListRun {
    int result = -99;
    size_t dialogs = 0;
    bool timed_out = false;
    std::string caption;
    Names items;
    RECT rect{};
    bool focus_on_ok = false;
    DWORD error = 0xBADC0DE;  // the last error the export left
};

ListRun run_list(const std::string& dir, int mode, std::function<void(HWND)> drive, HWND owner = nullptr) {
    ListRun r;
    DialogWatcher watch([&](HWND h, const Shown&) {
        when_running(h, [&](HWND d) {
            r.caption = window_text(d);
            r.items = list_box_items(d);
            GetWindowRect(d, &r.rect);
            r.focus_on_ok = GetFocus() == GetDlgItem(d, IDOK);
            drive(d);
        });
    });
    r.result = display()(owner, dir.c_str(), mode);
    r.error = GetLastError();
    r.dialogs = watch.shown().size();
    r.timed_out = watch.timed_out();
    return r;
}

class ListDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(display(), nullptr);
        ASSERT_NE(first(), nullptr);
        clear()();
    }
    void touch(const std::string& name) { qm::test::write_file(dir / name, "x"); }
    std::string path() const { return dir.str(); }
    TempDir dir;
};

TEST_F(ListDialog, InstallModeShowsThePackagesSortedWithoutTheCore) {
    for (const char* n : {"b.pkg", "a.pkg", "kynms.pkg", "notes.txt"}) touch(n);
    ListRun r = run_list(path(), 1, [](HWND d) { DialogWatcher::press(d, IDCANCEL); });
    EXPECT_EQ(r.dialogs, 1u);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.caption, "Device Installation");
    EXPECT_EQ(r.items, (Names{"a.pkg", "b.pkg"}));
    EXPECT_TRUE(r.focus_on_ok) << "the focus starts on the first tab stop, OK";
    EXPECT_EQ(r.result, 0);
}

TEST_F(ListDialog, UninstallModeShowsEveryEntryButDotNamesUnderItsCaption) {
    for (const char* n : {"b.pkg", "a.pkg", "kynms.pkg", "notes.txt", ".hidden.pkg"}) touch(n);
    CreateDirectoryA((path() + "\\sub").c_str(), nullptr);
    ListRun r = run_list(path(), 0, [](HWND d) { DialogWatcher::press(d, IDCANCEL); });
    EXPECT_EQ(r.caption, "Uninstall Package");
    EXPECT_EQ(r.items, (Names{"a.pkg", "b.pkg", "notes.txt", "sub"}));
}

TEST_F(ListDialog, OnlyTheFirstCoreNameGoes) {
    touch("kynms.pkg");
    touch("KYNMS.PKG.OLD");
    auto cancel = [](HWND d) { DialogWatcher::press(d, IDCANCEL); };
    EXPECT_EQ(run_list(path(), 0, cancel).items, Names{"KYNMS.PKG.OLD"});
    DeleteFileA((path() + "\\kynms.pkg").c_str());
    EXPECT_EQ(run_list(path(), 0, cancel).items, Names{});
}

TEST_F(ListDialog, ItemsKeepTheListBoxOrderTheLogicIsTestedAgainst) {
    const Names& sorted = qm::test::sorted_package_names();
    for (const std::string& n : sorted) touch(n);
    EXPECT_EQ(run_list(path(), 1, [](HWND d) { DialogWatcher::press(d, IDCANCEL); }).items, sorted);
}

TEST_F(ListDialog, SelectAllThenOkTakesEveryItem) {
    for (const char* n : {"c.pkg", "a.pkg", "b.pkg"}) touch(n);
    ListRun r = run_list(path(), 1, [](HWND d) {
        DialogWatcher::press(d, kSelectAll);
        DialogWatcher::press(d, IDOK);
    });
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(r.error, 0u) << "success, not the list's end (18)";
    EXPECT_EQ(read_list(), (Names{"a.pkg", "b.pkg", "c.pkg"}));
}

TEST_F(ListDialog, TheTemplatesButtonsAreWiredToTheirCommands) {
    for (const char* n : {"a.pkg", "b.pkg"}) touch(n);
    ListRun r = run_list(path(), 1, [](HWND d) {
        SendMessageA(GetDlgItem(d, kSelectAll), BM_CLICK, 0, 0);
        SendMessageA(GetDlgItem(d, kUnselectAll), BM_CLICK, 0, 0);
        SendMessageA(GetDlgItem(d, kSelectAll), BM_CLICK, 0, 0);
        EXPECT_EQ(SendDlgItemMessageA(d, kList, LB_GETSELCOUNT, 0, 0), 2);
        SendMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0);
    });
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(read_list(), (Names{"a.pkg", "b.pkg"}));
}

TEST_F(ListDialog, MoreThanAHundredSelectedKeepsTheFirstHundred) {
    for (int i = 0; i < 101; ++i) touch("p" + std::to_string(1000 + i) + ".pkg");
    ListRun r = run_list(path(), 1, [](HWND d) {
        DialogWatcher::press(d, kSelectAll);
        DialogWatcher::press(d, IDOK);
    });
    EXPECT_EQ(r.items.size(), 101u);
    EXPECT_EQ(r.result, 1);
    const Names got = read_list();
    ASSERT_EQ(got.size(), 100u);
    EXPECT_EQ(got.front(), "p1000.pkg");
    EXPECT_EQ(got.back(), "p1099.pkg");
}

TEST_F(ListDialog, ItemsSelectedByTheUserInListOrder) {
    for (const char* n : {"d.pkg", "c.pkg", "a.pkg", "b.pkg"}) touch(n);
    ListRun r = run_list(path(), 1, [](HWND d) {
        SendDlgItemMessageA(d, kList, LB_SETSEL, TRUE, 3);
        SendDlgItemMessageA(d, kList, LB_SETSEL, TRUE, 1);
        // The list box's own notifications change nothing.
        SendMessageA(d, WM_COMMAND, MAKEWPARAM(kList, LBN_SELCHANGE), 0);
        SendMessageA(d, WM_COMMAND, MAKEWPARAM(kList, LBN_DBLCLK), 0);
        post_key(d, VK_RETURN);  // Enter: the default button
    });
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(read_list(), (Names{"b.pkg", "d.pkg"}));
}

TEST_F(ListDialog, UnselectAllThenOkGivesZeroAndAnEmptyList) {
    touch("a.pkg");
    earlier_list(2);
    ListRun r = run_list(path(), 1, [](HWND d) {
        DialogWatcher::press(d, kSelectAll);
        DialogWatcher::press(d, kUnselectAll);
        DialogWatcher::press(d, IDOK);
    });
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(first()(), nullptr);
}

TEST_F(ListDialog, CancelEscAndCloseAfterAnEarlierListLeaveItEmpty) {
    touch("a.pkg");
    const std::vector<std::function<void(HWND)>> ways = {
        [](HWND d) {
            DialogWatcher::press(d, kSelectAll);
            DialogWatcher::press(d, IDCANCEL);
        },
        [](HWND d) {
            DialogWatcher::press(d, kSelectAll);
            post_key(d, VK_ESCAPE);
        },
        [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); },
    };
    for (size_t i = 0; i < ways.size(); ++i) {
        ASSERT_EQ(earlier_list(3).size(), 3u);
        ListRun r = run_list(path(), 1, ways[i]);
        EXPECT_FALSE(r.timed_out) << i;
        EXPECT_EQ(r.result, 0) << i;
        EXPECT_EQ(first()(), nullptr) << i;
        EXPECT_EQ(next()(), nullptr) << i;
    }
}

TEST_F(ListDialog, OkLeavesTheCursorWhereTheLastReadingLeftIt) {
    touch("a.pkg");
    touch("b.pkg");
    earlier_list(5);  // read to its end: cursor 5
    ListRun r = run_list(path(), 1, [](HWND d) {
        DialogWatcher::press(d, kSelectAll);
        DialogWatcher::press(d, IDOK);
    });
    EXPECT_EQ(r.result, 1);
    EXPECT_EQ(next()(), nullptr);
    EXPECT_STREQ(first()(), "a.pkg");
    EXPECT_STREQ(next()(), "b.pkg");
}

TEST_F(ListDialog, MissingDirectoryOpensEmpty) {
    ListRun r = run_list(path() + "\\no-such-dir", 1, [](HWND d) { DialogWatcher::press(d, IDOK); });
    EXPECT_EQ(r.dialogs, 1u);
    EXPECT_TRUE(r.items.empty());
    EXPECT_EQ(r.result, 0);
}

TEST_F(ListDialog, CentredOnTheScreen) {
    touch("a.pkg");
    ListRun r = run_list(path(), 1, [](HWND d) { DialogWatcher::press(d, IDCANCEL); });
    HDC dc = GetDC(nullptr);
    const int W = GetDeviceCaps(dc, HORZRES), H = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(nullptr, dc);
    EXPECT_EQ(W, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(H, GetSystemMetrics(SM_CYSCREEN));
    const int w = r.rect.right - r.rect.left, h = r.rect.bottom - r.rect.top;
    EXPECT_GT(w, 0);
    EXPECT_EQ(r.rect.left, (W - w) / 2);
    EXPECT_EQ(r.rect.top, (H - h) / 2);
}

TEST_F(ListDialog, InvalidOwnerGivesThePlatformsResultAndLeavesTheList) {
    touch("a.pkg");
    ASSERT_EQ(earlier_list(2).size(), 2u);
    ListRun r = run_list(path(), 1, [](HWND d) { DialogWatcher::press(d, IDOK); },
                         reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7654321)));
    EXPECT_EQ(r.dialogs, 0u);
    EXPECT_EQ(r.result, 0);
    EXPECT_EQ(read_list().size(), 2u) << "the dialog never opened";
}

// --- the template as stored in the module ---

struct TemplateReader {
    const BYTE* p;
    WORD word() {
        WORD w;
        std::memcpy(&w, p, 2);
        p += 2;
        return w;
    }
    DWORD dword() {
        DWORD d;
        std::memcpy(&d, p, 4);
        p += 4;
        return d;
    }
    short sword() { return static_cast<short>(word()); }
    // A string, or an ordinal written as "#n".
    std::string sz_or_ord() {
        WORD w = word();
        if (w == 0xFFFF) return "#" + std::to_string(word());
        std::string s;
        for (; w != 0; w = word()) s += static_cast<char>(w);
        return s;
    }
    void align4(const BYTE* base) {
        while ((p - base) % 4) ++p;
    }
};

TEST(DialogTemplate, MatchesTheLayout) {
    ASSERT_NE(dll(), nullptr);
    HRSRC res = FindResourceExA(dll(), RT_DIALOG, MAKEINTRESOURCEA(101), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    ASSERT_NE(res, nullptr) << "dialog 101, language 1033";
    const BYTE* base = static_cast<const BYTE*>(LockResource(LoadResource(dll(), res)));
    ASSERT_NE(base, nullptr);
    TemplateReader t{base};
    const DWORD style = t.dword();
    EXPECT_EQ(style, 0x80C800C2u);
    EXPECT_NE(style >> 16, 0xFFFFu) << "a classic template, not the extended form";
    EXPECT_EQ(t.dword(), 0u) << "extended style";
    EXPECT_EQ(t.word(), 5) << "controls";
    EXPECT_EQ(t.sword(), 0);
    EXPECT_EQ(t.sword(), 0);
    EXPECT_EQ(t.sword(), 263);
    EXPECT_EQ(t.sword(), 148);
    EXPECT_EQ(t.sz_or_ord(), "") << "menu";
    EXPECT_EQ(t.sz_or_ord(), "") << "class";
    EXPECT_EQ(t.sz_or_ord(), "Device Installation");
    EXPECT_EQ(t.word(), 8) << "point size";
    EXPECT_EQ(t.sz_or_ord(), "MS Sans Serif");

    struct Control {
        int id;
        const char* cls;
        const char* text;
        short x, y, cx, cy;
        DWORD style;
    };
    const Control expected[] = {
        {1, "#128", "OK", 206, 7, 50, 14, 0x50010001},
        {2, "#128", "Cancel", 206, 24, 50, 14, 0x50010000},
        {1000, "#131", "", 30, 16, 148, 118, 0x50A10903},
        {1001, "#128", "&Select All", 206, 46, 50, 14, 0x50010000},
        {1002, "#128", "&UnSelect All", 206, 71, 50, 14, 0x50010000},
    };
    for (const Control& c : expected) {
        t.align4(base);
        EXPECT_EQ(t.dword(), c.style) << c.id;
        EXPECT_EQ(t.dword(), 0u) << c.id << " extended style";
        EXPECT_EQ(t.sword(), c.x) << c.id;
        EXPECT_EQ(t.sword(), c.y) << c.id;
        EXPECT_EQ(t.sword(), c.cx) << c.id;
        EXPECT_EQ(t.sword(), c.cy) << c.id;
        EXPECT_EQ(t.word(), c.id);
        EXPECT_EQ(t.sz_or_ord(), c.cls) << c.id;
        EXPECT_EQ(t.sz_or_ord(), c.text) << c.id;
        EXPECT_EQ(t.word(), 0) << c.id << " creation data";
    }
    EXPECT_LE(static_cast<DWORD>(t.p - base), SizeofResource(dll(), res));
}

// --- the module-name lookup, in a process that loaded only a renamed copy ---

TEST(ModuleName, ACopyUnderAnotherNameShowsNoDialog) {
    TempDir t(false);
    const std::string copy = t.str() + "\\qmcopy.dll";
    ASSERT_TRUE(CopyFileA(dll_path().c_str(), copy.c_str(), FALSE));
    qm::test::write_file(t / "pkgs/a.pkg", "x");
    const std::string report = t.str() + "\\report.txt";
    std::string probe = dll_path();
    probe = probe.substr(0, probe.find_last_of('\\') + 1) + "module_probe.exe";
    std::string cmd = "\"" + probe + "\" \"" + copy + "\" \"" + t.str() + "\\pkgs\" \"" + report + "\"";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessA(probe.c_str(), &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << GetLastError();
    ASSERT_EQ(WaitForSingleObject(pi.hProcess, scaled_ms(60000)), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    EXPECT_EQ(code, 0u);
    EXPECT_EQ(qm::test::read_file(report),
              "already_loaded=0\nloaded=1\nfound_by_name=0\nnext_at_load=null\nfirst_at_load=null\n"
              "display=-1\ndialogs=0\n");
}

// --- the file-open dialog ---

class FileOpen : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(package_file(), nullptr);
        clear()();
        for (const char* n : {"a.pkg", "b.pkg"}) qm::test::write_file(dir / n, "x");
        char cwd[MAX_PATH];
        GetCurrentDirectoryA(sizeof cwd, cwd);
        here = cwd;
        ASSERT_EQ(here.find(' '), std::string::npos) << "the classic form cannot carry a space";
    }
    // Runs GetPackageFile with the real dialog, typing name into its file-name field.
    int choose(const std::string& name, std::string* caption = nullptr, std::string* initial = nullptr) {
        DialogWatcher watch([&](HWND h, const Shown&) {
            when_running(h, [&](HWND d) {
                if (caption) *caption = window_text(d);
                char text[MAX_PATH] = {};
                GetDlgItemTextA(d, edt1, text, sizeof text);
                if (initial) *initial = text;
                if (name.empty()) {
                    DialogWatcher::press(d, IDCANCEL);
                } else {
                    SetDlgItemTextA(d, edt1, name.c_str());
                    DialogWatcher::press(d, IDOK);
                }
            });
        });
        const int r = package_file()(nullptr);
        EXPECT_EQ(watch.shown().size(), 1u);
        EXPECT_FALSE(watch.timed_out());
        return r;
    }
    TempDir dir;
    std::string here;
};

TEST_F(FileOpen, OneFileChosenGivesItsFullPath) {
    std::string caption, initial;
    EXPECT_EQ(choose("a.pkg", &caption, &initial), 1);
    EXPECT_EQ(caption, "Select Package");
    EXPECT_EQ(initial, "*.pkg");
    EXPECT_EQ(read_list(), Names{here + "\\a.pkg"});
}

TEST_F(FileOpen, AFileInAnotherDirectory) {
    qm::test::write_file(dir / "other/c.pkg", "x");
    EXPECT_EQ(choose(here + "\\other\\c.pkg"), 1);
    EXPECT_EQ(read_list(), Names{here + "\\other\\c.pkg"});
}

TEST_F(FileOpen, CancelledLeavesTheEarlierListAndCursor) {
    const Names earlier = earlier_list(3);
    first()();  // cursor 1
    EXPECT_EQ(choose(""), 0);
    EXPECT_EQ(next()(), earlier[1]);
    EXPECT_EQ(next()(), earlier[2]);
    EXPECT_EQ(next()(), nullptr);
}

// The dialog function as the DLL imports it, replaced for one test: records the
// settings record it is given and answers with a chosen selection text.
class OpenFileStub {
public:
    OpenFileStub(const char* answer, BOOL result) {
        answer_ = answer;
        result_ = result;
        seen_ = false;
        slot_ = import_slot(dll(), "comdlg32.dll", "GetOpenFileNameA");
        if (!slot_) return;
        DWORD old;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        saved_ = *slot_;
        *slot_ = reinterpret_cast<void*>(&stub);
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    ~OpenFileStub() {
        if (!slot_) return;
        DWORD old;
        VirtualProtect(slot_, sizeof *slot_, PAGE_READWRITE, &old);
        *slot_ = saved_;
        VirtualProtect(slot_, sizeof *slot_, old, &old);
    }
    bool installed() const { return slot_ != nullptr; }
    static bool seen() { return seen_; }
    static const OPENFILENAMEA& record() { return record_; }
    static const std::string& filter() { return filter_; }
    static const std::string& title() { return title_; }
    static const std::string& def_ext() { return def_ext_; }
    static const std::string& file_on_entry() { return file_on_entry_; }
    static bool rest_of_buffer_zero() { return rest_zero_; }

private:
    static void** import_slot(HMODULE m, const char* dll_name, const char* fn) {
        auto base = reinterpret_cast<BYTE*>(m);
        auto nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
        const auto& d = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (auto imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + d.VirtualAddress); imp->Name; ++imp) {
            if (_stricmp(reinterpret_cast<char*>(base + imp->Name), dll_name) != 0) continue;
            auto names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + imp->OriginalFirstThunk);
            auto slots = reinterpret_cast<void**>(base + imp->FirstThunk);
            for (size_t i = 0; names[i].u1.AddressOfData; ++i) {
                if (names[i].u1.Ordinal & IMAGE_ORDINAL_FLAG32) continue;
                auto by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names[i].u1.AddressOfData);
                if (!std::strcmp(reinterpret_cast<char*>(by_name->Name), fn)) return &slots[i];
            }
        }
        return nullptr;
    }
    static BOOL WINAPI stub(OPENFILENAMEA* ofn) {
        seen_ = true;
        record_ = *ofn;
        filter_.assign(ofn->lpstrFilter, 7);  // "*.pkg" and the two terminators
        title_ = ofn->lpstrTitle ? ofn->lpstrTitle : "(null)";
        def_ext_ = ofn->lpstrDefExt ? ofn->lpstrDefExt : "(null)";
        file_on_entry_ = ofn->lpstrFile;
        rest_zero_ = true;
        for (DWORD i = 6; i < ofn->nMaxFile; ++i) rest_zero_ = rest_zero_ && ofn->lpstrFile[i] == '\0';
        std::snprintf(ofn->lpstrFile, ofn->nMaxFile, "%s", answer_.c_str());
        return result_;
    }
    void** slot_ = nullptr;
    void* saved_ = nullptr;
    static inline std::string answer_;  // owned: callers pass temporaries
    static inline BOOL result_;
    static inline bool seen_;
    static inline OPENFILENAMEA record_;
    static inline std::string filter_, title_, def_ext_, file_on_entry_;
    static inline bool rest_zero_;
};

TEST_F(FileOpen, SettingsRecordFieldByField) {
    OpenFileStub stub("D:\\PKGS\\A.PKG", TRUE);
    ASSERT_TRUE(stub.installed());
    const HWND owner = reinterpret_cast<HWND>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(package_file()(owner), 1);
    ASSERT_TRUE(OpenFileStub::seen());
    const OPENFILENAMEA& o = OpenFileStub::record();
    // The record without the fields later versions appended: 76 bytes in the 32-bit DLL, 136 in
    // the 64-bit one.
    EXPECT_EQ(o.lStructSize, kX64 ? 136u : 76u);
    EXPECT_EQ(o.hwndOwner, owner);
    EXPECT_EQ(o.hInstance, nullptr);
    EXPECT_EQ(OpenFileStub::filter(), std::string("*.pkg\0\0", 7));
    EXPECT_EQ(o.lpstrCustomFilter, nullptr);
    EXPECT_EQ(o.nMaxCustFilter, 0u);
    EXPECT_EQ(o.nFilterIndex, 0u);
    EXPECT_EQ(OpenFileStub::file_on_entry(), "*.pkg");
    EXPECT_TRUE(OpenFileStub::rest_of_buffer_zero());
    EXPECT_EQ(o.nMaxFile, 10000u);
    EXPECT_EQ(o.lpstrFileTitle, nullptr);
    EXPECT_EQ(o.nMaxFileTitle, 0u);
    EXPECT_EQ(o.lpstrInitialDir, nullptr);
    EXPECT_EQ(OpenFileStub::title(), "Select Package");
    EXPECT_EQ(o.Flags, 0x1A00u);
    EXPECT_EQ(o.nFileOffset, 0);
    EXPECT_EQ(o.nFileExtension, 0);
    EXPECT_EQ(OpenFileStub::def_ext(), "pkg");
    EXPECT_EQ(o.lCustData, 0);
    EXPECT_EQ(o.lpfnHook, nullptr);
    EXPECT_EQ(o.lpTemplateName, nullptr);
    EXPECT_EQ(read_list(), Names{"D:\\PKGS\\A.PKG"});
}

TEST_F(FileOpen, SeveralChosenInTheClassicForm) {
    // Wine's classic dialog cannot return several names; the imported dialog function is
    // replaced to answer as the classic dialog does.
    OpenFileStub stub("D:\\PKGS A.PKG  B.PKG", TRUE);
    ASSERT_TRUE(stub.installed());
    earlier_list(5);
    EXPECT_EQ(package_file()(nullptr), 1);
    EXPECT_EQ(next()(), std::string("D:\\PKGS\\A.PKG")) << "the cursor went back to 0";
    EXPECT_EQ(read_list(), (Names{"D:\\PKGS\\A.PKG", "D:\\PKGS\\B.PKG"}));
}

TEST_F(FileOpen, FailedDialogOrNothingThatFitsLeavesTheList) {
    const Names earlier = earlier_list(3);
    first()();
    {
        OpenFileStub stub("D:\\PKGS\\A.PKG", FALSE);
        ASSERT_TRUE(stub.installed());
        EXPECT_EQ(package_file()(nullptr), 0);
    }
    {
        OpenFileStub stub(("D:\\" + std::string(120, 'x') + " A.PKG").c_str(), TRUE);
        EXPECT_EQ(package_file()(nullptr), 0);
    }
    EXPECT_EQ(next()(), earlier[1]);
}

}  // namespace
