// What is at a member's name and on its way there, as the platform walks a path: links
// are never followed (the probe looks at names, path_lstat), and a "\" separates as "/"
// does. The writing itself is member.cpp.
#include "extract/extract.h"

#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/fs.h"

namespace qm::extract {

DiskEntry disk_entry(int e, const plat::PathStat& st) noexcept {
    DiskEntry d;
    if (e == plat::kENOENT) return d;
    if (e != 0) {
        d.kind = DiskKind::Unknown;
        d.error = e;
        return d;
    }
    d.kind = st.is_link ? DiskKind::Link : st.is_dir ? DiskKind::Directory : DiskKind::File;
    d.mtime = st.mtime;
    d.read_only = st.read_only;
    d.owner = st.owner;
    return d;
}

namespace {

static_assert(sizeof(session::Status{}.message) == kMessageSize, "a member's message fits the status");

using tar::TarEntry;

DiskEntry stat_probe(void*, const char* path) noexcept {
    plat::PathStat st;
    const int e = plat::path_lstat(path, &st);
    return disk_entry(e, st);
}

bool is_separator(char ch) noexcept { return ch == '/' || ch == '\\'; }

// The step that needs the directory ending at `at` in a file's name: the mkdir of the
// first directory extraction makes that holds it (its path formed as make_way forms it,
// doubled "/" dropped), or, when none does, the create of the file itself (left empty).
void note_unmade(const char* name, size_t at, bool made_at_slash, int error, OnDisk& d) noexcept {
    d.unmade_error = error;
    const char* end = made_at_slash ? std::strchr(name + at, '/') : nullptr;
    if (!end) return;
    size_t n = 0;
    for (const char* p = name; p < end && n + 1 < sizeof d.unmade_step; ++p)
        if (*p != '/' || (n > 0 && d.unmade_step[n - 1] != '/')) d.unmade_step[n++] = *p;
    d.unmade_step[n] = '\0';
}

// A name holding a "\": the platform walks every component before a separator of either
// kind, while extraction makes missing directories only at a "/" (for a file whose name
// has two or more). The first directory the platform needs that is neither there nor
// made goes into d with the step that fails for it; a link among them is one on the way.
void look_past_backslashes(const TarEntry& e, const PathProbe& probe, OnDisk& d) noexcept {
    const char* name = e.name;
    size_t len = std::strlen(name);
    if (!std::memchr(name, '\\', len)) return;
    const bool directory = tar::TarIsDirectory(e);
    if (directory)
        while (len > 0 && is_separator(name[len - 1])) --len;
    const char* last = std::strrchr(name, '/');
    const bool made_at_slash = !directory && last && std::memchr(name, '/', static_cast<size_t>(last - name));
    const bool absent = d.at_name.kind == DiskKind::Absent;
    char path[kNameSize];
    bool missing = false;  // from here on nothing is there: only what extraction makes
    for (size_t i = 1; i < len; ++i) {
        if (!is_separator(name[i]) || is_separator(name[i - 1])) continue;
        const bool made = made_at_slash && name[i] == '/';
        if (!missing) {
            std::memcpy(path, name, i);
            path[i] = '\0';
            const DiskEntry w = probe.at(probe.context, path);
            if (w.kind == DiskKind::Directory) continue;
            if (w.kind == DiskKind::Link) {
                d.link_on_way = true;
                return;
            }
            missing = true;
            if (made && w.kind == DiskKind::Absent) continue;
            if (absent) note_unmade(name, i, made_at_slash, w.kind == DiskKind::Unknown ? w.error : plat::kENOENT, d);
            return;
        }
        if (made) continue;
        if (absent) note_unmade(name, i, made_at_slash, plat::kENOENT, d);
        return;
    }
}

}  // namespace

PathProbe DiskProbe() noexcept { return PathProbe{&stat_probe, nullptr}; }

OnDisk look_up_member(const TarEntry& e, const PathProbe& probe) noexcept {
    OnDisk d;
    d.looked = true;
    d.at_name = probe.at(probe.context, e.name);
    // The way is looked at whatever is at the name, for a link on it; the first thing
    // on it that is not a directory only matters when nothing is at the name.
    const bool absent = d.at_name.kind == DiskKind::Absent;
    for_each_way_component(e, [&](const char* path, const char* comp, int index) {
        const DiskEntry w = probe.at(probe.context, path);
        if (w.kind == DiskKind::Directory) return true;
        d.link_on_way = w.kind == DiskKind::Link;
        if (!absent) return false;
        d.way = w;
        d.way_index = index;
        std::snprintf(d.way_path, sizeof d.way_path, "%s", path);
        std::snprintf(d.way_component, sizeof d.way_component, "%s", comp);
        return false;
    });
    look_past_backslashes(e, probe, d);
    return d;
}

bool WayCache::holds(const char* path, size_t len) const noexcept {
    return len <= len_ && std::memcmp(path, path_, len) == 0 && (len == len_ || path_[len] == '/');
}

void WayCache::learn(const char* path, size_t len) noexcept {
    if (len >= sizeof path_) return;
    std::memcpy(path_, path, len);
    path_[len] = '\0';
    len_ = len;
}

bool way_known(const TarEntry& e, const WayCache& known) noexcept {
    const char* name = e.name;
    size_t len = std::strlen(name);
    if (std::memchr(name, '\\', len)) return false;
    // A directory member makes its last component itself: only what leads to it is the way.
    if (tar::TarIsDirectory(e))
        while (len > 0 && name[len - 1] == '/') --len;
    size_t dir = len;
    while (dir > 0 && name[dir - 1] != '/') --dir;
    if (dir == 0) return true;  // no directory on the way
    // A name without doubled or leading separators spells its way as the look does.
    if (name[0] != '/' && !std::strstr(name, "//")) return known.holds(name, dir - 1);
    bool all = true;
    for_each_way_component(e, [&](const char* path, const char*, int) {
        all = known.holds(path, std::strlen(path));
        return all;
    });
    return all;
}

void look_up_way_and_name(const TarEntry& e, const PathProbe& probe, WayCache& known, OnDisk& d) noexcept {
    look_up_way(e, probe, known, d);
    if (d.looked) return;  // a name holding a "\": looked at whole
    d.at_name = probe.at(probe.context, e.name);
    d.looked = true;
}

int make_dir_once(const char* path) noexcept {
    const int e = plat::make_dir(path);
    plat::PathStat st;
    if (e == plat::kEEXIST && plat::path_stat(path, &st) == 0 && st.is_dir) return 0;
    return e;
}

void fail_step(Extraction& x, const char* format, const char* name, int error) noexcept {
    x.outcome = Outcome::Fail;
    x.status.code = session::code_from_crt(error);
    tar::TarFormat(x.status.message, format, name, error, plat::error_text_or_null(error));
}

void look_up_way(const TarEntry& e, const PathProbe& probe, WayCache& known, OnDisk& d) noexcept {
    if (std::strchr(e.name, '\\')) {
        d = look_up_member(e, probe);
        return;
    }
    d.looked = false;
    d.way_looked = true;
    d.at_name = DiskEntry{};
    d.way = DiskEntry{DiskKind::Directory, 0, 0};
    d.way_index = 0;
    d.way_path[0] = d.way_component[0] = '\0';
    d.link_on_way = false;
    d.unmade_error = 0;
    d.unmade_step[0] = '\0';
    if (way_known(e, known)) return;
    for_each_way_component(e, [&](const char* path, const char* comp, int index) {
        const size_t len = std::strlen(path);
        if (known.holds(path, len)) return true;
        const DiskEntry w = probe.at(probe.context, path);
        if (w.kind == DiskKind::Directory) {
            known.learn(path, len);
            return true;
        }
        d.link_on_way = w.kind == DiskKind::Link;
        d.way = w;
        d.way_index = index;
        std::snprintf(d.way_path, sizeof d.way_path, "%s", path);
        std::snprintf(d.way_component, sizeof d.way_component, "%s", comp);
        return false;
    });
}

}  // namespace qm::extract
