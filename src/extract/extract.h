// The disk side of a member: what is at its name (the look-up), and writing it there
// as its verdict says, relative to the current directory, under the installer's rule
// that a newer file on disk is never replaced.
#pragma once

#include "extract/verdict.h"
#include "platform/whole_file.h"
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

enum class Extracted {
    Written = 0,    // the file is written, or the directory made or found
    KeptNewer = 2,  // a newer file on disk stays; message holds the warning
    Failed = -1,    // message says why; the expansion stops
};

// Writes e relative to the current directory. message (kMessageSize bytes) is emptied
// first and holds the text of anything but Written. The write belongs to the walk's
// scope (null: on its own).
Extracted TarExtract(const tar::TarEntry& e, char* message, plat::WholeFileScope* scope = nullptr) noexcept;

}  // namespace qm::extract
