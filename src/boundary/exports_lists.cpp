// Package list exports: the two selection dialogs, the reinstall list, and the list's
// readers.
#include "boundary/callconv.h"
#include "packages/package_list.h"
#include "packages/reinstall.h"
#include "packages/selection_dialog.h"

QM_EXPORT int QM_CALLEE GetPackageFile(void* owner) { return qm::packages::GetPackageFile(owner); }

QM_EXPORT int QM_CALLER DisplayPackageSelectionList(void* owner, const char* directory, int mode) {
    return qm::packages::DisplayPackageSelectionList(owner, directory, mode);
}

QM_EXPORT const char* QM_CALLER GetFirstFile() { return qm::packages::GetFirstFile(); }

QM_EXPORT const char* QM_CALLER GetNextFile() { return qm::packages::GetNextFile(); }

QM_EXPORT int QM_CALLER GetReInstallPackageList(const char* root) {
    return qm::packages::GetReInstallPackageList(root);
}

QM_EXPORT int QM_CALLER ClearPackageList() { return qm::packages::ClearPackageList(); }
