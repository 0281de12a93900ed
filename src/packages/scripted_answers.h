// The dialogs' answers in unattended mode, where nobody can give them: taken from the
// environment the deployment set (QUILLMAR_SELECT, QUILLMAR_PACKAGES), each one logged.
#pragma once

#include "platform/dialogs.h"

namespace qm::packages {

// Runs the list dialog's own behaviour over an in-memory list box: the items it offers
// are chosen by QUILLMAR_SELECT ("all", or names separated by ";", letter case
// ignored) and confirmed with OK; with the variable unset or empty, or nothing that
// matches, the dialog is cancelled. The dialog's result.
int AnswerListDialog(plat::ListDialogLogic& dialog, int ok_id, int cancel_id) noexcept;

// The file-open dialog's answer: the paths of QUILLMAR_PACKAGES (separated by ";") fill
// the PackageList in that order, and the result is 1; unset, empty, or nothing that
// fits the list: 0 with the list untouched, as when the user cancels.
int AnswerPackageFiles() noexcept;

}  // namespace qm::packages
