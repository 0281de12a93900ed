// Resource ids of quillmar.dll (packages/selection_dialog.h gives the code the same).
#define IDD_PACKAGE_SELECTION 101
#define IDC_PACKAGE_LIST 1000
#define IDC_SELECT_ALL 1001
#define IDC_UNSELECT_ALL 1002
