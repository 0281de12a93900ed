// The one way a user-visible failure leaves the library: a message box titled "Error"
// in the DLL, stderr in the CLI, a capture in tests.
#pragma once

namespace qm::plat {

using Notifier = void (*)(const char* text);

// Shows text to the user under the caption "Error" and returns when the user has seen it.
void notify_error(const char* text) noexcept;

// Replaces the notifier (null restores the platform default); returns the previous one.
Notifier set_notifier(Notifier n) noexcept;

// Sees every text before it is shown, and whether it would be a box (false when a
// notifier set above takes it: the tool's stderr or a test's capture, which is always
// called); true when the box must not reach the screen (an unattended call: the text
// went to the log instead).
using NoticeHook = bool (*)(const char* text, bool box);
void set_notice_hook(NoticeHook hook) noexcept;

// The platform default: MessageBoxA(NULL, text, "Error", MB_OK) on Windows, stderr on POSIX.
void default_notifier(const char* text) noexcept;

// Whether the standard error stream is a terminal (the command-line tool writes its
// progress there only then).
bool stderr_is_terminal() noexcept;
// The same of the standard output stream.
bool stdout_is_terminal() noexcept;

}  // namespace qm::plat
