/*
 * quillmar.h: the exports of quillmar.dll, for C and C++.
 *
 * Link with the import library (libquillmar.dll.a), or load the DLL and resolve the
 * exports by name or by the ordinal given with each. Texts are single-byte (ANSI),
 * NUL-terminated, owned by the caller and only read. Texts returned point into the
 * library's own storage: copy them before the next call that may change them; never
 * free them.
 *
 * Result conventions differ between families; do not mix them up:
 *   1/0      most operations (1 success),
 *   0/-1     the rename operations (0 success),
 *   nonzero/0  thin wrappers of a platform call (nonzero success).
 *
 * Every export also sets the calling thread's last error (GetLastError) just before it
 * returns: 0 when it did all it was asked, otherwise a Win32 error code (README: "Unattended
 * installs and the last error"). QUILLMAR_UNATTENDED, QUILLMAR_LOG, QUILLMAR_SELECT and
 * QUILLMAR_PACKAGES in the environment run the library with nobody at the screen.
 */
#ifndef QUILLMAR_H
#define QUILLMAR_H

/* QUILLMAR_BUILDING is defined only while the library itself is compiled. */
#ifdef _WIN32
#define QUILLMAR_CALLEE __stdcall /* the callee removes the arguments */
#define QUILLMAR_CALLER __cdecl   /* the caller removes the arguments */
#ifdef QUILLMAR_BUILDING
#define QUILLMAR_API /* exported by the library's .def file, at fixed ordinals */
#else
#define QUILLMAR_API __declspec(dllimport)
#endif
#else
#define QUILLMAR_CALLEE
#define QUILLMAR_CALLER
#ifdef QUILLMAR_BUILDING
#define QUILLMAR_API __attribute__((visibility("default")))
#else
#define QUILLMAR_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* 3: appends the text of source to destination (created when missing). 1 when both opened, else 0. */
QUILLMAR_API int QUILLMAR_CALLEE AppendFile(const char* destination, const char* source);

/* 4: first free n (1..999) of the keys "ico<n>" in section [program] of ini; 1000 when all are taken. */
QUILLMAR_API int QUILLMAR_CALLEE GetLastIconEntry(const char* ini);

/* 5: the same for the keys "dis<n>". */
QUILLMAR_API int QUILLMAR_CALLEE GetLastDisEntry(const char* ini);

/* 6: expands package into target (which becomes the current directory), never replacing a newer
   file. Always 0; an extraction error is shown to the user in a box titled "Error". */
QUILLMAR_API int QUILLMAR_CALLEE ExpandPackage(const char* package, const char* target);

/* 7: the file-open dialog "Select Package". 1 when packages were chosen (list filled), 0 on cancel. */
QUILLMAR_API int QUILLMAR_CALLEE GetPackageFile(void* owner);

/* 8: the package selection list over directory; mode nonzero: packages, 0: every entry (uninstall).
   1 when OK confirmed a selection, 0 on cancel or an empty selection, -1 when it cannot be shown. */
QUILLMAR_API int QUILLMAR_CALLER DisplayPackageSelectionList(void* owner, const char* directory, int mode);

/* 9: the first entry of the package list, or NULL when it is empty. */
QUILLMAR_API const char* QUILLMAR_CALLER GetFirstFile(void);

/* 10: the next entry of the package list, or NULL when none is left. */
QUILLMAR_API const char* QUILLMAR_CALLER GetNextFile(void);

/* 11: moves the gateway INI into the Windows directory, records root, and selects the service
   for code (2048, 1024 or 4096). Always 1. */
QUILLMAR_API int QUILLMAR_CALLER ModifyGatewayFile(const char* root, int code);

/* 12: the short (8.3) form of path, in library storage valid until the next call. */
QUILLMAR_API const char* QUILLMAR_CALLER GetShortFileName(const char* path);

/* 13: sets NMSROOT, TCL_LIBRARY, TK_LIBRARY and starts the two set-up scripts without waiting.
   The launch result of the second: above 31 started, otherwise a launch error code. */
QUILLMAR_API int QUILLMAR_CALLER CreateTopTcl(const char* root);

/* 14: sets an environment variable of the process. Nonzero on success, 0 on failure. */
QUILLMAR_API int QUILLMAR_CALLER SetEnvVariable(const char* name, const char* value);

/* 15: renames or moves a directory or file, never replacing anything. 0 on success, -1 on failure. */
QUILLMAR_API int QUILLMAR_CALLER RenDirectory(const char* old_path, const char* new_path);

/* 16: extracts only the package's manifest (its file name with ".mfs") into target. Always 0. */
QUILLMAR_API int QUILLMAR_CALLEE GetManifestFile(const char* package, const char* target);

/* 17: as RenDirectory. 0 on success, -1 on failure. */
QUILLMAR_API int QUILLMAR_CALLER MyRenameFile(const char* old_path, const char* new_path);

/* 18: deletes one file. Nonzero on success, 0 on failure. */
QUILLMAR_API int QUILLMAR_CALLER MyDeleteFile(const char* path);

/* 19: fills the package list with "<base>.pkg" for each root\etc\dorva\devices\<base>.mfs.
   -1 when there is none; otherwise nonzero (0 only when closing the search failed). */
QUILLMAR_API int QUILLMAR_CALLER GetReInstallPackageList(const char* root);

/* 21: empties the package list and rewinds it. Always 0. */
QUILLMAR_API int QUILLMAR_CALLER ClearPackageList(void);

/* 22: 1 when first was last written strictly earlier than second, else 0 (also when either cannot be opened). */
QUILLMAR_API int QUILLMAR_CALLER MyFileCompare(const char* first, const char* second);

/* 23: copies the files of source matching pattern into destination, never replacing a newer
   file (each refusal is logged in kyinstall.log). 1 when the pattern matched a name, else 0. */
QUILLMAR_API int QUILLMAR_CALLER MyCopyFiles(const char* source, const char* destination, const char* pattern);

/* 24: removes from target (which becomes the current directory) every file of package that is
   still as the package holds it (size, bytes, time), then the directories that leaves empty;
   a file changed since, and anything behind a link, stays. 0 when everything the package
   carried is gone, the number of its files kept otherwise, -1 when the package cannot be
   loaded or target cannot be entered (nothing removed). */
QUILLMAR_API int QUILLMAR_CALLEE RemovePackage(const char* package, const char* target);

#ifdef __cplusplus
}
#endif

#endif /* QUILLMAR_H */
