// A replaced file is written beside the old one and renamed over it only when it is
// complete, so a failure never leaves a half-written file behind; a file this
// expansion creates and cannot finish is removed.
#include "extract/extract.h"

#include <cstdio>
#include <cstring>

#include "extract/messages.h"
#include "platform/errors.h"
#include "platform/fs.h"

namespace qm::extract {

namespace {

using tar::TarEntry;
using tar::TarFormat;

const char* etext(int e) noexcept { return plat::error_text_or_null(e); }

// The directory components on the way to a member's name, in order, as the runtime's
// strtok would split its directory part at "/": empty components are skipped. fn gets
// the path up to and including each component, the component alone and its place, and
// returns false to stop.
template <typename Fn>
void for_each_way_component(const TarEntry& e, Fn fn) noexcept {
    char dir[kNameSize];
    std::snprintf(dir, sizeof dir, "%s", e.name);
    size_t len = std::strlen(dir);
    // A directory member makes its last component itself: only what leads to it is the way.
    if (tar::TarIsDirectory(e))
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

DiskEntry stat_probe(void*, const char* path) noexcept {
    DiskEntry d;
    plat::PathStat st;
    const int e = plat::path_stat(path, &st);
    if (e == plat::kENOENT) return d;
    if (e != 0) {
        d.kind = DiskKind::Unknown;
        d.error = e;
        return d;
    }
    d.kind = st.is_dir ? DiskKind::Directory : DiskKind::File;
    d.mtime = st.mtime;
    return d;
}

bool is_directory_now(const char* path) noexcept {
    plat::PathStat st;
    return plat::path_stat(path, &st) == 0 && st.is_dir;
}

// mkdir that takes "it exists" for success when a directory is there when it answers:
// another expansion into the same target may have made it since the look-up.
int make_dir_once(const char* path) noexcept {
    const int e = plat::make_dir(path);
    if (e == plat::kEEXIST && is_directory_now(path)) return 0;
    return e;
}

Extracted failed(char* message, const char* format, const char* name, int err) noexcept {
    TarFormat(message, format, name, err, etext(err));
    return Extracted::Failed;
}

// The missing directories on the way to e's name, from the first one the look-up found
// missing.
bool make_way(const TarEntry& e, int from, char* message) noexcept {
    bool ok = true;
    for_each_way_component(e, [&](const char* path, const char*, int index) {
        if (index < from) return true;
        if (int me = make_dir_once(path)) {
            TarFormat(message, text::kMkdir, path, me, etext(me));
            ok = false;
        }
        return ok;
    });
    return ok;
}

Extracted make_member_dir(const TarEntry& e, char* message) noexcept {
    if (int me = make_dir_once(e.name)) return failed(message, text::kExtractDir, e.name, me);
    return Extracted::Written;
}

// The writing of a file member: its data, mode and time, onto a new file or in place of
// an older one.

Extracted write_data(const TarEntry& e, plat::OutFile& out, char* message) noexcept {
    if (e.status.size <= 0) return Extracted::Written;
    const int err = out.write(e.data, static_cast<size_t>(e.status.size));
    if (err == 0) return Extracted::Written;
    out.close();
    return failed(message, text::kWriteFile, e.name, err);
}

// Data, time and mode onto an open file at path, then closed; the same messages as the
// step-by-step runtime calls they stand for.
Extracted finish_file(const TarEntry& e, plat::OutFile& out, const char* path, char* message) noexcept {
    const char* name = e.name;
    if (write_data(e, out, message) != Extracted::Written) return Extracted::Failed;
    if (int err = out.close()) return failed(message, text::kWriteFile, name, err);
    if (int err = plat::change_mode(path, e.status.mode)) return failed(message, text::kSetMode, name, err);
    // The mode may have made the file read-only; every extracted file ends up writable.
    plat::set_attributes_normal(path);
    if (int err = plat::set_file_time(path, e.status.mtime)) return failed(message, text::kSetTime, name, err);
    return Extracted::Written;
}

// The same for a file that create_new has just made: mode and times go onto the open
// file where the platform allows, and a failure is reported as the step-by-step calls
// would report it (the first of close, mode, times that failed).
Extracted finish_new_file(const TarEntry& e, plat::OutFile& out, char* message) noexcept {
    Extracted r = write_data(e, out, message);
    if (r == Extracted::Written) {
        const plat::OutFile::Finish f = out.finish_new(e.name, e.status.mode, e.status.mtime);
        if (f.close) r = failed(message, text::kWriteFile, e.name, f.close);
        else if (f.mode) r = failed(message, text::kSetMode, e.name, f.mode);
        else if (f.time) r = failed(message, text::kSetTime, e.name, f.time);
    }
    // A file this expansion created and could not finish is not left half-made.
    if (r != Extracted::Written) (void)plat::remove_file(e.name);
    return r;
}

Extracted write_new(const TarEntry& e, char* message) noexcept {
    plat::OutFile out;
    if (int ce = out.create(e.name)) return failed(message, text::kCreateFile, e.name, ce);
    const Extracted r = finish_file(e, out, e.name, message);
    if (r != Extracted::Written) (void)plat::remove_file(e.name);
    return r;
}

Extracted replace(const TarEntry& e, char* message) noexcept {
    const char* name = e.name;
    if (int ce = plat::change_mode(name, e.status.mode | 0222u)) return failed(message, text::kChmod, name, ce);
    plat::OutFile out;
    char tmp[kNameSize + 32];
    if (int ce = out.create_temp_beside(name, tmp, sizeof tmp)) return failed(message, text::kCreateFile, name, ce);
    if (finish_file(e, out, tmp, message) != Extracted::Written) {
        (void)plat::remove_file(tmp);
        return Extracted::Failed;
    }
    if (int re = plat::replace_file(tmp, name)) {
        (void)plat::remove_file(tmp);
        return failed(message, text::kCreateFile, name, re);
    }
    return Extracted::Written;
}

// What the verdict of a look-up says, done.
Extracted act(const TarEntry& e, const OnDisk& d, const Verdict& v, char* message) noexcept {
    switch (v.fate) {
        case Fate::Refuse:
        case Fate::Fail:
            std::memcpy(message, v.message, kMessageSize);
            return Extracted::Failed;
        case Fate::KeepNewer:
            std::memcpy(message, v.message, kMessageSize);
            return Extracted::KeptNewer;
        case Fate::Directory:
            return v.make_dirs ? make_member_dir(e, message) : Extracted::Written;
        case Fate::Write:
            if (v.make_dirs && !make_way(e, d.way_index, message)) return Extracted::Failed;
            return write_new(e, message);
        case Fate::Replace:
            return replace(e, message);
    }
    return Extracted::Failed;
}

}  // namespace

PathProbe DiskProbe() noexcept { return PathProbe{&stat_probe, nullptr}; }

OnDisk LookUpMember(const TarEntry& e, const PathProbe& probe) noexcept {
    OnDisk d;
    d.looked = true;
    d.at_name = probe.at(probe.context, e.name);
    if (d.at_name.kind != DiskKind::Absent) return d;
    for_each_way_component(e, [&](const char* path, const char* comp, int index) {
        const DiskEntry w = probe.at(probe.context, path);
        if (w.kind == DiskKind::Directory) return true;
        d.way = w;
        d.way_index = index;
        std::snprintf(d.way_path, sizeof d.way_path, "%s", path);
        std::snprintf(d.way_component, sizeof d.way_component, "%s", comp);
        return false;
    });
    return d;
}

Extracted TarExtract(const TarEntry& e, char* message) noexcept {
    message[0] = '\0';
    // First on the header alone, the disk taken to be as it mostly is: nothing at the
    // name, every directory on its way there. An exclusive create (or a mkdir) that
    // succeeds proves it and saves the look-up; anything else there makes it fail, and
    // the look-up finds out what and decides again.
    const Verdict assumed = DecideMember(e, OnDisk{});
    switch (assumed.fate) {
        case Fate::Refuse:
        case Fate::Fail:
            std::memcpy(message, assumed.message, kMessageSize);
            return Extracted::Failed;
        case Fate::Write: {
            plat::OutFile out;
            if (out.create_new(e.name) == 0) return finish_new_file(e, out, message);
            break;
        }
        case Fate::Directory:
            if (plat::make_dir(e.name) == 0) return Extracted::Written;
            break;
        default:
            break;
    }
    const OnDisk d = LookUpMember(e, DiskProbe());
    return act(e, d, DecideMember(e, d), message);
}

}  // namespace qm::extract
