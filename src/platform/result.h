// What a platform call that can fail hands back: which of its steps failed and that
// step's own numbers, taken the moment it failed. Nothing above the platform reads errno
// or GetLastError after a call has returned: by then the calls made since (a clean-up,
// a close) may have left another code there.
#pragma once

#include "platform/host.h"

namespace qm::plat {

// The steps a file operation is made of, for callers that report each in its own words.
enum class FileStep { None, Open, Read, Search, Create, Write, Mode, Time, Place, Remove };

struct CallResult {
    FileStep step = FileStep::None;
    // The C runtime's error number (errors.h numbering), which the library's messages
    // print; 0 when the call did what it was asked.
    int error = 0;
    // The code an export leaves as its last error (Win32 numbering): the system's own
    // where the failing step was a system call that said one, else the number's.
    unsigned long code = 0;
    bool ok() const noexcept { return error == 0 && code == 0; }
};

// A failure known by its runtime number: its code is the number's.
inline CallResult failed_with(FileStep step, int error) noexcept {
    return CallResult{step, error, win32_from_crt(error)};
}

}  // namespace qm::plat
