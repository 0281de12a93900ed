// The list dialog on Windows: template 101 of quillmar.dll, with a dialog procedure
// that hands the opening and every command to the library's dialog logic.
#include <windows.h>

#include "platform/dialog_ids.h"
#include "platform/dialogs.h"
#include "platform/win32/errmap.h"

namespace qm::plat {

namespace {

class Win32ListBox final : public ListBox {
public:
    explicit Win32ListBox(HWND dialog) noexcept : dialog_(dialog) {}
    int add(const char* text) noexcept override {
        return static_cast<int>(send(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    int find_prefix(const char* prefix) noexcept override {
        const LRESULT r = send(LB_FINDSTRING, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(prefix));
        return r == LB_ERR ? kError : static_cast<int>(r);
    }
    void remove(int index) noexcept override { send(LB_DELETESTRING, static_cast<WPARAM>(index), 0); }
    int selected_count() noexcept override { return static_cast<int>(send(LB_GETSELCOUNT, 0, 0)); }
    int selected_items(int32_t* out, int max) noexcept override {
        static_assert(sizeof(INT) == sizeof(int32_t), "LB_GETSELITEMS writes INTs");
        const LRESULT n = send(LB_GETSELITEMS, static_cast<WPARAM>(max), reinterpret_cast<LPARAM>(out));
        return n < 0 ? 0 : static_cast<int>(n);
    }
    bool text(int index, char* out, size_t size) noexcept override {
        if (size == 0) return false;
        out[0] = '\0';
        // LB_GETTEXT knows no buffer size: ask for the length first.
        const LRESULT len = send(LB_GETTEXTLEN, static_cast<WPARAM>(index), 0);
        if (len == LB_ERR || static_cast<size_t>(len) >= size) return false;
        return send(LB_GETTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(out)) != LB_ERR;
    }
    void select_all(bool on) noexcept override {
        send(LB_SETSEL, on ? TRUE : FALSE, static_cast<LPARAM>(-1));
    }

private:
    LRESULT send(UINT msg, WPARAM wp, LPARAM lp) noexcept {
        return SendDlgItemMessageA(dialog_, IDC_PACKAGE_LIST, msg, wp, lp);
    }
    HWND dialog_;
};

}  // namespace

// Moves the window to the centre of the screen, keeping its size and z-order.
void CenterWindowOnScreen(HWND window) noexcept {
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left;
    const int h = r.bottom - r.top;
    HDC dc = GetDC(window);
    const int screen_w = GetDeviceCaps(dc, HORZRES);
    const int screen_h = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(window, dc);
    SetWindowPos(window, nullptr, (screen_w - w) / 2, (screen_h - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

namespace {

class Win32DialogWindow final : public DialogWindow {
public:
    explicit Win32DialogWindow(HWND dialog) noexcept : dialog_(dialog) {}
    void set_caption(const char* text) noexcept override { SetWindowTextA(dialog_, text); }
    void center_on_screen() noexcept override { CenterWindowOnScreen(dialog_); }
    void end(int result) noexcept override { EndDialog(dialog_, result); }

private:
    HWND dialog_;
};

}  // namespace

// The dialog's logic comes as its initial parameter and stays with the window
// (GWLP_USERDATA), so two dialogs, on two threads or one inside the other, each have
// their own and no global holds either. Messages before WM_INITDIALOG find none.
INT_PTR CALLBACK PackageSelectionDialogProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) SetWindowLongPtrA(dialog, GWLP_USERDATA, lparam);
    auto* logic = reinterpret_cast<ListDialogLogic*>(GetWindowLongPtrA(dialog, GWLP_USERDATA));
    if (!logic) return FALSE;
    Win32ListBox list(dialog);
    Win32DialogWindow window(dialog);
    switch (message) {
    case WM_INITDIALOG:
        logic->open(list, window);
        return TRUE;  // the focus goes to the first tab stop, OK
    case WM_COMMAND:
        // Only the id counts: the list box's own notifications arrive as id 1000.
        logic->command(LOWORD(wparam), list, window);
        return FALSE;
    default:
        return FALSE;
    }
}

ListDialogAnswer show_list_dialog(void* owner, ListDialogLogic& logic) noexcept {
    // The template is looked up under the library's file name: loaded under any other
    // name, the library shows no dialog (and never one of the host program's templates).
    HMODULE module = GetModuleHandleA(QM_DLL_FILE);
    if (!module) return {-1, failed_now(FileStep::Open)};
    const INT_PTR r = DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_PACKAGE_SELECTION), static_cast<HWND>(owner),
                                      PackageSelectionDialogProc, reinterpret_cast<LPARAM>(&logic));
    const CallResult failed = r == -1 ? failed_now(FileStep::Open) : CallResult{};
    return {static_cast<int>(r), failed};
}

}  // namespace qm::plat
