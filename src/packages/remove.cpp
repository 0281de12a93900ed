// Removal walks the package twice over its loaded image: once to learn which copy of
// each name an expansion leaves and which directories the members lie in, then to
// decide and act on each file member in order, and last on the directories, each after
// the ones inside it. The look-ups are extraction's own (a link is never followed, at a
// name or on its way); a file is opened before it is judged, and the open file is the
// one deleted.
#include "packages/remove.h"

#include <cstdarg>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "extract/extract.h"
#include "platform/dirsearch.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "session/session.h"
#include "tar/walk.h"

namespace qm::packages {

namespace {

using namespace qm::tar;
using extract::DiskKind;
namespace win32 = plat::win32;

RemovalVerdict verdict(RemovalAction action, const char* fmt, ...) noexcept QM_PRINTF_LIKE(2, 3);
RemovalVerdict verdict(RemovalAction action, const char* fmt, ...) noexcept {
    RemovalVerdict v;
    v.action = action;
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(v.reason, sizeof v.reason, fmt, args);
    va_end(args);
    return v;
}

const char* error_text(const plat::CallResult& e) noexcept {
    return plat::held_open(e) ? "held open by another program" : plat::error_text_or_null(e.error);
}

RemovalVerdict failed(const char* what, const plat::CallResult& e) noexcept {
    RemovalVerdict v = verdict(RemovalAction::Fail, "%s: %s", what, error_text(e));
    v.code = e.code;
    return v;
}

RemovalVerdict at_link(const extract::OnDisk& d) noexcept {
    return verdict(RemovalAction::KeepLink, d.link_on_way ? "a link is on its way: never followed"
                                                          : "a link is at its name: never followed");
}

RemovalVerdict unknown(const extract::OnDisk& d) noexcept {
    return failed("cannot be looked at", plat::failed_with(plat::FileStep::Open, d.at_name.error));
}

RemovalVerdict decide_file(const RemovalLook& k) noexcept {
    const TarEntry& e = *k.entry;
    if (k.superseded) return verdict(RemovalAction::Superseded, "another copy of the name is the one an expansion leaves");
    if (k.disk.link_on_way || k.disk.at_name.kind == DiskKind::Link || k.file.link) return at_link(k.disk);
    switch (k.disk.at_name.kind) {
        case DiskKind::Absent: return verdict(RemovalAction::Missing, "not on disk");
        case DiskKind::Unknown: return unknown(k.disk);
        case DiskKind::Directory: return verdict(RemovalAction::KeepChanged, "a directory is at its name");
        default: break;
    }
    const RemovalLook::Seen& f = k.file;
    if (!f.opened.ok()) {
        if (f.opened.error == plat::kENOENT) return verdict(RemovalAction::Missing, "not on disk");
        // Opening it is asking to delete it: a program holding it open refuses that.
        return failed(plat::held_open(f.opened) ? "cannot be removed" : "cannot be opened", f.opened);
    }
    if (!f.regular) return verdict(RemovalAction::KeepChanged, "not a regular file");
    // An expansion leaves every file writable: a read-only one was protected since.
    if (f.read_only) return verdict(RemovalAction::KeepChanged, "read-only: made so since it was installed");
    if (f.size != e.status.size)
        return verdict(RemovalAction::KeepChanged, "other size: %lld bytes, the member's %lld",
                       static_cast<long long>(f.size), static_cast<long long>(e.status.size));
    if (!f.read.ok()) return failed("cannot be read", f.read);
    if (!f.compared || !f.same_bytes) return verdict(RemovalAction::KeepChanged, "other bytes of the same size");
    if (f.mtime != e.status.mtime) {
        char on_disk[64], member[64];
        extract::TarTimeText(f.mtime, on_disk, sizeof on_disk);
        extract::TarTimeText(e.status.mtime, member, sizeof member);
        return verdict(RemovalAction::KeepChanged, "its time only: %s against the member's %s", on_disk, member);
    }
    return verdict(RemovalAction::Remove, "as the package holds it: size, bytes and time");
}

RemovalVerdict decide_directory(const RemovalLook& k) noexcept {
    if (k.disk.link_on_way || k.disk.at_name.kind == DiskKind::Link) return at_link(k.disk);
    switch (k.disk.at_name.kind) {
        case DiskKind::Absent: return verdict(RemovalAction::Missing, "not on disk");
        case DiskKind::Unknown: return unknown(k.disk);
        case DiskKind::File: return verdict(RemovalAction::KeepDir, "a file is at its name");
        default: break;
    }
    if (!k.listing.ok()) return failed("cannot be listed", k.listing);
    if (k.holds_other) return verdict(RemovalAction::KeepDir, "holds \"%s\", which stays", k.other);
    return verdict(RemovalAction::RemoveDir, "left empty");
}

// A name as one key and one path: "\" and "/" alike, empty and "." components dropped
// ("./bin//x" is "bin/x"; "./" is the target itself, "").
std::string normalized(const char* name) {
    std::string out;
    const char* p = name;
    while (*p) {
        const char* end = p;
        while (*end && *end != '/' && *end != '\\') ++end;
        const size_t n = static_cast<size_t>(end - p);
        if (n > 0 && !(n == 1 && *p == '.')) {
            if (!out.empty()) out += '/';
            out.append(p, n);
        }
        p = *end ? end + 1 : end;
    }
    return out;
}

// The directories a member lies in, and a directory member itself, into dirs.
void add_directories(const TarEntry& e, std::set<std::string>& dirs) {
    std::string path = normalized(e.name);
    if (!TarIsDirectory(e)) {
        const size_t last = path.rfind('/');
        path = last == std::string::npos ? "" : path.substr(0, last);
    }
    while (!path.empty()) {
        if (!dirs.insert(path).second) return;  // and so are all above it
        const size_t last = path.rfind('/');
        path = last == std::string::npos ? "" : path.substr(0, last);
    }
}

// One member as the first pass saw it; the entry is decoded again from its header.
struct Member {
    const TarHeaderBlock* header;
    int64_t offset;
    int64_t available;
    int64_t mtime;
    bool refused;     // the expansion refuses it on its header alone
    bool superseded;  // another copy of its name is the one an expansion leaves
};

TarEntry entry_of(const Member& m) noexcept {
    TarEntry e;
    TarDecodeHeader(*m.header, &e);
    e.header = m.header;
    e.offset = m.offset;
    e.data = reinterpret_cast<const unsigned char*>(m.header) + kBlock;
    e.available = m.available;
    return e;
}

// The target the walk sees: its paths under base, looked up as extraction looks.
struct Target {
    std::string base;
    std::string path(const std::string& name) const {
        if (base.empty()) return name;
        const char last = base.back();
        return (last == '/' || last == '\\') ? base + name : base + "/" + name;
    }
    static extract::DiskEntry at(void* self, const char* name) noexcept {
        const std::string full = static_cast<Target*>(self)->path(name);
        return extract::DiskProbe().at(nullptr, full.c_str());
    }
    extract::PathProbe probe() noexcept { return extract::PathProbe{&Target::at, this}; }
};

// The file at e's name opened and compared with the member: its bytes are read only
// when nothing else has told it apart.
void look_at_file(const Target& t, const TarEntry& e, plat::RemovableFile& file, RemovalLook::Seen& seen) {
    seen.opened = file.open(t.path(e.name).c_str());
    seen.link = file.link();
    if (!seen.opened.ok()) return;
    seen.regular = file.is_regular();
    seen.read_only = file.read_only();
    seen.size = file.size();
    seen.mtime = file.mtime();
    if (!seen.regular || seen.read_only || seen.size != e.status.size) return;
    constexpr size_t kChunk = 1 << 16;
    const auto buffer = std::make_unique<unsigned char[]>(kChunk);
    seen.compared = true;
    seen.same_bytes = true;
    for (int64_t at = 0; at < seen.size && seen.same_bytes;) {
        const size_t n = static_cast<size_t>(seen.size - at < static_cast<int64_t>(kChunk) ? seen.size - at : kChunk);
        seen.read = file.read_exact(buffer.get(), n);
        if (!seen.read.ok()) return;
        seen.same_bytes = std::memcmp(buffer.get(), e.data + at, n) == 0;
        at += static_cast<int64_t>(n);
    }
}

// Whether the directory holds anything but what this removal removed (or, planning,
// would have removed).
void look_into(const Target& t, const std::string& dir, const std::set<std::string>& removed, RemovalLook& k) {
    plat::DirSearch search;
    // An existing directory yields "." at least: a search that finds nothing failed.
    k.listing = search.first(t.path(dir + "/*").c_str());
    if (!k.listing.ok()) return;
    do {
        const char* n = search.name();
        if (std::strcmp(n, ".") == 0 || std::strcmp(n, "..") == 0) continue;
        if (removed.count(dir + "/" + n)) continue;
        k.holds_other = true;
        std::snprintf(k.other, sizeof k.other, "%s", n);
    } while (!k.holds_other && search.next());
    search.close();
}

// What an act that failed makes of a step decided Remove or RemoveDir.
void after_act(const plat::CallResult& e, bool directory, RemovalVerdict& v) noexcept {
    if (e.ok()) return;
    if (e.error == plat::kENOENT) {
        v = verdict(RemovalAction::Missing, "gone meanwhile");
    } else if (directory && e.error == plat::kENOTEMPTY) {
        v = verdict(RemovalAction::KeepDir, "filled meanwhile: not empty");
    } else {
        v = failed("cannot be removed", e);
        v.keeps_file = !directory;
    }
}

RemovalWalk walk(TarContext* c, const Target& target_in, bool act, const RemovalObserver& observer) {
    Target target = target_in;
    RemovalWalk result;
    std::vector<Member> members;
    std::map<std::string, size_t> leaves;  // a file name: the member an expansion leaves at it
    std::set<std::string> dirs;
    result.end = walk_package(c, [&](const TarEntry& e) {
        Member m{e.header, e.offset, e.available, e.status.mtime, false, false};
        m.refused = extract::stops_expansion(extract::decide_member(e, extract::OnDisk{}).outcome);
        if (!m.refused) {
            add_directories(e, dirs);
            if (!TarIsDirectory(e)) {
                // A later copy of the same or a newer time replaces an earlier one.
                const auto [it, fresh] = leaves.emplace(normalized(e.name), members.size());
                if (!fresh && e.status.mtime >= members[it->second].mtime) {
                    members[it->second].superseded = true;
                    it->second = members.size();
                } else if (!fresh) {
                    m.superseded = true;
                }
            }
        }
        members.push_back(m);
        return true;
    });

    std::set<std::string> removed;
    const auto tell = [&](const char* name, const TarEntry* e, const RemovalVerdict& v) {
        const RemovalStep s{name, e, v};
        observer.step(observer.context, s);
    };
    for (const Member& m : members) {
        const TarEntry e = entry_of(m);
        if (TarIsDirectory(e) && !m.refused) continue;  // with the directories
        RemovalLook k;
        k.entry = &e;
        k.superseded = m.superseded;
        plat::RemovableFile file;
        if (!m.refused && !m.superseded) {
            k.disk = extract::look_up_member(e, target.probe());
            if (k.disk.at_name.kind == DiskKind::File && !k.disk.link_on_way) look_at_file(target, e, file, k.file);
        }
        RemovalVerdict v = decide_removal(k);
        if (v.action == RemovalAction::Remove) {
            if (act) after_act(file.remove(), false, v);
            if (v.action == RemovalAction::Remove) removed.insert(normalized(e.name));
        }
        tell(e.name, &e, v);
    }
    if (result.end.stopped()) {
        const TarEntry refused = TarStoppedAt(c);
        RemovalLook k;
        k.entry = &refused;
        k.reader_refused = true;
        k.reader_message = TarMessage(c);
        tell(refused.name, &refused, decide_removal(k));
    }
    // Each directory after the ones inside it: a path sorts after every path it leads to.
    for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) {
        TarEntry e;
        e.type = '5';
        std::snprintf(e.name, sizeof e.name, "%s/", it->c_str());
        RemovalLook k;
        k.entry = &e;
        k.directory = true;
        k.disk = extract::look_up_member(e, target.probe());
        if (k.disk.at_name.kind == DiskKind::Directory && !k.disk.link_on_way) look_into(target, *it, removed, k);
        RemovalVerdict v = decide_removal(k);
        if (v.action == RemovalAction::RemoveDir) {
            if (act) after_act(plat::remove_empty_directory(target.path(*it).c_str()), true, v);
            if (v.action == RemovalAction::RemoveDir) removed.insert(*it);
        }
        tell(e.name, nullptr, v);
    }
    return result;
}

// What RemovePackage makes of the steps: the count it returns, the status it reports,
// and what the log is told of each once it is decided and of the whole once the user has
// seen the box.
struct Removal {
    const RemovalObserver* caller = nullptr;
    session::Status status;
    bool walked = false;
    int64_t removed = 0, kept = 0, missing = 0, refused = 0, dirs_removed = 0, dirs_kept = 0;
    char ended[kNameSize + 96] = "";

    static void step(void* self, const RemovalStep& s) noexcept {
        auto* r = static_cast<Removal*>(self);
        const RemovalVerdict& v = s.verdict;
        switch (v.action) {
            case RemovalAction::Remove: ++r->removed; break;
            case RemovalAction::RemoveDir: ++r->dirs_removed; break;
            case RemovalAction::Missing: r->missing += s.entry != nullptr; break;
            case RemovalAction::Superseded: break;
            case RemovalAction::Refuse:
                ++r->refused;
                // The first refusal's text is the box's, which the log hears of with it.
                if (r->status.message[0]) {
                    // The box's text, without the line end some of them carry.
                    const size_t n = std::strcspn(v.reason, "\n");
                    session::note("refused \"%s\": %.*s", s.name, static_cast<int>(n), v.reason);
                }
                break;
            default:
                if (v.keeps_file) ++r->kept;
                if (!s.entry) ++r->dirs_kept;
                session::note("kept \"%s\": %s", s.name, v.reason);
                break;
        }
        r->status.add(removal_status(v));
        if (r->caller) r->caller->step(r->caller->context, s);
    }
};

// The removal's body: -1 when it cannot begin, otherwise the number of the package's
// files kept.
int remove_package(const char* package, const char* target, PackageOutcome* outcome, Removal& r) noexcept {
    if (!package || !target) {
        r.status.add(win32::kInvalidParameter);
        return -1;
    }
    // Unlike an expansion, a removal never goes on in whatever the current directory is.
    if (const int e = plat::change_dir(target)) {
        r.status.add(session::code_from_crt(e));
        session::note("cannot enter the target directory \"%s\": %s; nothing removed", target,
                      plat::error_text_or_null(e));
        return -1;
    }
    TarContextPtr c;
    if (!open_package(c, package, "Package not removed.", "nothing removed", outcome, r.status)) return -1;
    r.walked = true;
    const RemovalWalk w = remove_members(c.get(), "", true, RemovalObserver{&Removal::step, &r});
    describe_removal_end(c.get(), w, r.ended, sizeof r.ended, r.status);
    return r.kept > INT_MAX ? INT_MAX : static_cast<int>(r.kept);
}

}  // namespace

const char* removal_action_name(RemovalAction a) noexcept {
    switch (a) {
        case RemovalAction::Remove: return "remove";
        case RemovalAction::KeepChanged: return "keep-changed";
        case RemovalAction::KeepLink: return "keep-link";
        case RemovalAction::Missing: return "missing";
        case RemovalAction::Superseded: return "superseded";
        case RemovalAction::Refuse: return "refuse";
        case RemovalAction::Fail: return "fail";
        case RemovalAction::RemoveDir: return "remove-dir";
        case RemovalAction::KeepDir: return "keep-dir";
    }
    return "";
}

RemovalVerdict decide_removal(const RemovalLook& k) noexcept {
    if (k.reader_refused) {
        RemovalVerdict v = verdict(RemovalAction::Refuse, "%s", k.reader_message);
        v.code = win32::kInvalidData;
        return v;
    }
    if (!k.directory) {
        // A name is judged exactly as an expansion judges it: one it refuses was never
        // written, and is never acted on.
        const extract::Verdict header = extract::decide_member(*k.entry, extract::OnDisk{});
        if (extract::stops_expansion(header.outcome)) {
            RemovalVerdict v = verdict(RemovalAction::Refuse, "%s", header.message);
            v.code = win32::kInvalidData;
            return v;
        }
    }
    RemovalVerdict v = k.directory ? decide_directory(k) : decide_file(k);
    v.keeps_file = !k.directory && (v.action == RemovalAction::KeepChanged || v.action == RemovalAction::KeepLink ||
                                    v.action == RemovalAction::Fail);
    return v;
}

RemovalWalk remove_members(TarContext* c, const char* base, bool act, const RemovalObserver& observer) noexcept {
    try {
        return walk(c, Target{base ? base : ""}, act, observer);
    } catch (...) {
        // No memory for the package's names: what was decided so far stands.
        RemovalWalk w;
        w.out_of_memory = true;
        return w;
    }
}

session::Status removal_status(const RemovalVerdict& v) noexcept {
    session::Status st;
    st.code = v.code;
    if (v.action == RemovalAction::Refuse) std::snprintf(st.message, sizeof st.message, "%s", v.reason);
    return st;
}

void describe_removal_end(const TarContext* c, const RemovalWalk& w, char* out, size_t size,
                          session::Status& st) noexcept {
    if (!w.out_of_memory) {
        describe_ending(c, w.end, out, size, st);
        return;
    }
    st.add(win32::kNotEnoughMemory);
    std::snprintf(out, size, "stopped: out of memory for the package's names");
}

int RemovePackage(const char* package, const char* target) noexcept {
    return remove_package_observed(package, target, nullptr);
}

int remove_package_observed(const char* package, const char* target, const RemovalObserver* observer,
                            PackageOutcome* outcome) noexcept {
    Removal r;
    r.caller = observer;
    const int result = remove_package(package, target, outcome, r);
    session::report(r.status);
    if (r.walked)
        session::note("removed \"%s\": %lld file(s) removed, %lld kept, %lld already gone, %lld refused; "
                      "%lld directories removed, %lld kept; %s",
                      package, static_cast<long long>(r.removed), static_cast<long long>(r.kept),
                      static_cast<long long>(r.missing), static_cast<long long>(r.refused),
                      static_cast<long long>(r.dirs_removed), static_cast<long long>(r.dirs_kept), r.ended);
    return result;
}

}  // namespace qm::packages
