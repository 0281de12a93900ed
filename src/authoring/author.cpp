#include "authoring/author.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>

#include "extract/extract.h"
#include "authoring/author_walk.h"
#include "platform/errors.h"
#include "platform/fs.h"

namespace qm::authoring {

namespace {

using namespace qm::tar;
using extract::DiskEntry;
using extract::DiskKind;
using extract::Outcome;

std::string time_text(int64_t t) {
    char text[64];
    extract::TarTimeText(t, text, sizeof text);
    return text;
}

// "<disk time> against the member's <member time>", as the newer-file warning gives them.
std::string against(int64_t disk, const TarEntry& e) {
    return time_text(disk) + " against the member's " + time_text(e.status.mtime);
}

std::string plan_reason(const TarEntry& e, const extract::OnDisk& d, const extract::Verdict& v) {
    switch (v.outcome) {
        case Outcome::Write:
            return v.make_dirs ? "new file; makes the directories from \"" + std::string(d.way_path) + "\" on"
                               : "new file";
        case Outcome::Replace:
            if (d.at_name.mtime == e.status.mtime) return "the file on disk has the same time";
            return "the file on disk is older: " + against(d.at_name.mtime, e);
        case Outcome::KeepNewer:
            return "the file on disk is newer: " + against(d.at_name.mtime, e);
        case Outcome::Directory:
            return v.make_dirs ? "new directory" : "the directory exists";
        case Outcome::Refuse:
        case Outcome::Fail:
            return single_line(v.message);
        case Outcome::NotReached:
            break;
    }
    return "";
}

// The member at which an expansion stops, for the ones it never reaches.
std::string after(const std::string& stop) { return "the expansion stops before it, at \"" + stop + "\""; }

// A file's bytes against the member's: 0 equal, 1 different, or an error number.
int compare_file(const std::string& path, const TarEntry& e) {
    plat::InFile in;
    if (const int err = in.open(path.c_str()).error) return err;
    int64_t size = 0;
    if (!in.is_regular()) return plat::kEACCES;
    if (int err = in.size(&size)) return err;
    if (size != e.status.size) return -1;
    constexpr size_t kChunk = 1 << 16;
    const auto buffer = std::make_unique<unsigned char[]>(kChunk);
    for (int64_t at = 0; at < size;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(size - at, kChunk));
        if (int err = in.read_exact(buffer.get(), n)) return err;
        if (std::memcmp(buffer.get(), e.data + at, n) != 0) return -1;
        at += static_cast<int64_t>(n);
    }
    return 0;
}

VerifiedMember verify_member(const std::string& target, const TarEntry& e) {
    VerifiedMember m;
    m.name = e.name;
    const extract::Verdict header = extract::decide_member(e, extract::OnDisk{});
    if (extract::stops_expansion(header.outcome)) {
        m.state = VerifyState::Missing;
        m.reason = "never installed: " + single_line(header.message);
        return m;
    }
    const std::string path = under_target(target, e.name);
    // Looked at as extraction looks: a link is never followed, at the name or on the way.
    Picture on_disk(target);
    const extract::OnDisk look = extract::look_up_member(e, on_disk.probe());
    const DiskEntry d = look.at_name;
    const bool directory = TarIsDirectory(e);
    m.state = VerifyState::Missing;
    if (look.link_on_way || d.kind == DiskKind::Link) {
        m.state = VerifyState::Link;
        m.reason = look.link_on_way ? "a link is on its way: an expansion never writes through one"
                                    : "a link is at its name: an expansion never follows one";
    } else if (d.kind == DiskKind::Absent) {
        m.reason = "not on disk";
    } else if (d.kind == DiskKind::Unknown) {
        m.reason = std::string("cannot be looked at (") + plat::error_text_or_null(d.error) + ")";
    } else if (directory) {
        m.state = d.kind == DiskKind::Directory ? VerifyState::Ok : VerifyState::Missing;
        m.reason = d.kind == DiskKind::Directory ? "directory present" : "a file is at its name";
    } else if (d.kind == DiskKind::Directory) {
        m.reason = "a directory is at its name";
    } else {
        const int cmp = compare_file(path, e);
        if (cmp == 0) {
            m.state = VerifyState::Ok;
            m.reason = "the member's bytes";
        } else if (cmp != -1) {
            m.reason = std::string("cannot be read (") + plat::error_text_or_null(cmp) + ")";
        } else if (d.mtime > e.status.mtime) {
            m.state = VerifyState::KeptNewer;
            m.reason = "other bytes, and the file is newer: " + against(d.mtime, e);
        } else {
            m.state = VerifyState::Modified;
            m.reason = "other bytes, and the file is not newer: " + against(d.mtime, e);
        }
    }
    return m;
}

}  // namespace

TarContextPtr open_to_read(const char* path, std::string* error) {
    TarContextPtr c = TarCreate();
    if (!c) {
        *error = "out of memory";
        return nullptr;
    }
    if (TarOpen(c.get(), path) != TarLoad::Loaded) {
        *error = TarMessage(c.get())[0] ? TarMessage(c.get())
                                        : "the first block is not a usable header: nothing would be installed";
        return nullptr;
    }
    return c;
}

std::string key_of(const char* path) {
    std::string k;
    for (const char* p = path; *p; ++p) {
        const char ch = *p == '\\' ? '/' : *p;
        if (ch != '/' || (!k.empty() && k.back() != '/')) k += ch;
    }
    while (!k.empty() && k.back() == '/') k.pop_back();
    return k;
}

std::string single_line(const char* text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    return t;
}

std::string under_target(const std::string& target, const char* name) {
    if (target.empty()) return name;
    const char last = target.back();
    return (last == '/' || last == '\\') ? target + name : target + "/" + name;
}

std::string parent_directory(const char* name) {
    std::string n = name;
    while (!n.empty() && (n.back() == '/' || n.back() == '\\')) n.pop_back();
    const size_t last = n.find_last_of("/\\");
    return last == std::string::npos ? "" : n.substr(0, last);
}

DiskEntry Picture::at(void* self, const char* path) noexcept {
    auto* p = static_cast<Picture*>(self);
    const auto it = p->made_.find(key_of(path));
    if (it != p->made_.end()) return it->second;
    if (!p->real_) return DiskEntry{};
    return extract::DiskProbe().at(nullptr, under_target(p->target_, path).c_str());
}

void Picture::directory(const std::string& path, int64_t mtime) {
    // A directory assumed there has its own way there too.
    const std::string key = key_of(path.c_str());
    for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
        made_.emplace(key.substr(0, slash), DiskEntry{DiskKind::Directory, 0, mtime});
    made_[key] = DiskEntry{DiskKind::Directory, 0, mtime};
}

void Picture::record(const TarEntry& e, const extract::OnDisk& d, const extract::Verdict& v) {
    // What the expansion makes has the time it is made, as the overwrite rule sees it.
    const int64_t now = static_cast<int64_t>(std::time(nullptr));
    if (v.outcome == Outcome::Directory && v.make_dirs) directory(e.name, now);
    if (v.outcome != Outcome::Write && v.outcome != Outcome::Replace) return;
    if (v.make_dirs) {
        // The directories from the first missing one on; those before it are there.
        const std::string way = key_of(parent_directory(e.name).c_str());
        int index = 0;
        for (size_t at = 0; at <= way.size(); ++at) {
            if (at < way.size() && way[at] != '/') continue;
            if (index++ >= d.way_index) made_[way.substr(0, at)] = DiskEntry{DiskKind::Directory, 0, now};
        }
    }
    made_[key_of(e.name)] = DiskEntry{DiskKind::File, 0, e.status.mtime};
}

const char* verify_state_name(VerifyState s) noexcept {
    switch (s) {
        case VerifyState::Ok: return "ok";
        case VerifyState::Missing: return "missing";
        case VerifyState::Modified: return "modified";
        case VerifyState::KeptNewer: return "kept-newer";
        case VerifyState::Link: return "link";
    }
    return "";
}

PlanReport plan_expansion(const char* package, const char* target) {
    PlanReport r;
    TarContextPtr c = open_to_read(package, &r.error);
    if (!c) return r;
    r.readable = true;
    Picture picture(target);
    const Ending end = plan_walk(c.get(), picture, [&](const PlannedStep& s) {
        PlannedMember m;
        m.name = s.entry->name;
        m.action = s.outcome;
        m.reason = s.outcome == Outcome::NotReached ? after(s.stop)
                   : extract::stops_expansion(s.outcome) ? s.message
                                                         : plan_reason(*s.entry, s.disk, s.verdict);
        r.runs_to_end = r.runs_to_end && !extract::stops_expansion(s.outcome);
        r.members.push_back(m);
    });
    if (end.kind == Ending::Kind::Damaged)
        r.ending = "a damaged header at offset " + std::to_string(end.offset) + " ends the expansion silently";
    if (end.kind != Ending::Kind::PackageEnd && end.kind != Ending::Kind::RefusedType) {
        char first[kNameSize];
        const int64_t hidden = TarHeadersAfter(c.get(), end.offset, first, sizeof first);
        if (hidden > 0)
            r.ending = (r.ending.empty() ? "the walk ends at offset " + std::to_string(end.offset) : r.ending) +
                       "; " + std::to_string(hidden) + " member(s) after it are never installed, the first \"" +
                       first + "\"";
    }
    return r;
}

VerifyReport verify_install(const char* package, const char* target) {
    VerifyReport r;
    TarContextPtr c = open_to_read(package, &r.error);
    if (!c) return r;
    r.readable = true;
    // The copy of each name that an expansion leaves: a later one of the same or a newer
    // time replaces an earlier one. The entries' data stays in the loaded package.
    std::vector<TarEntry> kept;
    std::map<std::string, size_t> index;
    const Ending end = walk_package(c.get(), [&](const TarEntry& e) {
        const auto [it, fresh] = index.emplace(key_of(e.name), kept.size());
        if (fresh) kept.push_back(e);
        else if (e.status.mtime >= kept[it->second].status.mtime) kept[it->second] = e;
        return true;
    });
    if (end.stopped()) {
        VerifiedMember m;
        m.name = TarStoppedAt(c.get()).name;
        m.state = VerifyState::Missing;
        m.reason = "never installed: " + single_line(TarMessage(c.get()));
        r.members.push_back(m);
    }
    for (const TarEntry& e : kept) r.members.push_back(verify_member(target, e));
    // The refused header was met last; it is reported in member order.
    if (end.stopped()) std::rotate(r.members.begin(), r.members.begin() + 1, r.members.end());
    for (const VerifiedMember& m : r.members) r.all_ok = r.all_ok && m.state == VerifyState::Ok;
    return r;
}

}  // namespace qm::authoring
