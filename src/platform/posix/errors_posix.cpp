#include <cerrno>

#include "platform/errors.h"

namespace qm::plat {

int from_native_errno(int e) noexcept {
    // 1..34 share the classic numbering; above that the two tables part ways.
    if (e >= 0 && e <= 34) return e;
    switch (e) {
        case EDEADLK: return 36;
        case ENAMETOOLONG: return kENAMETOOLONG;
        case ENOLCK: return 39;
        case ENOSYS: return 40;
        case ENOTEMPTY: return kENOTEMPTY;
        case EILSEQ: return 42;
        case ELOOP: return kENAMETOOLONG;
        case EDQUOT: return kENOSPC;
        default: return e < 43 ? 43 + e : e;  // never collides with a known text
    }
}

}  // namespace qm::plat
