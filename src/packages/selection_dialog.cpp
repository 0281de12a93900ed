#include "packages/selection_dialog.h"

#include <cstdio>

#include "packages/scripted_answers.h"
#include "platform/dirsearch.h"
#include "platform/host.h"
#include "session/session.h"

namespace qm::packages {

int32_t SelectionMode = 0;
char SelectionPattern[kSelectionPatternSize] = {};
int32_t SelectedIndices[MAX_PACKAGES] = {};

void PackageSelectionDialog::open(plat::ListBox& list, plat::DialogWindow& window) noexcept {
    PackageList.count = 0;
    {
        plat::DirSearch search;
        if (SelectionPattern[0] != '\0' && search.first(SelectionPattern).ok()) {
            do {
                if (search.name()[0] != '.') list.add(search.name());
            } while (search.next());
        }
    }
    // The core package is never offered, whatever the case of its name.
    const int core = list.find_prefix("kynms.pkg");
    if (core != plat::ListBox::kError) list.remove(core);
    if (SelectionMode == 0) window.set_caption("Uninstall Package");
    window.center_on_screen();
}

void PackageSelectionDialog::command(int id, plat::ListBox& list, plat::DialogWindow& window) noexcept {
    switch (id) {
    case IDC_OK: {
        PackageList.count = 0;
        if (list.selected_count() <= 0) {
            window.end(0);
            return;
        }
        // More than MAX_PACKAGES selected: the first ones in list order.
        const int n = list.selected_items(SelectedIndices, MAX_PACKAGES);
        for (int i = 0; i < n; ++i) {
            char name[kSelectionPatternSize];
            if (list.text(SelectedIndices[i], name, sizeof name)) append_package_entry("%s", name);
        }
        window.end(PackageList.count > 0 ? 1 : 0);
        return;
    }
    case IDC_CANCEL:
        window.end(0);
        return;
    case IDC_SELECT_ALL:
        list.select_all(true);
        return;
    case IDC_UNSELECT_ALL:
        list.select_all(false);
        return;
    default:
        return;
    }
}

void prepare_selection(const char* directory, int mode) noexcept {
    const int n = std::snprintf(SelectionPattern, sizeof SelectionPattern,
                                mode != 0 ? "%s\\*.pkg" : "%s\\*.*", directory ? directory : "");
    // A pattern cut short would search another directory: search none instead.
    if (n < 0 || n >= static_cast<int>(sizeof SelectionPattern)) SelectionPattern[0] = '\0';
    SelectionMode = mode;
}

namespace {

// A dialog that ended with nothing chosen was cancelled, whoever answered it.
session::Status cancelled_unless_chosen(int result) noexcept {
    session::Status st;
    if (result == 0) st.add(plat::win32::kCancelled);
    return st;
}

}  // namespace

int DisplayPackageSelectionList(void* owner, const char* directory, int mode) noexcept {
    prepare_selection(directory, mode);
    PackageSelectionDialog dialog;
    if (session::unattended()) {
        const int r = AnswerListDialog(dialog, IDC_OK, IDC_CANCEL);
        return session::reported(r, cancelled_unless_chosen(r));
    }
    const plat::ListDialogAnswer shown = plat::show_list_dialog(owner, dialog);
    session::Status st = cancelled_unless_chosen(shown.result);
    st.add(shown.failure);
    return session::reported(shown.result, st);
}

int GetPackageFile(void* owner) noexcept {
    int r = 0;
    if (session::unattended()) {
        r = AnswerPackageFiles();
    } else {
        char selection[kSelectionBufferSize];
        const bool chosen = plat::choose_package_files(owner, selection, sizeof selection);
        selection[sizeof selection - 1] = '\0';
        r = chosen && FillPackageList(selection) > 0 ? 1 : 0;
    }
    return session::reported(r, cancelled_unless_chosen(r));
}

}  // namespace qm::packages
