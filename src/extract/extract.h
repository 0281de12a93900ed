// The disk side of a member: what is at its name and on its way there (the look-up), and
// its writing, relative to the current directory, under the installer's rule that a newer
// file on disk is never replaced (the member's path through decide, stage and commit is
// member.h).
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstring>

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
// What a look at a path (its error number, and what it found) tells of it.
DiskEntry disk_entry(int error, const plat::PathStat& st) noexcept;

// The directory components on the way to a member's name, in order, as the runtime's
// strtok would split its directory part at "/": empty components are skipped. fn gets
// the path up to and including each component, the component alone and its place, and
// returns false to stop.
template <typename Fn>
void for_each_way_component(const char* name, bool directory, Fn fn) noexcept {
    char dir[kNameSize];
    std::snprintf(dir, sizeof dir, "%s", name);
    size_t len = std::strlen(dir);
    // A directory member makes its last component itself: only what leads to it is the way.
    if (directory)
        while (len > 0 && dir[len - 1] == '/') dir[--len] = '\0';
    char* last = std::strrchr(dir, '/');
    if (!last) return;
    *last = '\0';

    char path[kNameSize] = "";
    size_t plen = 0;
    int index = 0;
    const char* p = dir;
    while (*p) {
        while (*p == '/') ++p;
        if (!*p) break;
        const char* end = p;
        while (*end && *end != '/') ++end;
        const size_t klen = static_cast<size_t>(end - p);
        char comp[kNameSize];
        std::memcpy(comp, p, klen);
        comp[klen] = '\0';
        if (plen > 0) path[plen++] = '/';
        std::memcpy(path + plen, comp, klen + 1);
        plen += klen;
        p = end;
        if (!fn(static_cast<const char*>(path), static_cast<const char*>(comp), index++)) return;
    }
}
template <typename Fn>
void for_each_way_component(const tar::TarEntry& e, Fn fn) noexcept {
    for_each_way_component(e.name, tar::TarIsDirectory(e), fn);
}

// What is at e's name, and, when nothing is, on its way there (see OnDisk).
OnDisk look_up_member(const tar::TarEntry& e, const PathProbe& probe) noexcept;

// The directories a walk has found on its members' way, each a directory and none a
// link: the deepest such path looked at last, so that the members after it in the same
// directory are decided without a look. It stays true while only the walk itself changes
// the target, which never turns a directory into anything else.
class WayCache {
public:
    // Whether the directory path (len characters, "/" separated, no empty component) is
    // that path or one on the way to it.
    bool holds(const char* path, size_t len) const noexcept;
    void learn(const char* path, size_t len) noexcept;

private:
    char path_[kNameSize] = "";
    size_t len_ = 0;
};

// The way to e's name, looked at before anything is created there (the links on it
// first, as libarchive's check_symlinks does), into d: the name itself is assumed free,
// as it mostly is, and the create proves it (OnDisk::way_looked). A name holding a "\"
// gets the whole look-up, since the platform walks it otherwise. known spares the
// directories it holds and learns those found. (d is filled in place: every member of an
// expansion comes this way.)
void look_up_way(const tar::TarEntry& e, const PathProbe& probe, WayCache& known, OnDisk& d) noexcept;

// Whether known holds every directory on the way to e's name, so that deciding it takes
// no look at the disk (never for a name holding a "\").
bool way_known(const tar::TarEntry& e, const WayCache& known) noexcept;

// look_up_way, and the name itself looked at too (d.looked): for a decision that stands
// without the create proving the name free (a whole package, decided before any member
// is written).
void look_up_way_and_name(const tar::TarEntry& e, const PathProbe& probe, WayCache& known, OnDisk& d) noexcept;

// mkdir that takes "it exists" for success when a directory is there when it answers:
// another expansion into the same target may have made it since the look-up.
int make_dir_once(const char* path) noexcept;

// What extracting one member came to: the outcome extraction acted on (Write, Replace,
// Directory, KeepNewer, Refuse or Fail) and, for Refuse and Fail, the failure; for
// KeepNewer the warning is in status.message with no code (nothing is shown for it).
struct Extraction {
    Outcome outcome = Outcome::Write;
    session::Status status;
};

// One member, all its steps at once (member.h): written relative to the current
// directory, within scope (null: none).
Extraction TarExtract(const tar::TarEntry& e, plat::WholeFileScope* scope = nullptr) noexcept;

// x made the failure of a step: format (a text of messages.h with the name, the error
// number and its text), the code the error number stands for.
void fail_step(Extraction& x, const char* format, const char* name, int error) noexcept;

}  // namespace qm::extract
