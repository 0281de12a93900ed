// A member's fate, decided in one place: from its decoded header and what is at its
// name on disk. Extraction acts on the verdict; the package checker and the plan report
// it. The decision touches nothing; what it is given about the disk comes from a
// look-up (extract.h), which the caller chooses to make against the real disk or
// against a picture of it.
#pragma once

#include <cstdint>

#include "platform/fs.h"
#include "tar/tar.h"

namespace qm::extract {

using tar::kMessageSize;
using tar::kNameSize;

// What is at one path, as far as extraction cares. A kind added here (a link at a name,
// say) gets its rule in decide_member and its recognition in the look-up's probe.
enum class DiskKind {
    Absent,     // nothing: the look-up answered "no such file"
    File,
    Directory,
    Link,       // a symbolic link, junction or mount point: never followed
    Unknown,    // the look-up failed otherwise; error says how
};

struct DiskEntry {
    DiskKind kind = DiskKind::Absent;
    int error = 0;      // Unknown: the error number
    int64_t mtime = 0;  // File, Directory: seconds since 1970
    bool read_only = false;  // File: read-only, as the runtime's stat shows it
    plat::OwnerLook owner{};  // File: what a replacement of it takes over (the look's own)
};

// What is at a member's name and on its way there. Its texts are set where they are
// known: a new one has them empty without clearing the whole buffers, which every member
// of an expansion would pay for.
struct OnDisk {
    OnDisk() noexcept { way_path[0] = way_component[0] = unmade_step[0] = '\0'; }
    // False: nothing was looked at, and the common case is assumed: nothing at the name,
    // every directory on the way there. The verdict then rests on the header alone.
    bool looked = false;
    // The way was looked at and the name was not (the create that follows proves it
    // free): what is below holds for the way, and the name is taken to be free.
    bool way_looked = false;
    DiskEntry at_name;
    // The way, looked at only when nothing is at the name: the directory components of
    // the name in order ("/" separated, empty ones skipped). `way` is the first one that
    // is not a directory, with its path from the first component (way_path), its own
    // name (way_component) and its place (way_index, from 0); or kind Directory when
    // every one is, or there are none.
    DiskEntry way{DiskKind::Directory, 0, 0};
    int way_index = 0;
    char way_path[kNameSize];
    char way_component[kNameSize];
    // A link among the directory components, looked for whatever is at the name: a
    // member is never written through one.
    bool link_on_way = false;
    // A "\" in a name is a separator to the platform, but extraction makes directories
    // only at "/": where a directory the platform needs is neither there nor made, the
    // step that needs it fails. unmade_error is that failure's error number (0: every
    // step has its directory), unmade_step the mkdir that fails (its path as extraction
    // forms it), or empty for the member's own create or mkdir.
    int unmade_error = 0;
    char unmade_step[kNameSize];
};

// What becomes of a member: the one model that extraction acts on and that the checker,
// the plan and verify report.
enum class Outcome {
    Write,       // a new file
    Replace,     // a file of the same or an older time is replaced
    KeepNewer,   // a newer file on disk stays; the expansion goes on
    Directory,   // a directory, made or already there
    Refuse,      // the header alone stops the expansion, with message
    Fail,        // what is on disk stops the expansion, with message
    NotReached,  // an earlier member stopped the expansion
};

// "write", "replace", "keep-newer", "directory", "refuse", "fail", "not-reached".
const char* outcome_name(Outcome o) noexcept;

// Whether the expansion stops at a member with this outcome.
constexpr bool stops_expansion(Outcome o) noexcept { return o == Outcome::Refuse || o == Outcome::Fail; }

struct Verdict {
    Verdict() noexcept { message[0] = '\0'; }
    Outcome outcome = Outcome::Write;
    // Refuse and Fail: what the user is shown. KeepNewer: the warning extraction leaves
    // (an expansion does not show it).
    char message[kMessageSize];
    // Write: directories on the way are to be made, from way_index on. Directory: the
    // member's own directory is to be made (it is not there yet).
    bool make_dirs = false;
    // Fail: the runtime's error number the failure stands for, when there is one (the
    // export's last error is made of it); 0 for a refusal.
    int error = 0;
    // Fail: only because the directory the name's single "/" leads into is not there
    // (nothing is made for such a name). The checker, which cannot see the target,
    // reports it as a need of the package instead.
    bool needs_parent = false;
};

Verdict decide_member(const tar::TarEntry& e, const OnDisk& disk) noexcept;

// Why a member name must not be written (it would land outside the target directory,
// in another file's stream, or on a device), or null when it is safe.
const char* TarUnsafeNameReason(const char* name) noexcept;

// The runtime's ctime text of t without its newline ("Wed Jan 02 02:03:55 1980"), in
// local time, into out.
void TarTimeText(int64_t t, char* out, size_t size) noexcept;

}  // namespace qm::extract
