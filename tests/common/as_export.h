// An operation run as its export runs it: inside a session call whose log is a file of
// the test's own. The last error the export leaves is read where a deployment reads it,
// from the call's line in the log ("... = 0, last error 112").
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/temp_dir.h"
#include "platform/host.h"
#include "platform/sys.h"
#include "session/session.h"

namespace qm::test {

// The code the last call line of log ends with; ~0 when there is none.
inline unsigned long last_error_in_log(const std::filesystem::path& log) {
    const std::string text = read_file(log);
    const size_t at = text.rfind(", last error ");
    if (at == std::string::npos) return ~0ul;
    return std::strtoul(text.c_str() + at + 13, nullptr, 10);
}

// Runs op inside a call named name and answers the last error the call left. The log
// is a file of its own, never a shared default, removed afterwards; QUILLMAR_LOG is
// unset again. The current directory is left as op leaves it (an expansion moves it).
template <typename Op>
unsigned long last_error_of(const char* name, Op&& op) {
    const std::filesystem::path log =
        std::filesystem::temp_directory_path() / ("qmtest-call-" + std::to_string(plat::process_id()) + ".log");
    std::error_code ec;
    std::filesystem::remove(log, ec);
    plat::set_env("QUILLMAR_LOG", log.string().c_str());
    {
        const session::Call call(name);
        op();
    }
    plat::set_env("QUILLMAR_LOG", nullptr);
    const unsigned long code = last_error_in_log(log);
    std::filesystem::remove(log, ec);
    return code;
}

}  // namespace qm::test
