/*
 * A C program as an installer author writes one: compiled against include/quillmar.h,
 * linked with the import library (no GetProcAddress), calling every export. Each call
 * is bracketed by a reading of the stack pointer: a convention that differs between
 * the header and the DLL leaves the stack unbalanced, which this program reports.
 */
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "quillmar.h"

static int passed, failed;

static void check(int ok, const char* what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        printf("FAILED: %s\n", what);
    }
}

#if defined(__x86_64__)
#define STACK_POINTER(v) __asm__ volatile("movq %%rsp, %0" : "=r"(v))
typedef unsigned long long stack_word;
#else
#define STACK_POINTER(v) __asm__ volatile("movl %%esp, %0" : "=r"(v))
typedef unsigned stack_word;
#endif
#define CALL(result, expr)                                                  \
    do {                                                                    \
        stack_word before_, after_;                                         \
        STACK_POINTER(before_);                                             \
        result = (expr);                                                    \
        STACK_POINTER(after_);                                              \
        check(before_ == after_, #expr ": stack balanced after the call"); \
    } while (0)

/* Cancels every dialog the library shows, as soon as it is shown. */
static HHOOK hook;
static LRESULT CALLBACK cancel_dialogs(int code, WPARAM wp, LPARAM lp) {
    if (code == HCBT_ACTIVATE) PostMessageA((HWND)wp, WM_COMMAND, IDCANCEL, 0);
    return CallNextHookEx(hook, code, wp, lp);
}

static void write_text(const char* path, const char* text) {
    FILE* f = fopen(path, "wb");
    if (f) {
        fputs(text, f);
        fclose(f);
    }
}

static int exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

int main(void) {
    char tmp[MAX_PATH], dir[MAX_PATH], a[MAX_PATH], b[MAX_PATH], c[MAX_PATH], ini[MAX_PATH];
    char src[MAX_PATH], dst[MAX_PATH], windir[MAX_PATH], gw[MAX_PATH], gw_backup[MAX_PATH];
    int r;
    const char* text;

    GetTempPathA(sizeof tmp, tmp);
    snprintf(dir, sizeof dir, "%squillmar-sdk-%lu", tmp, GetCurrentProcessId());
    CreateDirectoryA(dir, NULL);
    snprintf(a, sizeof a, "%s\\a.txt", dir);
    snprintf(b, sizeof b, "%s\\b.txt", dir);
    snprintf(c, sizeof c, "%s\\c.txt", dir);
    snprintf(ini, sizeof ini, "%s\\group.ini", dir);
    snprintf(src, sizeof src, "%s\\src", dir);
    snprintf(dst, sizeof dst, "%s\\dst", dir);
    CreateDirectoryA(src, NULL);
    CreateDirectoryA(dst, NULL);
    hook = SetWindowsHookExA(WH_CBT, cancel_dialogs, NULL, GetCurrentThreadId());

    /* exports-list:begin (tests/source/every_export_listed.sh: a call of every export) */
    /* callee-cleans */
    write_text(a, "alpha\n");
    CALL(r, AppendFile(b, a));
    check(r == 1 && exists(b), "AppendFile appends");
    write_text(ini, "[program]\r\nico1=x\r\ndis1=y\r\ndis2=z\r\n");
    CALL(r, GetLastIconEntry(ini));
    check(r == 2, "GetLastIconEntry finds the first free icon entry");
    CALL(r, GetLastDisEntry(ini));
    check(r == 3, "GetLastDisEntry finds the first free entry");
    CALL(r, ExpandPackage("no-such.pkg", dir));
    check(r == 0, "ExpandPackage returns 0");
    CALL(r, GetManifestFile("no-such.pkg", dir));
    check(r == 0, "GetManifestFile returns 0");
    CALL(r, RemovePackage("no-such.pkg", dir));
    check(r == -1 && GetLastError() == ERROR_FILE_NOT_FOUND, "RemovePackage of a missing package is -1");
    CALL(r, GetPackageFile(NULL));
    check(r == 0, "GetPackageFile cancelled returns 0");

    /* caller-cleans */
    CALL(r, DisplayPackageSelectionList(NULL, dir, 1));
    check(r == 0, "DisplayPackageSelectionList cancelled returns 0");
    CALL(text, GetFirstFile());
    check(text == NULL, "GetFirstFile of an empty list is NULL");
    CALL(text, GetNextFile());
    check(text == NULL, "GetNextFile of an empty list is NULL");
    CALL(r, GetReInstallPackageList(dir));
    check(r == -1, "GetReInstallPackageList without manifests is -1");
    CALL(r, ClearPackageList());
    check(r == 0, "ClearPackageList returns 0");
    CALL(text, GetShortFileName(dir));
    check(text != NULL && text[0] != '\0', "GetShortFileName gives a text");
    CALL(r, SetEnvVariable("QUILLMAR_SDK", "yes"));
    {
        char v[16] = "";
        GetEnvironmentVariableA("QUILLMAR_SDK", v, sizeof v);
        check(r != 0 && strcmp(v, "yes") == 0, "SetEnvVariable sets the variable");
    }
    CALL(r, RenDirectory(b, c));
    check(r == 0 && exists(c) && !exists(b), "RenDirectory renames");
    CALL(r, MyRenameFile(c, b));
    check(r == 0 && exists(b), "MyRenameFile renames");
    CALL(r, MyRenameFile(a, b));
    check(r == -1, "MyRenameFile onto an existing name is -1");
    CALL(r, MyFileCompare(a, "Z:\\no-such-file"));
    check(r == 0, "MyFileCompare with a missing file is 0");
    CALL(r, MyDeleteFile(b));
    check(r != 0 && !exists(b), "MyDeleteFile deletes");
    {
        char one[MAX_PATH];
        snprintf(one, sizeof one, "%s\\one.txt", src);
        write_text(one, "1");
    }
    CALL(r, MyCopyFiles(src, dst, "*.txt"));
    {
        char copied[MAX_PATH];
        snprintf(copied, sizeof copied, "%s\\one.txt", dst);
        check(r == 1 && exists(copied), "MyCopyFiles copies");
    }

    /* The gateway set-up writes into the Windows directory: keep what was there. */
    GetWindowsDirectoryA(windir, sizeof windir);
    snprintf(gw, sizeof gw, "%s\\rzgatewy.ini", windir);
    snprintf(gw_backup, sizeof gw_backup, "%s\\rzgatewy.bak", dir);
    {
        const int had = CopyFileA(gw, gw_backup, FALSE);
        char value[MAX_PATH] = "";
        CALL(r, ModifyGatewayFile(dir, 0));
        GetPrivateProfileStringA("Working Directory", "Dir", "", value, sizeof value, gw);
        check(r == 1 && strcmp(value, dir) == 0, "ModifyGatewayFile records the root");
        if (had)
            CopyFileA(gw_backup, gw, FALSE);
        else
            DeleteFileA(gw);
    }
    CALL(r, CreateTopTcl(dir)); /* no wish.exe there */
    check(r >= 0 && r <= 31, "CreateTopTcl without the shell gives a launch error");
    /* exports-list:end */

    UnhookWindowsHookEx(hook);
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
