// Error numbers and their texts, in the C runtime numbering that the Windows build
// reports; the POSIX side translates its errno values into this numbering so that
// every message reads the same on both.
#pragma once

namespace qm::plat {

enum : int {
    kEPERM = 1,
    kENOENT = 2,
    kEIO = 5,
    kEBADF = 9,
    kENOMEM = 12,
    kEACCES = 13,
    kEEXIST = 17,
    kEXDEV = 18,
    kENOTDIR = 20,
    kEISDIR = 21,
    kEINVAL = 22,
    kEMFILE = 24,
    kEFBIG = 27,
    kENOSPC = 28,
    kEROFS = 30,
    kENAMETOOLONG = 38,
    kENOTEMPTY = 41,
};

// The runtime's message for 0..42 ("No such file or directory" for 2); null from 43 on.
const char* error_text(int number) noexcept;

// The same text, or "(null)" where error_text gives null: for formatting into messages.
const char* error_text_or_null(int number) noexcept;

// The current error number of the C runtime, translated into the numbering above.
int last_crt_error() noexcept;

// A POSIX errno value translated into the numbering above (identity on Windows).
int from_native_errno(int e) noexcept;

}  // namespace qm::plat
