// POSIX side of WinExec: the program found the way CreateProcess finds it in an
// unquoted command line, started in a grandchild so that nothing is left to reap, and the
// outcome of its exec reported back through a close-on-exec pipe.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/alloc.h"
#include "platform/posix/paths.h"
#include "platform/process.h"
#include "platform/unique_handle.h"

extern char** environ;

namespace qm::plat {

namespace {

bool is_blank(char c) noexcept { return c == ' ' || c == '\t'; }

bool is_file(const char* native) noexcept {
    struct stat st;
    return ::stat(native, &st) == 0 && S_ISREG(st.st_mode);
}

// The program a candidate (leading words of the command line) names, as a native path in
// out: the candidate itself when it holds a separator, otherwise the first match in PATH.
bool find_program(const char* candidate, char* out, size_t size) noexcept {
    NativePath p(candidate);
    if (!p.ok() || !*p.c_str()) return false;
    if (std::strchr(p.c_str(), '/')) {
        const int n = std::snprintf(out, size, "%s", p.c_str());
        return n >= 0 && static_cast<size_t>(n) < size && is_file(out);
    }
    const char* path = std::getenv("PATH");
    for (const char* dir = path; dir && *dir;) {
        const char* end = std::strchr(dir, ':');
        const size_t len = end ? static_cast<size_t>(end - dir) : std::strlen(dir);
        const int n = std::snprintf(out, size, "%.*s/%s", static_cast<int>(len), len ? dir : ".",
                                    p.c_str());
        if (n >= 0 && static_cast<size_t>(n) < size && is_file(out)) return true;
        dir = end ? end + 1 : dir + len;
    }
    return false;
}

// Why no program was found: a missing directory in front of the first word is a missing
// path, anything else a missing file.
unsigned not_found_code(const char* first_word) noexcept {
    NativePath p(first_word);
    if (!p.ok()) return kLaunchPathNotFound;
    char dir[4096];
    std::snprintf(dir, sizeof dir, "%s", p.c_str());
    char* slash = std::strrchr(dir, '/');
    if (!slash) return kLaunchFileNotFound;
    if (slash == dir) slash[1] = '\0';
    else *slash = '\0';
    struct stat st;
    return ::stat(dir, &st) == 0 && S_ISDIR(st.st_mode) ? kLaunchFileNotFound : kLaunchPathNotFound;
}

unsigned from_exec_errno(int e) noexcept {
    switch (e) {
    case ENOENT: return kLaunchFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP: return kLaunchPathNotFound;
    case ENOMEM:
    case EAGAIN:
    case EMFILE:
    case ENFILE: return kLaunchNoResources;
    default: return kLaunchBadFormat;  // not a program this system can run
    }
}

// Starts program with argv and the process environment, without waiting for it.
unsigned spawn_detached(const char* program, char* const* argv) noexcept {
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0) return kLaunchNoResources;
    unique_fd read_end(report[0]), write_end(report[1]);
    const pid_t child = ::fork();
    if (child < 0) return kLaunchNoResources;
    if (child == 0) {
        // Only async-signal-safe calls from here on (a close is one). The middle process
        // ends at once, so the program is adopted by init and never becomes our zombie.
        read_end.reset();
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::execve(program, argv, environ);
            const int e = errno;
            (void)!::write(write_end.get(), &e, sizeof e);
            ::_exit(127);
        }
        if (grandchild < 0) {
            const int e = errno;
            (void)!::write(write_end.get(), &e, sizeof e);
        }
        ::_exit(0);
    }
    write_end.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // End of file without a word: the exec went through and closed the pipe.
    int e = 0;
    ssize_t got;
    do {
        got = ::read(read_end.get(), &e, sizeof e);
    } while (got < 0 && errno == EINTR);
    read_end.reset();
    if (got == 0) return kLaunchStarted;
    return got == static_cast<ssize_t>(sizeof e) ? from_exec_errno(e) : kLaunchNoResources;
}

}  // namespace

unsigned launch(const char* command_line, int /*show*/) noexcept {
    if (!command_line) return kLaunchFileNotFound;
    const size_t len = std::strlen(command_line);
    // The words, each NUL-terminated, and room for the candidates built from them.
    auto words = try_make_array<char>(len + 1);
    auto candidate = try_make_array<char>(len + 1);
    auto argv = try_make_array<char*>(len / 2 + 2);
    if (!words || !candidate || !argv) return kLaunchNoResources;

    size_t argc = 0;
    char* w = words.get();
    char program[4096];
    bool found = false;
    size_t lead = 0;
    while (lead < len && is_blank(command_line[lead])) ++lead;
    for (size_t i = 0; i < len;) {
        while (i < len && is_blank(command_line[i])) ++i;
        if (i == len) break;
        const size_t start = i;
        while (i < len && !is_blank(command_line[i])) ++i;
        std::memcpy(w, command_line + start, i - start);
        w[i - start] = '\0';
        argv[argc++] = w;
        w += i - start + 1;
        if (!found) {
            // Everything from the first word to the end of this one, blanks inside included.
            std::memcpy(candidate.get(), command_line + lead, i - lead);
            candidate[i - lead] = '\0';
            found = find_program(candidate.get(), program, sizeof program);
        }
    }
    argv[argc] = nullptr;
    if (argc == 0) return kLaunchFileNotFound;
    if (!found) return not_found_code(argv[0]);
    for (size_t a = 0; a < argc; ++a)
        for (char* c = argv[a]; *c; ++c)
            if (*c == '\\') *c = '/';
    return spawn_detached(program, argv.get());
}

}  // namespace qm::plat
