// The dialogs on a POSIX system: prompts on the controlling terminal. The list is
// numbered; the user toggles items by number, "all" and "none" stand for Select All and
// UnSelect All, an empty line confirms and "q" cancels. Exposed over plain streams for
// the tests; show_list_dialog and choose_package_files run them on /dev/tty.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/dialogs.h"

namespace qm::plat {

// Runs the list dialog with logic, reading answers from in and showing it on out; the
// result given to end(). The end of the input cancels.
int run_list_dialog_on(FILE* in, FILE* out, ListDialogLogic& logic) noexcept;

// Offers the "*.pkg" files of directory dir (the current directory, as the user knows
// it); true with the classic selection text in selection (the full path of one file, or
// dir and the names separated by spaces). False when cancelled, when nothing was chosen,
// or when the choice cannot be written as that text (a path with a space, or a text
// longer than size).
bool choose_package_files_on(FILE* in, FILE* out, const char* dir, char* selection, size_t size) noexcept;

}  // namespace qm::plat
