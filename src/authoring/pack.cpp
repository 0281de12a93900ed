#include "authoring/pack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "extract/verdict.h"
#include "platform/dirsearch.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/whole_file.h"
#include "tar/tar.h"

namespace qm::authoring {

namespace {

using tar::kBlock;
using tar::TarHeaderBlock;

struct Item {
    std::string member;  // "/"-separated, relative to the tree; a directory's ends in "/"
    std::string disk;
    bool directory = false;
    bool executable = false;
    int64_t size = 0;
    int64_t mtime = 0;  // as the walk saw it, to tell a file that changes while packed
};

struct Walk {
    std::vector<Item> items;
    std::vector<std::string> problems;
    int64_t newest = 0;
};

std::string error_text(int e) {
    const char* t = plat::error_text(e);
    return t ? t : "error " + std::to_string(e);
}

void note_time(Walk& w, int64_t t) { w.newest = std::max(w.newest, t); }

// The entries of one directory in byte order of their names, each directory followed by
// what it holds.
void walk(const std::string& disk_dir, const std::string& prefix, Walk& w) {
    std::vector<std::string> names;
    plat::DirSearch search;
    const std::string pattern = disk_dir + "/*";
    for (bool more = search.first(pattern.c_str()).ok(); more; more = search.next()) {
        const char* n = search.name();
        if (std::strcmp(n, ".") != 0 && std::strcmp(n, "..") != 0) names.push_back(n);
    }
    search.close();
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string member = prefix + name;
        const std::string disk = disk_dir + "/" + name;
        if (name.find('\\') != std::string::npos) {
            w.problems.push_back(member + ": a \"\\\" in a name is a separator on Windows");
            continue;
        }
        plat::EntryStat st;
        if (int e = plat::entry_stat(disk.c_str(), &st)) {
            w.problems.push_back(member + ": cannot be read (" + error_text(e) + ")");
            continue;
        }
        switch (st.kind) {
            case plat::EntryStat::Kind::Link:
                w.problems.push_back(member + ": a link; only files and directories are packed");
                break;
            case plat::EntryStat::Kind::Other:
                w.problems.push_back(member + ": a device, FIFO or socket; only files and directories are packed");
                break;
            case plat::EntryStat::Kind::Directory:
                note_time(w, st.mtime);
                w.items.push_back(Item{member + "/", disk, true, false, 0, st.mtime});
                walk(disk, member + "/", w);
                break;
            case plat::EntryStat::Kind::File:
                note_time(w, st.mtime);
                w.items.push_back(Item{member, disk, false, st.executable, st.size, st.mtime});
                break;
        }
    }
}

tar::TarHeaderFields fields_of(const Item& item, int64_t mtime) {
    return tar::TarHeaderFields{item.member.c_str(), item.directory ? '5' : '0',
                                item.directory || item.executable ? 0755u : 0644u, item.size, mtime};
}

// What the reader would say of the member, or "" when it takes it.
std::string refusal(const Item& item) {
    tar::TarEntry e;
    std::snprintf(e.name, sizeof e.name, "%s", item.member.c_str());
    e.type = item.directory ? '5' : '0';
    e.status.size = item.size;
    e.available = item.size;
    const extract::Verdict v = extract::decide_member(e, extract::OnDisk{});
    if (!extract::stops_expansion(v.outcome)) return "";
    std::string text = v.message;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
}

// Whether the file read whole differs from what the walk saw: more bytes than were read
// (it grew meanwhile), or another time. A rewrite of the same length within the same
// second cannot be told.
bool changed_since_walk(const Item& item, plat::InFile& in) {
    int64_t size = -1;
    plat::EntryStat now;
    return in.size(&size) != 0 || size != item.size || plat::entry_stat(item.disk.c_str(), &now) != 0 ||
           now.kind != plat::EntryStat::Kind::File || now.mtime != item.mtime;
}

// Writes the items into an open file; "" or what went wrong.
std::string write_items(plat::WholeFile& out, const std::vector<Item>& items, int64_t mtime, int64_t* bytes) {
    static const unsigned char zeros[2 * kBlock] = {};
    constexpr size_t kChunk = 1 << 20;
    const auto buffer = std::make_unique<unsigned char[]>(kChunk);
    *bytes = 0;
    for (const Item& item : items) {
        TarHeaderBlock header;
        tar::TarEncodeHeader(fields_of(item, mtime), &header);
        if (int e = out.write(&header, sizeof header)) return "cannot be written (" + error_text(e) + ")";
        *bytes += kBlock;
        if (item.directory) continue;
        plat::InFile in;
        int64_t size = -1;
        if (const int e = in.open(item.disk.c_str()).error) return item.member + ": cannot be read (" + error_text(e) + ")";
        if (!in.is_regular() || in.size(&size) != 0 || size != item.size)
            return item.member + ": changed while it was packed";
        for (int64_t left = size; left > 0;) {
            const size_t n = static_cast<size_t>(std::min<int64_t>(left, kChunk));
            if (int e = in.read_exact(buffer.get(), n)) return item.member + ": cannot be read (" + error_text(e) + ")";
            if (int e = out.write(buffer.get(), n)) return "cannot be written (" + error_text(e) + ")";
            left -= static_cast<int64_t>(n);
        }
        if (changed_since_walk(item, in)) return item.member + ": changed while it was packed";
        const size_t pad = static_cast<size_t>((kBlock - size % kBlock) % kBlock);
        if (int e = out.write(zeros, pad)) return "cannot be written (" + error_text(e) + ")";
        *bytes += size + static_cast<int64_t>(pad);
    }
    // The end of the archive: two blocks of zeros.
    if (int e = out.write(zeros, sizeof zeros)) return "cannot be written (" + error_text(e) + ")";
    *bytes += sizeof zeros;
    return "";
}

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : kDays[m - 1];
}

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

bool parse_pack_time(const char* text, int64_t* out) {
    const char* p = text[0] == '@' ? text + 1 : text;
    char* end = nullptr;
    if (*p >= '0' && *p <= '9') {
        const long long v = std::strtoll(p, &end, 10);
        if (*end == '\0') {
            *out = v;
            return true;
        }
    }
    if (text[0] == '@') return false;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, n = 0;
    const size_t len = std::strlen(text);
    const bool zulu = len > 0 && text[len - 1] == 'Z';
    const std::string body(text, zulu ? len - 1 : len);
    if (std::sscanf(body.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &n) != 3) return false;
    const char* rest = body.c_str() + n;
    if (*rest == 'T' || *rest == ' ') {
        int m = 0;
        if (std::sscanf(rest + 1, "%2d:%2d%n", &h, &mi, &m) != 2) return false;
        rest += 1 + m;
        if (*rest == ':') {
            if (std::sscanf(rest + 1, "%2d%n", &s, &m) != 1) return false;
            rest += 1 + m;
        }
    }
    // A date the calendar does not have is refused, not rolled over into the next month
    // or minute: a package time is given to be exact.
    if (*rest != '\0' || y < 1970 || mo < 1 || mo > 12 || d < 1 || d > days_in_month(y, mo) || h < 0 || h > 23 ||
        mi < 0 || mi > 59 || s < 0 || s > 59)
        return false;
    *out = days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d)) * 86400 + h * 3600 + mi * 60 + s;
    return true;
}

PackReport pack_tree(const char* tree, const char* package, const PackOptions& options) {
    PackReport r;
    plat::EntryStat root;
    if (int e = plat::entry_stat(tree, &root)) {
        r.problems.push_back(std::string(tree) + ": cannot be read (" + error_text(e) + ")");
        return r;
    }
    if (root.kind != plat::EntryStat::Kind::Directory) {
        r.problems.push_back(std::string(tree) + ": not a directory");
        return r;
    }
    Walk w;
    w.newest = root.mtime;
    std::string base = tree;
    while (base.size() > 1 && (base.back() == '/' || base.back() == '\\')) base.pop_back();
    walk(base, "", w);
    if (w.items.empty() && w.problems.empty()) w.problems.push_back(std::string(tree) + ": nothing to pack");

    r.mtime = options.has_mtime ? options.mtime : w.newest;
    tar::TarHeaderBlock probe;
    if (!tar::TarEncodeHeader(tar::TarHeaderFields{"x", '0', 0644, 0, r.mtime}, &probe))
        w.problems.push_back("the package time " + std::to_string(r.mtime) + " does not fit a header");
    for (const Item& item : w.items) {
        const std::string why = refusal(item);
        if (!why.empty()) {
            w.problems.push_back(item.member + ": the installer would refuse it: " + why);
        } else if (!tar::TarEncodeHeader(fields_of(item, 0), &probe)) {
            w.problems.push_back(item.member + ": too long for a header (" + std::to_string(item.member.size()) +
                                 " characters; at most 100, or 155 and 100 split at a \"/\")");
        }
        ++(item.directory ? r.directories : r.files);
    }
    r.problems = std::move(w.problems);
    if (!r.problems.empty()) return r;

    // The package takes its name only once it is complete; one it replaces keeps its
    // owner, group and mode.
    plat::WholeFile out;
    if (int e = out.begin(package, plat::WholeFile::Intent::Replace, nullptr)) {
        r.problems.push_back(std::string(package) + ": cannot be created (" + error_text(e) + ")");
        return r;
    }
    std::string failure = write_items(out, w.items, r.mtime, &r.bytes);
    if (failure.empty()) {
        const plat::CallResult placed = out.commit(plat::WholeFileEnd{});
        if (!placed.ok()) failure = "cannot be written (" + error_text(placed.error) + ")";
    }
    if (!failure.empty()) {
        out.discard();
        r.problems.push_back(failure.rfind("cannot", 0) == 0 ? std::string(package) + ": " + failure : failure);
        return r;
    }
    r.written = true;
    return r;
}

}  // namespace qm::authoring
