// Runs a program on a desktop of the given name, waits for it and exits with its exit
// code: on_desktop NAME PROGRAM [ARGUMENTS...]. Under the test run's one wineserver the
// default desktop stays alive between tests with the X11 driver of the run's display; a
// program run here with no display gets a desktop of its own, whose driver (the null
// one) needs none, as a service's invisible station on Windows has windows.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

// The command line after the first two words (this program and the desktop's name), as
// Windows split them: quoted words may hold blanks.
const char* after_words(const char* line, int words) {
    for (int i = 0; i < words; ++i) {
        while (*line == ' ' || *line == '\t') ++line;
        bool quoted = false;
        for (; *line && (quoted || (*line != ' ' && *line != '\t')); ++line)
            if (*line == '"') quoted = !quoted;
    }
    while (*line == ' ' || *line == '\t') ++line;
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: on_desktop NAME PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    char command[32768];
    std::snprintf(command, sizeof command, "%s", after_words(GetCommandLineA(), 2));
    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.lpDesktop = argv[1];
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, command, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "on_desktop: cannot start %s (error %lu)\n", command, GetLastError());
        return 2;
    }
    WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 2;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return static_cast<int>(code);
}
