#include "session/session.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/notify.h"

namespace qm::session {

namespace {

thread_local Call* t_current = nullptr;

constexpr size_t kLineSize = 4096;

// Appends text to out (size bytes, len used) with every control character written as
// <XX>; cut when it does not fit.
void append_escaped(char* out, size_t size, size_t& len, const char* text) noexcept {
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p && len + 1 < size; ++p) {
        if (*p < 0x20 || *p == 0x7F) {
            if (len + 5 >= size) break;
            std::snprintf(out + len, size - len, "<%02X>", *p);
            len += 4;
        } else {
            out[len++] = static_cast<char>(*p);
        }
    }
    out[len] = '\0';
}

void append_raw(char* out, size_t size, size_t& len, const char* text) noexcept {
    const int n = std::snprintf(out + len, size - len, "%s", text);
    if (n > 0) len += static_cast<size_t>(n) < size - len ? static_cast<size_t>(n) : size - len - 1;
}

// The quoted form of a text argument or result; null as NULL.
void append_quoted(char* out, size_t size, size_t& len, const char* text) noexcept {
    if (!text) {
        append_raw(out, size, len, "NULL");
        return;
    }
    append_raw(out, size, len, "\"");
    append_escaped(out, size, len, text);
    append_raw(out, size, len, "\"");
}

std::atomic<LogRefusalSink> g_refusal_sink{nullptr};
std::atomic<bool> g_refusal_said{false};

// The first log refused in this process is said to the sink; the rest would only repeat
// it on every call. Without a sink (the library alone) it is said nowhere: the call's
// outcome still leaves through its box and its last error.
void say_refused(const char* text) noexcept {
    const LogRefusalSink sink = g_refusal_sink.load();
    if (sink && !g_refusal_said.exchange(true)) sink(text);
}

void write_line(const char* log, const char* name, const char* body) noexcept {
    if (!log || !*log) return;
    char stamp[40];
    plat::local_time(stamp, sizeof stamp);
    char line[kLineSize];
    const int n = std::snprintf(line, sizeof line, "%s pid %lu %s%s", stamp, plat::process_id(), name, body);
    if (n <= 0) return;
    const size_t len = static_cast<size_t>(n) < sizeof line ? static_cast<size_t>(n) : sizeof line - 1;
    // A log that cannot be written, or must not be, is no reason to change what the call does.
    const char* why = "";
    if (plat::append_line(log, line, len, &why) != plat::LogWrite::Refused) return;
    char text[kLineSize] = "the log \"";
    size_t used = std::strlen(text);
    append_escaped(text, sizeof text, used, log);
    char because[96];
    std::snprintf(because, sizeof because, "\" is refused (%s): nothing is written to it", why);
    append_raw(text, sizeof text, used, because);
    say_refused(text);
}

// The log's path, whole or not at all: a path cut short would be another file.
void find_log(const char* name, bool unattended, char* out, size_t size) noexcept {
    const plat::EnvValue given = plat::live_env(kLogVar, out, size);
    if (given == plat::EnvValue::Set && out[0] != '\0') return;
    char too_long[160] = "";
    if (given == plat::EnvValue::TooLong) {
        std::snprintf(too_long, sizeof too_long, ": %s is longer than the %u characters a log's path may have: not used",
                      kLogVar, static_cast<unsigned>(size - 1));
        say_refused(too_long + 2);
    }
    out[0] = '\0';
    if (!unattended) return;
    char dir[1024];
    const int n = plat::temp_dir(dir, sizeof dir) ? std::snprintf(out, size, "%s%s", dir, kDefaultLogName) : -1;
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        say_refused("the temporary folder is too long a path for the log: no log");
        return;
    }
    if (too_long[0]) write_line(out, name, too_long);
}

bool env_turns_on(const char* value) noexcept {
    return value && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

}  // namespace

bool decide_unattended(const char* value, bool station_visible) noexcept {
    return env_turns_on(value) || !station_visible;
}

bool unattended() noexcept { return t_current && t_current->unattended_; }

void report(const Status& status) noexcept {
    if (!status.failed()) return;
    if (t_current && t_current->code_ == 0) t_current->code_ = status.code;
    if (status.message[0] == '\0') return;
    // A text the tool prints on stderr, or a test captures, is reported, never hidden.
    const bool box = !plat::notifier_replaced();
    const bool hide = box && unattended();
    note("%s: %s", !box ? "reported" : hide ? "not shown (unattended) \"Error\" box" : "shown \"Error\" box",
         status.message);
    if (!hide) plat::notify_error(status.message);
}

void set_log_refusal_sink(LogRefusalSink sink) noexcept {
    g_refusal_sink.store(sink);
    g_refusal_said.store(false);
}

void note(const char* fmt, ...) noexcept {
    // The call's log; outside a call (an operation called directly), QUILLMAR_LOG alone.
    char outside[1024] = "";
    if (!t_current) find_log("-", false, outside, sizeof outside);
    const char* log = t_current ? t_current->log_ : outside;
    if (!*log) return;
    char text[kLineSize];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    char body[kLineSize] = ": ";
    size_t len = 2;
    append_escaped(body, sizeof body, len, text);
    write_line(log, t_current ? t_current->name_ : "-", body);
}

Call::Call(const char* name, int) noexcept : name_(name), outer_(t_current) {
    char value[64];
    const plat::EnvValue e = plat::live_env(kUnattendedVar, value, sizeof value);
    // A value too long for value is neither empty nor "0".
    const char* v = e == plat::EnvValue::Unset ? nullptr : e == plat::EnvValue::TooLong ? "1" : value;
    // The window station is asked only when the variable leaves the question open.
    unattended_ = env_turns_on(v) || decide_unattended(v, plat::interactive_station_visible());
    find_log(name, unattended_, log_, sizeof log_);
    t_current = this;
}

Call::~Call() {
    if (log_[0] != '\0') {
        char body[kLineSize];
        std::snprintf(body, sizeof body, "(%s) = %s, last error %lu%s", args_, result_[0] ? result_ : "-",
                      code_, unattended_ ? " [unattended]" : "");
        write_line(log_, name_, body);
    }
    t_current = outer_;
    if (outer_ && outer_->code_ == 0) outer_->code_ = code_;
    plat::set_last_error(code_);
}

int Call::result(int r) const noexcept {
    std::snprintf(result_, sizeof result_, "%d", r);
    return r;
}

const char* Call::result(const char* r) const noexcept {
    size_t len = 0;
    result_[0] = '\0';
    append_quoted(result_, sizeof result_, len, r);
    return r;
}

void Call::add(const char* text) noexcept {
    size_t len = std::strlen(args_);
    if (len > 0) append_raw(args_, sizeof args_, len, ", ");
    append_quoted(args_, sizeof args_, len, text);
}

void Call::add(int value) noexcept {
    size_t len = std::strlen(args_);
    char v[16];
    std::snprintf(v, sizeof v, "%d", value);
    if (len > 0) append_raw(args_, sizeof args_, len, ", ");
    append_raw(args_, sizeof args_, len, v);
}

void Call::add(void* handle) noexcept {
    size_t len = std::strlen(args_);
    char v[24];
    std::snprintf(v, sizeof v, "%#lx", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(handle)));
    if (len > 0) append_raw(args_, sizeof args_, len, ", ");
    append_raw(args_, sizeof args_, len, v);
}

void escape_controls(const char* text, char* out, size_t size) noexcept {
    if (size == 0) return;
    size_t len = 0;
    out[0] = '\0';
    append_escaped(out, size, len, text);
}

}  // namespace qm::session
