#include "authoring/check.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <map>

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

}  // namespace

const char* action_text(extract::Outcome a) noexcept {
    switch (a) {
        case extract::Outcome::Write:
        case extract::Outcome::Replace: return "written";
        case extract::Outcome::KeepNewer: return "kept (an earlier copy is newer)";
        case extract::Outcome::Directory: return "directory";
        case extract::Outcome::Refuse:
        case extract::Outcome::Fail: return "stops the expansion";
        case extract::Outcome::NotReached: return "not reached";
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

    // The plan against a target that holds nothing: what the package itself makes, and
    // the directories it relies on the target to have.
    Picture nothing;
    NamesReport names;
    std::map<std::string, int> seen;
    bool manifest_done = false;
    const Ending end = plan_walk(c.get(), nothing, [&](const PlannedStep& s) {
        const TarEntry& e = *s.entry;
        CheckedMember m = describe(e);
        m.action = s.outcome;
        m.why = s.message;
        r.members.push_back(m);
        if (s.reader_refused) return;  // the ending below tells of it
        if (extract::stops_expansion(s.outcome))
            r.findings.push_back(format("member \"%s\" stops the expansion: %s", m.name.c_str(), m.why.c_str()));
        if (!s.assumed_directory.empty())
            r.findings.push_back(format("member \"%s\" needs the directory \"%s\" on the target: no earlier "
                                        "member creates it (%s)",
                                        m.name.c_str(), s.assumed_directory.c_str(),
                                        std::strchr(e.name, '\\')
                                            ? "a \"\\\" is a separator to Windows, but extraction makes no directory there"
                                            : "a name with one \"/\" gets no directory made"));
        names.add(e, r.findings);
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
    });

    // Why the walk ended.
    if (end.stopped()) {
        if (r.members.back().action == extract::Outcome::Refuse)
            r.findings.push_back(format("member \"%s\" has a type this library refuses ('%c'): the expansion "
                                        "stops there with an error",
                                        r.members.back().name.c_str(), r.members.back().type ? r.members.back().type : '0'));
    } else if (end.block) {
        const std::string name = block_name(*end.block);
        if (end.kind == Ending::Kind::Damaged) {
            r.findings.push_back(format("damaged header at offset %lld (checksum mismatch%s%s%s): the expansion "
                                        "ends there silently",
                                        static_cast<long long>(end.offset), name.empty() ? "" : ", name \"",
                                        name.c_str(), name.empty() ? "" : "\""));
        } else if (end.kind == Ending::Kind::Nameless) {
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
