// Package list exports: the two selection dialogs, the reinstall list, and the list's
// readers.
#include "boundary/callconv.h"
#include "packages/package_list.h"
#include "packages/reinstall.h"
#include "packages/selection_dialog.h"
#include "session/session.h"

QM_EXPORT int QM_CALLEE GetPackageFile(void* owner) {
    QM_CALL(owner);
    return qm_call.result(qm::packages::GetPackageFile(owner));
}

QM_EXPORT int QM_CALLER DisplayPackageSelectionList(void* owner, const char* directory, int mode) {
    QM_CALL(owner, directory, mode);
    return qm_call.result(qm::packages::DisplayPackageSelectionList(owner, directory, mode));
}

QM_EXPORT const char* QM_CALLER GetFirstFile() {
    QM_CALL();
    return qm_call.result(qm::packages::GetFirstFile());
}

QM_EXPORT const char* QM_CALLER GetNextFile() {
    QM_CALL();
    return qm_call.result(qm::packages::GetNextFile());
}

QM_EXPORT int QM_CALLER GetReInstallPackageList(const char* root) {
    QM_CALL(root);
    return qm_call.result(qm::packages::GetReInstallPackageList(root));
}

QM_EXPORT int QM_CALLER ClearPackageList() {
    QM_CALL();
    return qm_call.result(qm::packages::ClearPackageList());
}
