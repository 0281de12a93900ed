#include "packages/journal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "extract/verdict.h"

namespace qm::packages {

namespace {

using extract::StagedMember;
using Kind = StagedMember::Kind;

constexpr char kHead[] = "quillmar journal 1\nstate ";

char letter(Kind k) noexcept {
    switch (k) {
        case Kind::Way: return 'w';
        case Kind::NewFile: return 'n';
        case Kind::Replace: return 'r';
        case Kind::Directory: return 'd';
        case Kind::None: break;
    }
    return '?';
}

bool kind_of(char c, Kind* out) noexcept {
    switch (c) {
        case 'w': *out = Kind::Way; return true;
        case 'n': *out = Kind::NewFile; return true;
        case 'r': *out = Kind::Replace; return true;
        case 'd': *out = Kind::Directory; return true;
        default: return false;
    }
}

// The next field of a line up to a blank, as a number (base 10 or 16), moving p past it.
bool number(char*& p, int base, long long lo, long long hi, long long* out) noexcept {
    char* end = nullptr;
    const long long v = std::strtoll(p, &end, base);
    if (end == p || *end != ' ' || v < lo || v > hi) return false;
    *out = v;
    p = end + 1;
    return true;
}

bool is_separator(char c) noexcept { return c == '/' || c == '\\'; }

// A record read back: a name a member could have, and the rest fitting it.
bool plausible(const StagedMember& m) noexcept {
    const size_t len = std::strlen(m.name);
    if (len == 0 || extract::TarUnsafeNameReason(m.name)) return false;
    return m.aside_dir == 0 || (m.aside_dir < len && is_separator(m.name[m.aside_dir]));
}

}  // namespace

int64_t journal_state_offset() noexcept { return static_cast<int64_t>(sizeof kHead - 1); }

std::string journal_text(const char* tag, const std::vector<StagedMember>& members) {
    std::string t = kHead;
    t += static_cast<char>(JournalState::Staging);
    t += "\ntag ";
    t += tag;
    t += '\n';
    char line[96];
    for (const StagedMember& m : members) {
        if (m.kind == Kind::None) continue;
        std::snprintf(line, sizeof line, "%c %x %d %u %d ", letter(m.kind), static_cast<unsigned>(m.index), m.made_from,
                      static_cast<unsigned>(m.aside_dir), m.read_only ? 1 : 0);
        t += line;
        t += m.name;
        t += '\n';
    }
    t += "end\n";
    return t;
}

bool parse_journal(std::string& text, Journal* out) {
    out->members.clear();
    if (text.size() < sizeof kHead + 8 || text.compare(0, sizeof kHead - 1, kHead) != 0) return false;
    if (text.compare(text.size() - 4, 4, "end\n") != 0) return false;
    char* p = &text[sizeof kHead - 1];
    const char state = *p;
    if (state != 's' && state != 'c' && state != 'd') return false;
    out->state = static_cast<JournalState>(state);
    if (std::strncmp(p + 1, "\ntag ", 5) != 0) return false;
    p += 6;
    char* eol = std::strchr(p, '\n');
    if (!eol || eol == p || static_cast<size_t>(eol - p) >= sizeof out->tag) return false;
    std::memcpy(out->tag, p, static_cast<size_t>(eol - p));
    out->tag[eol - p] = '\0';
    for (const char* q = out->tag; *q; ++q)
        if (!std::strchr("0123456789abcdef", *q)) return false;
    p = eol + 1;
    char* const last = &text[text.size() - 4];
    while (p < last) {
        eol = std::strchr(p, '\n');
        if (!eol || eol >= last) return false;
        *eol = '\0';
        StagedMember m;
        long long index = 0, made = 0, dir = 0, ro = 0;
        if (!kind_of(p[0], &m.kind) || p[1] != ' ') return false;
        p += 2;
        if (!number(p, 16, 0, UINT32_MAX, &index) || !number(p, 10, -1, INT16_MAX, &made) ||
            !number(p, 10, 0, UINT16_MAX, &dir) || !number(p, 10, 0, 1, &ro))
            return false;
        m.index = static_cast<uint32_t>(index);
        m.made_from = static_cast<int16_t>(made);
        m.aside_dir = static_cast<uint16_t>(dir);
        m.read_only = ro == 1;
        m.name = p;
        if (!plausible(m)) return false;
        out->members.push_back(m);
        p = eol + 1;
    }
    return p == last;
}

}  // namespace qm::packages
