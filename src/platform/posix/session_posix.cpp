#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <ctime>

#include "platform/errors.h"
#include "platform/session.h"
#include "platform/unique_handle.h"

extern char** environ;

namespace qm::plat {

namespace {
thread_local unsigned long t_last_error = 0;
}  // namespace

bool live_env(const char* name, char* out, size_t size) noexcept {
    if (size == 0) return false;
    out[0] = '\0';
    const char* v = std::getenv(name);
    if (!v) {
        // Names are matched without regard to case, as on Windows.
        const size_t n = std::strlen(name);
        for (char** e = environ; e && *e && !v; ++e)
            if (strncasecmp(*e, name, n) == 0 && (*e)[n] == '=') v = *e + n + 1;
    }
    if (!v) return false;
    std::snprintf(out, size, "%s", v);
    return true;
}

bool interactive_station_visible() noexcept {
    const unique_fd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    return static_cast<bool>(tty);
}

bool append_line(const char* path, const char* text, size_t len) noexcept {
    const unique_fd log(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666));
    if (!log) return false;
    char line[4100];
    if (len > sizeof line - 1) len = sizeof line - 1;
    std::memcpy(line, text, len);
    line[len] = '\n';
    return ::write(log.get(), line, len + 1) == static_cast<ssize_t>(len + 1);
}

bool temp_dir(char* out, size_t size) noexcept {
    const char* t = std::getenv("TMPDIR");
    if (!t || !*t) t = "/tmp";
    const size_t n = std::strlen(t);
    const int w = std::snprintf(out, size, "%s%s", t, t[n - 1] == '/' ? "" : "/");
    return w > 0 && static_cast<size_t>(w) < size;
}

unsigned long process_id() noexcept { return static_cast<unsigned long>(::getpid()); }

void local_time(char* out, size_t size) noexcept {
    struct timeval now;
    ::gettimeofday(&now, nullptr);
    struct tm t;
    const time_t s = now.tv_sec;
    ::localtime_r(&s, &t);
    std::snprintf(out, size, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, static_cast<int>(now.tv_usec / 1000));
}

void set_last_error(unsigned long code) noexcept { t_last_error = code; }

unsigned long last_error() noexcept { return t_last_error; }

unsigned long failed_call_error() noexcept {
    const unsigned long code = errno != 0 ? win32_from_crt(from_native_errno(errno)) : 0;
    return code != 0 ? code : win32::kGenFailure;
}

}  // namespace qm::plat
