// Where a user-visible failure is shown: a message box titled "Error" in the DLL, stderr
// in the CLI, a capture in tests. The session (src/session) decides whether to show it.
#pragma once

namespace qm::plat {

using Notifier = void (*)(const char* text);

// Shows text to the user under the caption "Error" and returns when the user has seen it.
void notify_error(const char* text) noexcept;

// Replaces the notifier (null restores the platform default); returns the previous one.
Notifier set_notifier(Notifier n) noexcept;

// Whether a notifier set above takes the texts instead of the platform's box.
bool notifier_replaced() noexcept;

// The platform default: MessageBoxA(NULL, text, "Error", MB_OK) on Windows, stderr on POSIX.
void default_notifier(const char* text) noexcept;

// Whether the standard error stream is a terminal (the command-line tool writes its
// progress there only then).
bool stderr_is_terminal() noexcept;
// The same of the standard output stream.
bool stdout_is_terminal() noexcept;

}  // namespace qm::plat
