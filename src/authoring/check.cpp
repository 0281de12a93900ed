#include "authoring/check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "extract/verdict.h"
#include "authoring/author_walk.h"
#include "authoring/names_report.h"
#include "packages/expand.h"
#include "tar/tar.h"

namespace qm::authoring {

namespace {

using namespace qm::tar;

std::string lower(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    return s;
}

std::string trim_slashes(std::string s) {
    while (!s.empty() && s.back() == '/') s.pop_back();
    return s;
}

std::string block_name(const TarHeaderBlock& block) {
    return std::string(reinterpret_cast<const char*>(block.name), strnlen(reinterpret_cast<const char*>(block.name), 100));
}

std::string format(const char* fmt, ...) QM_PRINTF_LIKE(1, 2);
std::string format(const char* fmt, ...) {
    char buf[1024];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

CheckedMember describe(const TarEntry& e) {
    CheckedMember m;
    m.name = e.name;
    m.type = e.type;
    m.mode = e.status.mode;
    m.uid = e.status.uid;
    m.gid = e.status.gid;
    m.size = e.status.size;
    m.mtime = e.status.mtime;
    m.offset = e.offset;
    return m;
}

// Directories the expansion itself creates, so a later member may rely on them.
void note_directories(const TarEntry& e, std::set<std::string>& made) {
    const std::string name = e.name;
    if (TarIsDirectory(e)) {
        made.insert(trim_slashes(name));
        return;
    }
    const size_t last = name.rfind('/');
    if (last == std::string::npos) return;
    const std::string dir = name.substr(0, last);
    if (dir.find('/') == std::string::npos) return;  // one "/": nothing is created
    std::string path;
    size_t at = 0;
    while (at <= dir.size()) {
        size_t next = dir.find('/', at);
        if (next == std::string::npos) next = dir.size();
        if (next > at) {
            path += (path.empty() ? "" : "/") + dir.substr(at, next - at);
            made.insert(path);
        }
        at = next + 1;
    }
}

// A member whose directory the expansion does not create: it must exist on the target.
std::string needs_directory(const TarEntry& e, const std::set<std::string>& made) {
    const std::string name = trim_slashes(e.name);
    const size_t last = name.rfind('/');
    if (last == std::string::npos || last == 0) return "";
    const std::string dir = name.substr(0, last);
    if (!TarIsDirectory(e) && dir.find('/') != std::string::npos) return "";
    if (made.count(trim_slashes(dir))) return "";
    return dir;
}

}  // namespace

const char* action_text(MemberAction a) noexcept {
    switch (a) {
        case MemberAction::Write: return "written";
        case MemberAction::Directory: return "directory";
        case MemberAction::Stops: return "stops the expansion";
        case MemberAction::NotReached: return "not reached";
    }
    return "";
}

CheckReport check_package(const char* path) {
    CheckReport r;
    char base[256];
    packages::split_file_name(path, base, sizeof base);
    r.manifest_pattern = lower(std::string(base) + ".mfs");

    TarContextPtr c = open_to_read(path, &r.error);
    if (!c) return r;
    r.readable = true;
    r.size = TarPackageSize(c.get());

    std::set<std::string> made;
    NamesReport names;
    std::map<std::string, int> seen;
    bool stopped = false;
    bool manifest_done = false;
    TarStep step = TarStep::Member;
    do {
        const TarEntry& e = TarCurrent(c.get());
        CheckedMember m = describe(e);
        // What the header alone decides; the target is not known here.
        const extract::Verdict v = extract::decide_member(e, extract::OnDisk{});
        m.fate = v.fate;
        if (stopped) {
            m.action = MemberAction::NotReached;
        } else if (v.fate == extract::Fate::Refuse || v.fate == extract::Fate::Fail) {
            m.action = MemberAction::Stops;
            m.why = single_line(v.message);
            stopped = true;
            r.findings.push_back(format("member \"%s\" stops the expansion: %s", m.name.c_str(), m.why.c_str()));
        } else {
            m.action = v.fate == extract::Fate::Directory ? MemberAction::Directory : MemberAction::Write;
            const std::string dir = needs_directory(e, made);
            if (!dir.empty())
                r.findings.push_back(format("member \"%s\" needs the directory \"%s\" on the target: no earlier "
                                            "member creates it (a name with one \"/\" gets no directory made)",
                                            m.name.c_str(), dir.c_str()));
            note_directories(e, made);
            names.add(e, r.findings);
        }
        if (strnlen(reinterpret_cast<const char*>(e.header->name), 100) == 100)
            r.findings.push_back(format("member \"%s\" fills all 100 bytes of the name field: a longer name "
                                        "would have been cut or split by its writer",
                                        m.name.c_str()));
        if (!m.name.empty() && ++seen[trim_slashes(m.name)] == 2)
            r.findings.push_back(format("\"%s\" appears more than once: a later copy replaces an earlier one "
                                        "of the same or an older time",
                                        trim_slashes(m.name).c_str()));
        if (!manifest_done && !m.name.empty() && lower(m.name).find(r.manifest_pattern) != std::string::npos) {
            r.manifest_member = m.name;
            manifest_done = true;
        }
        r.members.push_back(m);
        step = TarNext(c.get());
    } while (step == TarStep::Member);

    // Why the walk ended.
    const TarEnding end = TarWhyEnded(c.get());
    if (step == TarStep::Stopped) {
        CheckedMember m = describe(TarStoppedAt(c.get()));
        m.action = stopped ? MemberAction::NotReached : MemberAction::Stops;
        m.fate = extract::Fate::Refuse;
        m.why = TarMessage(c.get());
        if (!stopped)
            r.findings.push_back(format("member \"%s\" has a type this library refuses ('%c'): the expansion "
                                        "stops there with an error",
                                        m.name.c_str(), m.type ? m.type : '0'));
        r.members.push_back(m);
    } else if (end.block) {
        const std::string name = block_name(*end.block);
        if (end.kind == TarEnding::Kind::Damaged) {
            r.findings.push_back(format("damaged header at offset %lld (checksum mismatch%s%s%s): the expansion "
                                        "ends there silently",
                                        static_cast<long long>(end.offset), name.empty() ? "" : ", name \"",
                                        name.c_str(), name.empty() ? "" : "\""));
        } else if (end.kind == TarEnding::Kind::EmptyName) {
            r.findings.push_back(format("header with an empty name at offset %lld: the expansion ends there",
                                        static_cast<long long>(end.offset)));
        }
        // Members that a blank or damaged block hides from the expansion.
        char first[kNameSize];
        const int64_t hidden = TarHeadersAfter(c.get(), end.offset, first, sizeof first);
        if (hidden > 0)
            r.findings.push_back(format("%lld member(s) after offset %lld are never installed, the first \"%s\": "
                                        "the expansion ends at the block there",
                                        static_cast<long long>(hidden), static_cast<long long>(end.offset), first));
    }

    if (r.manifest_member.empty()) {
        r.findings.push_back(format("no manifest: no member name contains \"%s\", so GetManifestFile extracts "
                                    "nothing",
                                    r.manifest_pattern.c_str()));
    } else {
        const std::string low = lower(r.manifest_member);
        const std::string tail = "/" + r.manifest_pattern;
        const bool exact = low == r.manifest_pattern ||
                           (low.size() > tail.size() && low.compare(low.size() - tail.size(), tail.size(), tail) == 0);
        if (!exact)
            r.findings.push_back(format("the first member matching \"%s\" is \"%s\": GetManifestFile extracts it "
                                        "as the manifest",
                                        r.manifest_pattern.c_str(), r.manifest_member.c_str()));
        else if (low.rfind("etc/dorva/devices/", 0) != 0)
            r.findings.push_back(format("the manifest \"%s\" is not under etc/dorva/devices/: a reinstall will "
                                        "not list this package",
                                        r.manifest_member.c_str()));
        if (low != r.manifest_member)
            r.findings.push_back(format("GetManifestFile writes the manifest under its lower-case name \"%s\"",
                                        low.c_str()));
    }
    return r;
}

}  // namespace qm::authoring
