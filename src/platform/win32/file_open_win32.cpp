// The classic common file-open dialog, several files allowed: the choice comes back as
// one text, the directory and the names separated by spaces.
#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstdio>
#include <cstring>

#include "platform/dialogs.h"

namespace qm::plat {

static_assert(sizeof(void*) != 4 || offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(void*) == 76,
              "the 32-bit record is 76 bytes");

bool choose_package_files(void* owner, char* selection, size_t size) noexcept {
    if (size == 0) return false;
    std::memset(selection, 0, size);
    std::snprintf(selection, size, "%s", "*.pkg");

    // One filter text and no pattern after it: the string literal's own terminator
    // makes the second NUL that ends the list.
    static const char kFilter[] = "*.pkg\0";

    OPENFILENAMEA ofn;
    std::memset(&ofn, 0, sizeof ofn);
    // The record without the fields later versions appended: 76 bytes in the 32-bit
    // DLL, and what the same fields take in the 64-bit one (a fixed 76 there is a record
    // the dialog refuses).
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = static_cast<HWND>(owner);
    ofn.hInstance = nullptr;
    ofn.lpstrFilter = kFilter;
    ofn.lpstrCustomFilter = nullptr;
    ofn.nMaxCustFilter = 0;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = selection;
    ofn.nMaxFile = static_cast<DWORD>(size);
    ofn.lpstrFileTitle = nullptr;
    ofn.nMaxFileTitle = 0;
    ofn.lpstrInitialDir = nullptr;  // the current directory
    ofn.lpstrTitle = "Select Package";
    // No OFN_EXPLORER: the classic dialog, whose several names come back space-separated.
    ofn.Flags = OFN_ALLOWMULTISELECT | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    ofn.lpstrDefExt = "pkg";
    ofn.lCustData = 0;
    ofn.lpfnHook = nullptr;
    ofn.lpTemplateName = nullptr;
    return GetOpenFileNameA(&ofn) != 0;
}

}  // namespace qm::plat
