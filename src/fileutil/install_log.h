// The install log "kyinstall.log": one line per refused copy, appended as text, in the
// directory that NMSROOT named when the library was loaded.
#pragma once

#include <cstddef>

namespace qm::fileutil {

// Longest log path and log line, without their terminators.
constexpr size_t kMaxLogPath = 255;
constexpr size_t kMaxLogLine = 511;

// The log path for an NMSROOT value: root, "\" (always, even after a trailing one) and
// "kyinstall.log"; the bare name when root is null (NMSROOT not defined). False, with
// out empty, when the path would exceed kMaxLogPath or size: a root that does not fit
// is never cut short into another directory.
bool BuildLogPath(const char* root, char* out, size_t size) noexcept;

// Appends line (without its terminator) to the log at log_path, opened anew as a text
// stream for reading and appending. 1 once the log was opened, 0 when it could not be.
int AppendLogLine(const char* log_path, const char* line) noexcept;

// AppendLogLine to the log that NMSROOT named at load.
int AppendInstallLog(const char* line) noexcept;

}  // namespace qm::fileutil
