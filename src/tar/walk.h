// The one walk over a package's members: expansion, the manifest, the checker, the
// plan and verify all go through it, so they meet the same members and end where the
// expansion ends.
#pragma once

#include "tar/tar.h"

namespace qm::tar {

// Hands each member of the opened package c to on_member, in order, starting with the
// current one; on_member answers false to stop there (Ending::Kind::Halted).
template <typename OnMember>
Ending walk_package(TarContext* c, OnMember&& on_member) {
    do {
        const TarEntry& e = TarCurrent(c);
        if (!on_member(e)) {
            Ending halted;
            halted.kind = Ending::Kind::Halted;
            halted.offset = e.offset;
            halted.block = e.header;
            return halted;
        }
    } while (TarNext(c) == TarStep::Member);
    return TarWhyEnded(c);
}

}  // namespace qm::tar
