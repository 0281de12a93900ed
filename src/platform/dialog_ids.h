// The library's list dialog and its controls: the one place their ids are written. The
// dialog template (res/quillmar.rc), the dialog's logic (packages/selection_dialog.cpp)
// and both sides' hosts read them from here; plain #defines, so that the resource
// compiler reads the same file as the code.
#pragma once

#define IDD_PACKAGE_SELECTION 101  // the template
#define IDC_OK 1                   // IDOK
#define IDC_CANCEL 2               // IDCANCEL
#define IDC_PACKAGE_LIST 1000
#define IDC_SELECT_ALL 1001
#define IDC_UNSELECT_ALL 1002
