// The one shape a failure takes on its way out of an operation: the Win32 code the
// export leaves as its last error and the text the user is shown. Only the export's
// session (session.h) turns it into a box, a log line and the last error.
#pragma once

#include "platform/host.h"

namespace qm::session {

struct Status {
    unsigned long code = 0;  // 0: no failure
    char message[256] = "";  // shown in the "Error" box; empty when nothing is shown
    bool failed() const noexcept { return code != 0; }
};

// A C runtime error number as the code a failure carries.
inline unsigned long code_from_crt(int number) noexcept {
    const unsigned long code = plat::win32_from_crt(number);
    return code != 0 ? code : plat::win32::kGenFailure;
}

}  // namespace qm::session
