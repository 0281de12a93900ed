// Stands in for the Tcl/Tk shell that CreateTopTcl starts: records the command line it was
// given and the three variables it inherited in "record-<process id>.txt" beside itself,
// written under another name first so that a reader never sees half a record.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <initializer_list>

int main() {
    char dir[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, dir, sizeof dir);
    if (n == 0 || n >= sizeof dir) return 1;
    if (char* slash = std::strrchr(dir, '\\')) *slash = '\0';
    char tmp[MAX_PATH + 32], done[MAX_PATH + 32];
    std::snprintf(tmp, sizeof tmp, "%s\\record-%lu.tmp", dir, GetCurrentProcessId());
    std::snprintf(done, sizeof done, "%s\\record-%lu.txt", dir, GetCurrentProcessId());
    FILE* f = std::fopen(tmp, "wb");
    if (!f) return 1;
    std::fprintf(f, "%s\n", GetCommandLineA());
    for (const char* name : {"NMSROOT", "TCL_LIBRARY", "TK_LIBRARY"}) {
        char value[32768];
        const DWORD len = GetEnvironmentVariableA(name, value, sizeof value);
        std::fprintf(f, "%s=%s\n", name, len > 0 && len < sizeof value ? value : "<unset>");
    }
    std::fclose(f);
    return MoveFileA(tmp, done) ? 0 : 1;
}
