#include "platform/errors.h"
#include "platform/host.h"

namespace qm::plat {

unsigned long win32_from_crt(int number) noexcept {
    // The inverse of the runtime's own mapping (win32/errmap.cpp), one code per number.
    switch (number) {
        case 0: return win32::kSuccess;
        case kENOENT: return win32::kFileNotFound;
        case kEMFILE: return win32::kTooManyOpenFiles;
        case kEPERM:
        case kEACCES:
        case kEISDIR: return win32::kAccessDenied;
        case kEBADF: return win32::kInvalidHandle;
        case kENOMEM: return win32::kNotEnoughMemory;
        case kEXDEV: return win32::kNotSameDevice;
        case kEROFS: return win32::kWriteProtect;
        case kEIO: return win32::kReadFault;
        case kENOSPC:
        case kEFBIG: return win32::kDiskFull;
        case kENOTEMPTY: return win32::kDirNotEmpty;
        case kEEXIST: return win32::kAlreadyExists;
        case kENAMETOOLONG: return win32::kFilenameTooLong;
        case kENOTDIR: return win32::kDirectory;
        case kEINVAL: return win32::kInvalidParameter;
        default: return win32::kGenFailure;
    }
}

}  // namespace qm::plat
