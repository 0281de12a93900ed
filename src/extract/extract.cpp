// Every file goes through the platform's whole-file write: under a member's name there
// is only ever what was there or the complete member (data, mode, time), whatever stops
// the expansion, and a replaced file keeps its identity. No member is ever written
// through a link: one at its name is replaced, one on its way refuses it.
#include "extract/extract.h"

#include <cstdio>
#include <cstring>

#include "extract/messages.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/whole_file.h"

namespace qm::extract {

namespace {

static_assert(sizeof(session::Status{}.message) == kMessageSize, "a member's message fits the status");

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

// Records a failed step: the runtime call's error and the text the user is shown.
// False, for the caller to return.
bool failed(Extraction& x, const char* format, const char* name, int err) noexcept {
    x.outcome = Outcome::Fail;
    x.status.code = session::code_from_crt(err);
    TarFormat(x.status.message, format, name, err, etext(err));
    return false;
}

// The missing directories on the way to e's name, from the first one the look-up found
// missing.
bool make_way(const TarEntry& e, int from, Extraction& x) noexcept {
    bool ok = true;
    for_each_way_component(e, [&](const char* path, const char*, int index) {
        if (index < from) return true;
        if (int me = make_dir_once(path)) ok = failed(x, text::kMkdir, path, me);
        return ok;
    });
    return ok;
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

bool write_data(const TarEntry& e, plat::WholeFile& out, Extraction& x) noexcept {
    if (e.status.size <= 0) return true;
    const int err = out.write(e.data, static_cast<size_t>(e.status.size));
    if (err == 0) return true;
    out.discard();
    return failed(x, text::kWriteFile, e.name, err);
}

bool committed(const TarEntry& e, const plat::CallResult& r, Extraction& x) noexcept {
    switch (r.step) {
        case plat::FileStep::None: return true;
        case plat::FileStep::Mode: return failed(x, text::kSetMode, e.name, r.error);
        case plat::FileStep::Time: return failed(x, text::kSetTime, e.name, r.error);
        case plat::FileStep::Write: return failed(x, text::kWriteFile, e.name, r.error);
        default: return failed(x, text::kCreateFile, e.name, r.error);
    }
}

// A file about to be replaced is made writable first, as the runtime's step does; a
// link is not, since that would change what it points to.
bool make_writable(const TarEntry& e, bool link_at_name, Extraction& x) noexcept {
    if (link_at_name) return true;
    if (int ce = plat::change_mode(e.name, e.status.mode | 0222u)) return failed(x, text::kChmod, e.name, ce);
    return true;
}

// What one member's writing carries along: its scope, and how often a name taken
// meanwhile may still send it back to the look-up.
struct Writing {
    plat::WholeFileScope* scope;
    int again;
};

void act(const TarEntry& e, const OnDisk& d, const Verdict& v, Extraction& x, Writing w, int create_error) noexcept;

// Something took the name while the new file was made (another expansion into the same
// target): what the look-up finds there now decides. The content already written
// serves where the member replaces it.
void decide_again(const TarEntry& e, plat::WholeFile& out, Extraction& x, Writing w) noexcept {
    const OnDisk d = look_up_member(e, DiskProbe());
    const Verdict v = decide_member(e, d);
    if (v.outcome == Outcome::Replace && out.holds_content()) {
        x.outcome = Outcome::Replace;
        if (make_writable(e, d.at_name.kind == DiskKind::Link, x)) committed(e, out.publish_replacing(), x);
        return;
    }
    out.discard();
    act(e, d, v, x, Writing{w.scope, w.again - 1}, 0);
}

// A staged new file given its name; a name taken meanwhile goes back to the look-up.
void publish_new(const TarEntry& e, plat::WholeFile& out, Extraction& x, Writing w) noexcept {
    x.outcome = Outcome::Write;
    const plat::CallResult r = out.publish();
    if (r.error == plat::kEEXIST && r.step == plat::FileStep::Place && w.again > 0)
        return decide_again(e, out, x, w);
    committed(e, r, x);
}

// The data and end of a new file whose write has begun, then its name.
void finish_new(const TarEntry& e, plat::WholeFile& out, Extraction& x, Writing w) noexcept {
    if (!write_data(e, out, x)) return;
    const plat::CallResult r = out.stage(member_end(e));
    if (!r.ok()) {
        committed(e, r, x);
        return;
    }
    publish_new(e, out, x, w);
}

// create_error: how creating the file already failed, for a failure the look-up could
// not explain (no room, no right to create): writing the member again would meet it
// again, so it is the member's failure; 0 to try.
void write_new(const TarEntry& e, Extraction& x, Writing w, int create_error) noexcept {
    plat::WholeFile out;
    const int ce = create_error ? create_error : out.begin(e.name, plat::WholeFile::Intent::New, w.scope, true);
    if (ce == plat::kEEXIST && w.again > 0) return decide_again(e, out, x, w);
    if (ce) {
        failed(x, text::kCreateFile, e.name, ce);
        return;
    }
    finish_new(e, out, x, w);
}

void write_replacing(const TarEntry& e, bool link_at_name, Extraction& x, Writing w, int create_error) noexcept {
    if (!make_writable(e, link_at_name, x)) return;
    plat::WholeFile out;
    if (int ce = create_error ? create_error : out.begin(e.name, plat::WholeFile::Intent::Replace, w.scope, true)) {
        failed(x, text::kCreateFile, e.name, ce);
        return;
    }
    if (write_data(e, out, x)) committed(e, out.commit(member_end(e)), x);
}

// What the verdict of a look-up says, done. again bounds how often a name taken
// meanwhile sends the member back to the look-up.
void act(const TarEntry& e, const OnDisk& d, const Verdict& v, Extraction& x, Writing w, int create_error) noexcept {
    x.outcome = v.outcome;
    switch (v.outcome) {
        case Outcome::Refuse:
        case Outcome::Fail:
            x.status.code = v.error != 0 ? session::code_from_crt(v.error) : plat::win32::kInvalidData;
            std::memcpy(x.status.message, v.message, kMessageSize);
            return;
        case Outcome::KeepNewer:
            std::memcpy(x.status.message, v.message, kMessageSize);
            return;
        case Outcome::Directory:
            if (!v.make_dirs) return;
            if (int me = make_dir_once(e.name)) failed(x, text::kExtractDir, e.name, me);
            return;
        case Outcome::Write:
            if (v.make_dirs && !make_way(e, d.way_index, x)) return;
            return write_new(e, x, w, create_error);
        case Outcome::Replace:
            return write_replacing(e, d.at_name.kind == DiskKind::Link, x, w, create_error);
        case Outcome::NotReached:
            return;
    }
}

// Whether the look-up can tell why an exclusive create failed: something at the name or
// on its way. Anything else (no room, no right) is the create's own failure.
bool look_up_explains(int create_error) noexcept {
    return create_error == plat::kEEXIST || create_error == plat::kENOENT || create_error == plat::kENOTDIR ||
           create_error == plat::kEISDIR || create_error == plat::kENAMETOOLONG;
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

bool stages_ahead(const TarEntry& e) noexcept { return decide_member(e, OnDisk{}).outcome == Outcome::Write; }

void stage_member(StagedMember& s, plat::WholeFileScope* scope) noexcept {
    const TarEntry& e = s.entry;
    s.write_error = 0;
    s.staged = plat::CallResult{};
    s.create_error = s.out.begin(e.name, plat::WholeFile::Intent::New, scope, true);
    if (s.create_error) return;
    if (e.status.size > 0) s.write_error = s.out.write(e.data, static_cast<size_t>(e.status.size));
    if (s.write_error) {
        s.out.discard();
        return;
    }
    s.staged = s.out.stage(member_end(e));
}

Extraction commit_member(StagedMember& s, plat::WholeFileScope* scope) noexcept {
    const TarEntry& e = s.entry;
    Extraction x;
    const Writing w{scope, kAgain};
    if (s.create_error) {
        // Something at the name or on its way: the look-up decides. Anything else (no
        // room, no right) would meet the next create as well: the member's failure.
        const int create_error = look_up_explains(s.create_error) ? 0 : s.create_error;
        const OnDisk d = look_up_member(e, DiskProbe());
        act(e, d, decide_member(e, d), x, w, create_error);
    } else if (s.write_error) {
        failed(x, text::kWriteFile, e.name, s.write_error);
    } else if (!s.staged.ok()) {
        committed(e, s.staged, x);
    } else {
        publish_new(e, s.out, x, w);
    }
    return x;
}

Extraction TarExtract(const TarEntry& e, plat::WholeFileScope* scope) noexcept {
    // First on the header alone, the disk taken to be as it mostly is: nothing at the
    // name, every directory on its way there. An exclusive create (or a mkdir) that
    // succeeds proves it and saves the look-up; anything else there makes it fail, and
    // the look-up finds out what and decides again.
    const Verdict assumed = decide_member(e, OnDisk{});
    if (assumed.outcome == Outcome::Write) {
        StagedMember s;
        s.entry = e;
        stage_member(s, scope);
        return commit_member(s, scope);
    }
    Extraction x;
    if (assumed.outcome == Outcome::Directory) {
        x.outcome = Outcome::Directory;
        if (plat::make_dir(e.name) == 0) return x;
        const OnDisk d = look_up_member(e, DiskProbe());
        act(e, d, decide_member(e, d), x, Writing{scope, kAgain}, 0);
        return x;
    }
    act(e, OnDisk{}, assumed, x, Writing{scope, kAgain}, 0);  // the header alone decides
    return x;
}

}  // namespace qm::extract
