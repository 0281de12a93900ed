// The two ways the user chooses packages: the platform's file-open dialog
// (GetPackageFile) and the library's own list dialog over one directory
// (DisplayPackageSelectionList). Both leave the choice in the PackageList.
#pragma once

#include <cstdint>

#include "packages/package_list.h"
#include "platform/dialog_ids.h"  // the template and its controls
#include "platform/dialogs.h"

namespace qm::packages {

constexpr int kSelectionPatternSize = 260;  // MAX_PATH
constexpr int kSelectionBufferSize = 10000;

// The list dialog's library-global state, zero at load. SelectionMode: nonzero lists
// the directory's packages, zero lists every entry under the uninstall caption.
// SelectionPattern: the directory search of the last call, or empty when the directory
// was too long for it (the dialog then lists nothing).
extern int32_t SelectionMode;
extern char SelectionPattern[kSelectionPatternSize];
extern int32_t SelectedIndices[MAX_PACKAGES];

// What the list dialog does, whichever host shows it.
class PackageSelectionDialog final : public plat::ListDialogLogic {
public:
    // Empties the PackageList, lists the directory (no name beginning with "."), drops
    // the first item beginning with "kynms.pkg", sets the uninstall caption, centres.
    void open(plat::ListBox& list, plat::DialogWindow& window) noexcept override;
    // OK takes the selected items into the PackageList (1, or 0 when none was taken),
    // Cancel ends with 0, Select All / UnSelect All change the selection.
    void command(int id, plat::ListBox& list, plat::DialogWindow& window) noexcept override;
};

// Writes SelectionPattern ("directory\*.pkg" when mode is nonzero, "directory\*.*"
// when it is zero; empty when that does not fit) and SelectionMode.
void prepare_selection(const char* directory, int mode) noexcept;

// Shows the list dialog over directory; the dialog's result, or the platform's failure
// value when it cannot be shown.
int DisplayPackageSelectionList(void* owner, const char* directory, int mode) noexcept;

// Shows the file-open dialog; 1 with the PackageList refilled, 0 when cancelled or
// failed or when nothing chosen fits the list (the PackageList then is untouched).
int GetPackageFile(void* owner) noexcept;

}  // namespace qm::packages
