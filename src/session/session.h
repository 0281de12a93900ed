// One export call as an unattended deployment sees it: whether anyone is at the screen
// (the mode), the log every call appends to, and the last error the export leaves for
// the script. The operations hand their failures back as a Status, which the layer
// named after the export reports; they add notes to the log as things happen. The
// exports and the command-line tool open a Call around each operation.
#pragma once

#include <cstdarg>
#include <cstddef>

#include "platform/host.h"
#include "session/status.h"

namespace qm::session {

namespace win32 = plat::win32;

// The environment variables an administrator (or the script) sets.
constexpr char kUnattendedVar[] = "QUILLMAR_UNATTENDED";
constexpr char kLogVar[] = "QUILLMAR_LOG";
constexpr char kSelectVar[] = "QUILLMAR_SELECT";
constexpr char kPackagesVar[] = "QUILLMAR_PACKAGES";
constexpr char kDefaultLogName[] = "quillmar.log";

// The decision, pure: value is QUILLMAR_UNATTENDED as the environment holds it (null
// when undefined); anything but empty or "0" turns the mode on, and so does a process
// that nobody can see.
bool decide_unattended(const char* value, bool station_visible) noexcept;

// The mode of the current call, decided when it began; outside a call (the operations
// called on their own, as the unit tests do) always attended.
bool unattended() noexcept;

// What the caller is to see of an operation's outcome: the status's code for the last
// error (the first failure of a call wins) and its message shown to the user in the
// "Error" box, or, in an unattended call, kept off the screen; the log hears of the
// text either way. Where the tool or a test has replaced the notifier, the text goes
// there (the log calls it reported). Nothing for a status that did not fail. Only the
// export's own layer (the operation named after it, and the tool) calls it: below, a
// failure is a value handed back.
void report(const Status& status) noexcept;

// report(status), then the operation's result, for the last line of an operation.
template <typename T>
T reported(T result, const Status& status) noexcept {
    report(status);
    return result;
}

// An operation's body run with a status of its own (body(Status&) gives the result),
// the status reported, the result handed back.
template <typename Body>
auto reporting(Body&& body) noexcept {
    Status status;
    const auto result = body(status);
    report(status);
    return result;
}

// One line in the log (when there is one): the time, the process, the current call's
// name, then the text. Control characters are written as <0A>, so a line stays a line.
void note(const char* fmt, ...) noexcept
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// text with every control character written as <XX>, as the log writes it, into out
// (size bytes, cut to fit): for whoever shows a name from outside on a terminal.
void escape_controls(const char* text, char* out, size_t size) noexcept;

// Where a log that is refused (a link, a FIFO, another user's file, a QUILLMAR_LOG too
// long to hold whole) is said: once per process, the first one, as a sentence with
// neither prefix nor line end. The tool prints it on stderr; the library alone has
// nowhere to say it and sets none. Setting a sink starts the once anew.
using LogRefusalSink = void (*)(const char* text) noexcept;
void set_log_refusal_sink(LogRefusalSink sink) noexcept;

// One export call, from entry to return. The constructor decides the mode and finds
// the log; result() records what the export returns; the destructor, the last thing
// before the export returns, writes the call's line and sets the thread's last error.
class Call {
public:
    template <typename... Args>
    explicit Call(const char* name, Args... args) noexcept : Call(name, 0) {
        (add(args), ...);
    }
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    int result(int r) const noexcept;
    const char* result(const char* r) const noexcept;

private:
    friend void report(const Status&) noexcept;
    friend void note(const char*, ...) noexcept;
    friend bool unattended() noexcept;

    Call(const char* name, int) noexcept;
    void add(const char* text) noexcept;
    void add(char* text) noexcept { add(static_cast<const char*>(text)); }
    void add(int value) noexcept;
    void add(void* handle) noexcept;

    const char* name_;
    Call* outer_;  // a call made while another runs (the tool around an operation)
    bool unattended_;
    unsigned long code_ = 0;
    char log_[1024] = "";
    char args_[1536] = "";
    mutable char result_[1100] = "";
};

}  // namespace qm::session

// Opens the Call of the export it stands in, named by the function itself: the first
// line of every export.
#define QM_CALL(...) const ::qm::session::Call qm_call(__func__ __VA_OPT__(, ) __VA_ARGS__)
