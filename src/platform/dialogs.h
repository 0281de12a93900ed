// The two choices the user makes on screen: the library's own list dialog and the
// platform's file-open dialog. The list dialog's behaviour is the library's (see
// packages/selection_dialog.h); the platform only hosts it: a real dialog on Windows, a
// prompt on the controlling terminal elsewhere. Both talk to it through the list-box
// and window interfaces below, so the same behaviour runs over either host and over the
// in-memory list box of the tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/result.h"

namespace qm::plat {

// What the list dialog does with its list box, one call per list-box message.
class ListBox {
public:
    static constexpr int kError = -1;  // LB_ERR

    // LB_ADDSTRING: inserts text at its sorted place; its index, or a negative value
    // when it cannot be stored.
    virtual int add(const char* text) noexcept = 0;
    // LB_FINDSTRING from the top (start index -1): the first item whose text begins with
    // prefix, letters compared without regard to case; kError when none does.
    virtual int find_prefix(const char* prefix) noexcept = 0;
    // LB_DELETESTRING.
    virtual void remove(int index) noexcept = 0;
    // LB_GETSELCOUNT.
    virtual int selected_count() noexcept = 0;
    // LB_GETSELITEMS: at most max indices of selected items, ascending; how many written.
    virtual int selected_items(int32_t* out, int max) noexcept = 0;
    // LB_GETTEXT into out (size bytes, terminator included). False when there is no such
    // item or its text does not fit whole; out is then empty.
    virtual bool text(int index, char* out, size_t size) noexcept = 0;
    // LB_SETSEL with index -1: every item selected (true) or deselected (false).
    virtual void select_all(bool on) noexcept = 0;

protected:
    ~ListBox() = default;
};

// What the list dialog does with its own window.
class DialogWindow {
public:
    virtual void set_caption(const char* text) noexcept = 0;
    virtual void center_on_screen() noexcept = 0;
    // EndDialog: the host closes the dialog once the current message is handled, and
    // show_list_dialog returns result.
    virtual void end(int result) noexcept = 0;

protected:
    ~DialogWindow() = default;
};

// The dialog's behaviour, called by the host on opening and on every command.
class ListDialogLogic {
public:
    virtual void open(ListBox& list, DialogWindow& window) noexcept = 0;
    // id: the command id (button id); list-box notifications arrive with id 1000.
    virtual void command(int id, ListBox& list, DialogWindow& window) noexcept = 0;

protected:
    ~ListDialogLogic() = default;
};

// Shows the package selection dialog (template 101 of the module loaded under the file
// name "quillmar.dll") owned by owner, runs it with logic until it ends, and answers the
// result given to end(). When the dialog cannot be shown: the failure value of the
// platform's dialog-box call (-1; 0 for an invalid owner on Windows), with the failure.
// On POSIX it runs on the controlling terminal, and -1 means there is none.
struct ListDialogAnswer {
    int result = 0;
    CallResult failure;
};
ListDialogAnswer show_list_dialog(void* owner, ListDialogLogic& logic) noexcept;

// The platform's file-open dialog for packages, owned by owner, starting in the current
// directory with the "*.pkg" files, several files allowed. True when the user confirmed
// a choice: selection (size bytes) then holds the full path of the one chosen file, or
// the directory followed by each chosen name, separated by single spaces. False when
// the user cancelled or the dialog failed (selection's contents are then unspecified).
bool choose_package_files(void* owner, char* selection, size_t size) noexcept;

}  // namespace qm::plat
