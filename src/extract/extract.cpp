// Every file goes through the platform's whole-file write: under a member's name there
// is only ever what was there or the complete member (data, mode, time), whatever stops
// the expansion, and a replaced file keeps its identity. No member is ever written
// through a link: one at its name is replaced, one on its way refuses it.
#include "extract/extract.h"

#include <cstdio>
#include <cstring>

#include "extract/messages.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "platform/whole_file.h"
#include "session/session.h"

namespace qm::extract {

namespace {

// How often a name that another writer took meanwhile sends a member back to the look-up.
constexpr int kAgain = 2;

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
    const int e = plat::path_lstat(path, &st);
    if (e == plat::kENOENT) return d;
    if (e != 0) {
        d.kind = DiskKind::Unknown;
        d.error = e;
        return d;
    }
    d.kind = st.is_link ? DiskKind::Link : st.is_dir ? DiskKind::Directory : DiskKind::File;
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
    session::fail_crt(err);  // the failing call's own code for the export's last error
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
            failed(message, text::kMkdir, path, me);
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

// The writing of a file member: its data, then its mode and time, and only then its
// name. Each failing step gives the message of the runtime call it stands for.

plat::WholeFileEnd member_end(const TarEntry& e) noexcept {
    plat::WholeFileEnd end;
    // chmod with the member's mode, then the reset to normal attributes: every
    // extracted file ends up writable.
    end.mode_kind = plat::WholeFileEnd::Mode::Runtime;
    end.mode = e.status.mode;
    end.times_kind = plat::WholeFileEnd::Times::Seconds;
    end.seconds = e.status.mtime;
    return end;
}

Extracted write_data(const TarEntry& e, plat::WholeFile& out, char* message) noexcept {
    if (e.status.size <= 0) return Extracted::Written;
    const int err = out.write(e.data, static_cast<size_t>(e.status.size));
    if (err == 0) return Extracted::Written;
    out.discard();
    return failed(message, text::kWriteFile, e.name, err);
}

Extracted committed(const TarEntry& e, const plat::WholeFileResult& r, char* message) noexcept {
    switch (r.step) {
        case plat::WholeFileStep::None: return Extracted::Written;
        case plat::WholeFileStep::Mode: return failed(message, text::kSetMode, e.name, r.error);
        case plat::WholeFileStep::Time: return failed(message, text::kSetTime, e.name, r.error);
        case plat::WholeFileStep::Write: return failed(message, text::kWriteFile, e.name, r.error);
        default: return failed(message, text::kCreateFile, e.name, r.error);
    }
}

// A file about to be replaced is made writable first, as the runtime's step does; a
// link is not, since that would change what it points to.
Extracted make_writable(const TarEntry& e, bool link_at_name, char* message) noexcept {
    if (link_at_name) return Extracted::Written;
    if (int ce = plat::change_mode(e.name, e.status.mode | 0222u)) return failed(message, text::kChmod, e.name, ce);
    return Extracted::Written;
}

Extracted act(const TarEntry& e, const OnDisk& d, const Verdict& v, char* message, int again) noexcept;

// Something took the name while the new file was made (another expansion into the same
// target): what the look-up finds there now decides. The content already written
// serves where the member replaces it.
Extracted decide_again(const TarEntry& e, plat::WholeFile& out, char* message, int again) noexcept {
    const OnDisk d = look_up_member(e, DiskProbe());
    const Verdict v = decide_member(e, d);
    if (v.fate == Fate::Replace && out.holds_content()) {
        if (make_writable(e, d.at_name.kind == DiskKind::Link, message) != Extracted::Written)
            return Extracted::Failed;
        return committed(e, out.commit_replacing(member_end(e)), message);
    }
    out.discard();
    return act(e, d, v, message, again - 1);
}

// The data and end of a new file whose write has begun.
Extracted finish_new(const TarEntry& e, plat::WholeFile& out, char* message, int again) noexcept {
    if (write_data(e, out, message) != Extracted::Written) return Extracted::Failed;
    const plat::WholeFileResult r = out.commit(member_end(e));
    if (r.error == plat::kEEXIST && r.step == plat::WholeFileStep::Place && again > 0)
        return decide_again(e, out, message, again);
    return committed(e, r, message);
}

Extracted write_new(const TarEntry& e, char* message, int again) noexcept {
    plat::WholeFile out;
    const int ce = out.begin(e.name, plat::WholeFile::Intent::New, true);
    if (ce == plat::kEEXIST && again > 0) return decide_again(e, out, message, again);
    if (ce) return failed(message, text::kCreateFile, e.name, ce);
    return finish_new(e, out, message, again);
}

Extracted write_replacing(const TarEntry& e, bool link_at_name, char* message) noexcept {
    if (make_writable(e, link_at_name, message) != Extracted::Written) return Extracted::Failed;
    plat::WholeFile out;
    if (int ce = out.begin(e.name, plat::WholeFile::Intent::Replace, true))
        return failed(message, text::kCreateFile, e.name, ce);
    if (write_data(e, out, message) != Extracted::Written) return Extracted::Failed;
    return committed(e, out.commit(member_end(e)), message);
}

// What the verdict of a look-up says, done. again bounds how often a name taken
// meanwhile sends the member back to the look-up.
Extracted act(const TarEntry& e, const OnDisk& d, const Verdict& v, char* message, int again) noexcept {
    switch (v.fate) {
        case Fate::Refuse:
        case Fate::Fail:
            if (v.error != 0) session::fail_crt(v.error);
            std::memcpy(message, v.message, kMessageSize);
            return Extracted::Failed;
        case Fate::KeepNewer:
            std::memcpy(message, v.message, kMessageSize);
            return Extracted::KeptNewer;
        case Fate::Directory:
            return v.make_dirs ? make_member_dir(e, message) : Extracted::Written;
        case Fate::Write:
            if (v.make_dirs && !make_way(e, d.way_index, message)) return Extracted::Failed;
            return write_new(e, message, again);
        case Fate::Replace:
            return write_replacing(e, d.at_name.kind == DiskKind::Link, message);
    }
    return Extracted::Failed;
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

Extracted TarExtract(const TarEntry& e, char* message) noexcept {
    message[0] = '\0';
    // First on the header alone, the disk taken to be as it mostly is: nothing at the
    // name, every directory on its way there. An exclusive create (or a mkdir) that
    // succeeds proves it and saves the look-up; anything else there makes it fail, and
    // the look-up finds out what and decides again.
    const Verdict assumed = decide_member(e, OnDisk{});
    switch (assumed.fate) {
        case Fate::Refuse:
        case Fate::Fail:
            return act(e, OnDisk{}, assumed, message, kAgain);  // the header alone decides
        case Fate::Write: {
            // A failure a test has injected into the create meets the step-by-step way.
            if (plat::fault::armed(plat::fault::Op::Create)) break;
            plat::WholeFile out;
            if (out.begin(e.name, plat::WholeFile::Intent::New, true) != 0) break;
            return finish_new(e, out, message, kAgain);
        }
        case Fate::Directory:
            if (plat::make_dir(e.name) == 0) return Extracted::Written;
            break;
        default:
            break;
    }
    const OnDisk d = look_up_member(e, DiskProbe());
    return act(e, d, decide_member(e, d), message, kAgain);
}

}  // namespace qm::extract
