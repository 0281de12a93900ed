// The one shape a failure takes on its way out of an operation: the Win32 code the
// export leaves as its last error and the text the user is shown. Operations hand it
// back; only the export's session (session.h) turns it into a box, a log line and the
// last error.
#pragma once

#include <cstring>

#include "platform/host.h"
#include "platform/result.h"

namespace qm::session {

struct Status {
    unsigned long code = 0;  // 0: no failure
    char message[256] = "";  // shown in the "Error" box; empty when nothing is shown
    bool failed() const noexcept { return code != 0; }

    // What a later step of the same call adds. The first failure of a call is the one
    // it reports: its code stands, and so does the first text to show.
    void add(unsigned long later) noexcept {
        if (code == 0) code = later;
    }
    void add(const plat::CallResult& later) noexcept { add(later.code); }
    void add(const Status& later) noexcept {
        add(later.code);
        if (message[0] == '\0') std::memcpy(message, later.message, sizeof message);
    }
};

// A C runtime error number as the code a failure carries.
inline unsigned long code_from_crt(int number) noexcept {
    const unsigned long code = plat::win32_from_crt(number);
    return code != 0 ? code : plat::win32::kGenFailure;
}

}  // namespace qm::session
