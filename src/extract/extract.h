// The disk side of a member: what is at its name (the look-up), and writing it there
// as its verdict says, relative to the current directory, under the installer's rule
// that a newer file on disk is never replaced.
#pragma once

#include "extract/verdict.h"
#include "platform/whole_file.h"
#include "session/status.h"
#include "tar/tar.h"

namespace qm::extract {

// How a look-up sees one path: the platform's stat (DiskProbe), or a caller's picture
// of the disk, such as a plan's record of what the members before would have made.
struct PathProbe {
    DiskEntry (*at)(void* context, const char* path) noexcept;
    void* context;
};
PathProbe DiskProbe() noexcept;

// What is at e's name, and, when nothing is, on its way there (see OnDisk).
OnDisk look_up_member(const tar::TarEntry& e, const PathProbe& probe) noexcept;

// What extracting one member came to: the outcome extraction acted on (Write, Replace,
// Directory, KeepNewer, Refuse or Fail) and, for Refuse and Fail, the failure; for
// KeepNewer the warning is in status.message with no code (an expansion does not show it).
struct Extraction {
    Outcome outcome = Outcome::Write;
    session::Status status;
};

// Writes e relative to the current directory, within scope (null: none).
Extraction TarExtract(const tar::TarEntry& e, plat::WholeFileScope* scope = nullptr) noexcept;

// Whether the header alone lets e be staged before anything is looked up: a file
// member, assumed new (the common case), which its commit proves or sends back to the
// look-up.
bool stages_ahead(const tar::TarEntry& e) noexcept;

// A member staged as a new file: its data, mode and time on a file nobody takes for it
// yet. Staging touches nothing but that file, so members stage on worker threads, in any
// order, while commits run on one thread in member order.
struct StagedMember {
    tar::TarEntry entry;  // a copy: the walk moves on; its data stays in the package image
    plat::WholeFile out;
    int create_error = 0;
    int write_error = 0;
    plat::CallResult staged;
};
void stage_member(StagedMember& s, plat::WholeFileScope* scope) noexcept;
// Gives a staged member its name, or, where staging met something at the name or on its
// way, does what the look-up then decides; the member's Extraction as TarExtract's.
Extraction commit_member(StagedMember& s, plat::WholeFileScope* scope) noexcept;

}  // namespace qm::extract
