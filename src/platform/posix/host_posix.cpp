#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <ctime>

#include "platform/errors.h"
#include "platform/host.h"
#include "platform/unique_handle.h"

extern char** environ;

namespace qm::plat {

namespace {
thread_local unsigned long t_last_error = 0;
}  // namespace

EnvValue live_env(const char* name, char* out, size_t size) noexcept {
    if (size == 0) return EnvValue::TooLong;
    out[0] = '\0';
    const char* v = std::getenv(name);
    if (!v) {
        // Names are matched without regard to case, as on Windows.
        const size_t n = std::strlen(name);
        for (char** e = environ; e && *e && !v; ++e)
            if (strncasecmp(*e, name, n) == 0 && (*e)[n] == '=') v = *e + n + 1;
    }
    if (!v) return EnvValue::Unset;
    const size_t n = std::strlen(v);
    if (n >= size) return EnvValue::TooLong;
    std::memcpy(out, v, n + 1);
    return EnvValue::Set;
}

bool interactive_station_visible() noexcept {
    const unique_fd tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
    return static_cast<bool>(tty);
}

namespace {

// Why the log at this name is refused, from how its open failed; null for a failure that
// says nothing about what is there (missing folder, no room, no permission).
const char* refusal_from_open(int error) noexcept {
    switch (error) {
    case ELOOP:  // O_NOFOLLOW met a link, dangling or not
        return "a link";
    case EISDIR:
        return "a directory";
    case ENXIO:  // a FIFO nobody reads, a device without its driver
        return "not a regular file";
    default:
        return nullptr;
    }
}

// Why the open log is refused, from what fstat says of it; null when it is the caller's
// own regular file with one name.
const char* refusal_of(const struct stat& st) noexcept {
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (st.st_nlink != 1) return "a file with more than one link";
    if (st.st_uid != ::geteuid()) return "a file another user owns";
    return nullptr;
}

}  // namespace

LogWrite append_line(const char* path, const char* text, size_t len, const char** why) noexcept {
    const char* refused = nullptr;
    // O_NONBLOCK: a FIFO at the name fails at once (or opens, and is refused below)
    // instead of holding the call until a reader comes.
    const unique_fd log(::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
                               0600));
    struct stat st;
    if (!log)
        refused = refusal_from_open(errno);
    else if (::fstat(log.get(), &st) != 0)
        return LogWrite::Failed;
    else
        refused = refusal_of(st);
    if (log_refused(refused, why)) return LogWrite::Refused;
    if (!log) return LogWrite::Failed;
    LogLine line;
    make_log_line(text, len, "\n", &line);
    return ::write(log.get(), line.bytes, line.len) == static_cast<ssize_t>(line.len) ? LogWrite::Written
                                                                                     : LogWrite::Failed;
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

}  // namespace qm::plat
