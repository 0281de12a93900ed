// POSIX side of the INI files: the platform's reading rules over the file's bytes, and
// writes that change one line (or add one or two) and keep every other byte.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/alloc.h"
#include "platform/fs.h"
#include "platform/ini.h"
#include "platform/posix/paths.h"
#include "platform/sys.h"
#include "platform/whole_file.h"

namespace qm::plat {

namespace {

// What the platform trims: the ASCII blanks and control blanks, and ^Z (a DOS end of
// file that turns up in old files).
bool is_blank(char c) noexcept { return (c >= 0x09 && c <= 0x0d) || c == 0x1a || c == ' '; }

struct Text {
    const char* p = nullptr;
    size_t n = 0;
};

Text trim(const char* b, const char* e) noexcept {
    while (b < e && is_blank(*b)) ++b;
    while (e > b && is_blank(e[-1])) --e;
    return {b, static_cast<size_t>(e - b)};
}

Text trim(const char* s) noexcept { return trim(s, s + std::strlen(s)); }

bool same_name(Text a, Text b) noexcept {
    if (a.n != b.n) return false;
    for (size_t i = 0; i < a.n; ++i) {
        unsigned char x = static_cast<unsigned char>(a.p[i]), y = static_cast<unsigned char>(b.p[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

// One line of the file: its content [begin, end) and the start of the next line, after
// its terminator ("\r\n", "\n" or a lone "\r"; none on a last line without one).
struct Line {
    size_t begin = 0, end = 0, next = 0;
};

bool next_line(const char* d, size_t n, size_t pos, Line* l) noexcept {
    if (pos >= n) return false;
    size_t e = pos;
    while (e < n && d[e] != '\n' && d[e] != '\r') ++e;
    size_t next = e;
    if (next < n && d[next] == '\r') ++next;
    if (next < n && d[next] == '\n' && (next == e || d[next - 1] == '\r')) ++next;
    *l = {pos, e, next};
    return true;
}

const char kBom[] = "\xEF\xBB\xBF";

size_t content_start(const char* d, size_t n) noexcept {
    return n >= 3 && std::memcmp(d, kBom, 3) == 0 ? 3 : 0;
}

// Where the wanted section and key are in the file, as the platform finds them: the
// first section of that name only, and its first key of that name.
struct Where {
    bool section = false;
    size_t insert_at = 0;       // after the section's last non-blank line
    bool insert_needs_eol = false;  // that line is the file's last and has no terminator
    bool key = false;
    Line key_line;
    const char* eq = nullptr;   // the key line's "=", or null
    Text value;                 // trimmed raw value (valid when eq)
};

Where locate(const char* d, size_t n, Text section, Text key) noexcept {
    Where w;
    bool inside = section.n == 0;  // lines before the first header form the unnamed section
    if (inside) {
        w.section = true;
        w.insert_at = content_start(d, n);
    }
    Line l;
    for (size_t pos = content_start(d, n); next_line(d, n, pos, &l); pos = l.next) {
        const Text t = trim(d + l.begin, d + l.end);
        if (t.n == 0) continue;
        const char* close = nullptr;
        if (t.p[0] == '[')
            for (const char* q = t.p + t.n; q > t.p; --q)
                if (q[-1] == ']') {
                    close = q - 1;
                    break;
                }
        if (close) {
            if (inside) break;  // only the first section of the name counts
            if (same_name(trim(t.p + 1, close), section)) {
                inside = w.section = true;
                w.insert_at = l.next;
                w.insert_needs_eol = l.next == l.end;
            }
            continue;
        }
        if (!inside) continue;
        w.insert_at = l.next;
        w.insert_needs_eol = l.next == l.end;
        if (w.key) continue;
        const char* eq = static_cast<const char*>(std::memchr(t.p, '=', t.n));
        if (!same_name(trim(t.p, eq ? eq : t.p + t.n), key)) continue;
        w.key = true;
        w.key_line = l;
        w.eq = eq;
        if (eq) w.value = trim(eq + 1, t.p + t.n);
    }
    return w;
}

// The file a name stands for: one without any separator lives in the Windows directory.
bool resolve(const char* file, char* out, size_t size) noexcept {
    if (!file || !*file) return false;
    char full[4096];
    const char* name = file;
    if (!std::strchr(file, '\\') && !std::strchr(file, '/')) {
        char windir[4096];
        unsigned n = 0;
        if (!windows_dir(windir, sizeof windir, &n).ok() || n == 0 || n >= sizeof windir) return false;
        const int m = std::snprintf(full, sizeof full, "%s/%s", windir, file);
        if (m < 0 || static_cast<size_t>(m) >= sizeof full) return false;
        name = full;
    }
    NativePath p(name);
    if (!p.ok()) return false;
    const int m = std::snprintf(out, size, "%s", p.c_str());
    return m >= 0 && static_cast<size_t>(m) < size;
}

// The whole file in memory, with a terminating NUL; a missing file reads as empty.
struct Contents {
    std::unique_ptr<char[]> data;
    size_t size = 0;
    bool exists = false;
    struct stat st {};
};

CallResult load(const char* path, Contents* c) noexcept {
    if (::stat(path, &c->st) != 0) return errno == ENOENT ? CallResult{} : failed_now(FileStep::Open);
    if (!S_ISREG(c->st.st_mode)) return failed_with(FileStep::Open, kEACCES);
    c->exists = true;
    InFile in;
    if (const CallResult r = in.open(path); !r.ok()) return r;
    int64_t size = 0;
    if (const int e = in.size(&size)) return failed_with(FileStep::Read, e);
    if (size < 0 || static_cast<uint64_t>(size) >= SIZE_MAX / 2) return failed_with(FileStep::Read, kEFBIG);
    c->data = try_make_array<char>(static_cast<size_t>(size) + 1);
    if (!c->data) return failed_with(FileStep::Read, kENOMEM);
    if (size > 0)
        if (const int e = in.read_exact(c->data.get(), static_cast<size_t>(size))) return failed_with(FileStep::Read, e);
    c->data[static_cast<size_t>(size)] = '\0';
    c->size = static_cast<size_t>(size);
    return {};
}

// The text handed out for a value: one pair of enclosing quotes goes, then it is cut to
// fit out.
unsigned copy_value(Text v, char* out, size_t size) noexcept {
    if (v.n >= 2 && (v.p[0] == '"' || v.p[0] == '\'') && v.p[v.n - 1] == v.p[0]) {
        ++v.p;
        v.n -= 2;
    }
    const size_t n = v.n < size ? v.n : size - 1;
    std::memcpy(out, v.p, n);
    out[n] = '\0';
    return static_cast<unsigned>(n);
}

// The file's own line end, taken from its first line; CRLF for a file that has none.
Text line_end(const char* d, size_t n) noexcept {
    for (size_t i = 0; i < n; ++i) {
        if (d[i] == '\n') return {"\n", 1};
        if (d[i] == '\r') return (i + 1 < n && d[i + 1] == '\n') ? Text{"\r\n", 2} : Text{"\r", 1};
    }
    return {"\r\n", 2};
}

bool has_line_break(Text t) noexcept {
    return std::memchr(t.p, '\n', t.n) || std::memchr(t.p, '\r', t.n);
}

}  // namespace

unsigned ini_read(const char* section, const char* key, const char* def, char* out,
                  size_t size, const char* file) noexcept {
    if (!out || size == 0) return 0;
    // The platform drops trailing blanks of the default.
    Text d = {def ? def : "", def ? std::strlen(def) : 0};
    while (d.n > 0 && d.p[d.n - 1] == ' ') --d.n;
    if (!section || !key || !*key) return copy_value(d, out, size);

    char path[4096];
    Contents c;
    if (!resolve(file, path, sizeof path) || !load(path, &c).ok() || !c.exists)
        return copy_value(d, out, size);
    const Where w = locate(c.data.get(), c.size, trim(section), trim(key));
    return copy_value(w.key && w.eq ? w.value : d, out, size);
}

CallResult ini_write(const char* section, const char* key, const char* value, const char* file) noexcept {
    if (!section || !key || !value) return failed_with(FileStep::Open, kEINVAL);
    const Text s = trim(section), k = trim(key);
    Text v = {value, std::strlen(value)};
    while (v.n > 0 && is_blank(*v.p)) ++v.p, --v.n;
    if (s.n == 0 || k.n == 0 || has_line_break(s) || has_line_break(k) || has_line_break(v) ||
        std::memchr(k.p, '=', k.n) || std::memchr(s.p, ']', s.n) || k.p[0] == '[')
        return failed_with(FileStep::Open, kEINVAL);

    char path[4096];
    if (!resolve(file, path, sizeof path)) return failed_with(FileStep::Open, kENAMETOOLONG);
    // A link is written through, so that it stays a link.
    char real[PATH_MAX];
    if (::realpath(path, real) && std::strlen(real) < sizeof path)
        std::snprintf(path, sizeof path, "%s", real);
    Contents c;
    if (const CallResult r = load(path, &c); !r.ok()) return r;
    // A read-only file is refused, as there; the owner-write bit stands for the read-only
    // attribute, so this holds for a privileged user too.
    if (c.exists && ((c.st.st_mode & 0200) == 0 || ::access(path, W_OK) != 0)) return failed_with(FileStep::Open, kEACCES);

    const char* d = c.exists ? c.data.get() : "";
    const size_t n = c.size;
    const Where w = locate(d, n, s, k);
    const Text eol = line_end(d, n);

    // The new file is the old one with one span replaced: head, new text, tail.
    Text parts[12];
    int count = 0;
    auto add = [&](const char* p, size_t len) { parts[count++] = {p, len}; };
    if (w.key && w.eq) {
        if (w.value.n == v.n && std::memcmp(w.value.p, v.p, v.n) == 0) return {};  // no change
        const char* at = w.eq + 1;
        while (at < d + w.key_line.end && (*at == ' ' || *at == '\t')) ++at;
        add(d, static_cast<size_t>(at - d));
        add(v.p, v.n);
        add(d + w.key_line.end, n - w.key_line.end);
    } else if (w.key) {
        const Text t = trim(d + w.key_line.begin, d + w.key_line.end);
        add(d, static_cast<size_t>(t.p + t.n - d));
        add("=", 1);
        add(v.p, v.n);
        add(d + w.key_line.end, n - w.key_line.end);
    } else {
        size_t at = n;
        bool needs_eol = n > content_start(d, n) && d[n - 1] != '\n' && d[n - 1] != '\r';
        if (w.section) {
            at = w.insert_at;
            needs_eol = w.insert_needs_eol && at > content_start(d, n);
        }
        add(d, at);
        if (needs_eol) add(eol.p, eol.n);
        if (!w.section) {
            add("[", 1);
            add(s.p, s.n);
            add("]", 1);
            add(eol.p, eol.n);
        }
        add(k.p, k.n);
        add("=", 1);
        add(v.p, v.n);
        add(eol.p, eol.n);
        add(d + at, n - at);
    }

    // A replaced file keeps its mode, owner and group; a new one gets the default.
    WholeFile out;
    if (const int e = out.begin(path, c.exists ? WholeFile::Intent::Replace : WholeFile::Intent::New, nullptr))
        return failed_with(FileStep::Create, e);
    for (int i = 0; i < count; ++i)
        if (const int e = out.write(parts[i].p, parts[i].n)) return failed_with(FileStep::Write, e);
    return out.commit(WholeFileEnd{});
}

}  // namespace qm::plat
