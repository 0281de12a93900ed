#include "platform/whole_file.h"

#include <cstdio>
#include <cstring>

#include "platform/dirsearch.h"
#include "platform/fault.h"
#include "platform/whole_file_internal.h"

namespace qm::plat {

namespace {

// The directories swept within the open scopes (a few: members come directory by
// directory, and a directory met again is not swept again soon).
struct Swept {
    int scopes = 0;
    int next = 0;
    bool used[8] = {};
    char dirs[8][1024] = {};
} g_swept;

}  // namespace

WholeFileDirectoryScope::WholeFileDirectoryScope() noexcept { ++g_swept.scopes; }

WholeFileDirectoryScope::~WholeFileDirectoryScope() {
    if (--g_swept.scopes > 0) return;
    for (bool& u : g_swept.used) u = false;
    whole_file_forget_directory();
}

bool whole_file_in_scope() noexcept { return g_swept.scopes > 0; }

void whole_file_sweep_once(const char* path) noexcept {
    if (g_swept.scopes == 0) return;
    const char* base = path;
    for (const char* q = path; *q; ++q)
        if (*q == '\\' || *q == '/' || (*q == ':' && q == path + 1)) base = q + 1;
    const size_t dir_len = static_cast<size_t>(base - path);
    if (dir_len >= sizeof g_swept.dirs[0]) return;
    for (int i = 0; i < 8; ++i)
        if (g_swept.used[i] && std::strlen(g_swept.dirs[i]) == dir_len && std::strncmp(g_swept.dirs[i], path, dir_len) == 0)
            return;
    g_swept.used[g_swept.next] = true;
    char* slot = g_swept.dirs[g_swept.next];
    std::memcpy(slot, path, dir_len);
    slot[dir_len] = '\0';
    g_swept.next = (g_swept.next + 1) % 8;
    char pattern[1100], found[1400];
    std::snprintf(pattern, sizeof pattern, "%.*s.qm*~*", static_cast<int>(dir_len), path);
    DirSearch s;
    if (!s.first(pattern)) return;
    do {
        if (s.is_dir()) continue;
        const int n = std::snprintf(found, sizeof found, "%.*s%s", static_cast<int>(dir_len), path, s.name());
        if (n > 0 && static_cast<size_t>(n) < sizeof found) (void)whole_file_remove_stale(found);
    } while (s.next());
}

int WholeFile::begin(const char* path, Intent intent, bool no_links_on_the_way) noexcept {
    discard();
    intent_ = intent;
    if (int e = fault::check(fault::Op::Create)) return e;
    const int e = open_side(path, intent, no_links_on_the_way);
    // An injected failure counts successful creates only, so that a test can name the
    // member whose create fails however often a name is tried.
    if (e != 0) fault::refund(fault::Op::Create);
    return e;
}

bool whole_file_temp_name(const char* path, unsigned k, char* out, size_t size) noexcept {
    const char* base = path;
    for (const char* q = path; *q; ++q)
        if (*q == '\\' || *q == '/' || (*q == ':' && q == path + 1)) base = q + 1;
    // FNV-1a of the file name: short whatever the name's length, so the temporary fits
    // beside a name at the file system's limit, and the same for every write of it.
    uint32_t h = 2166136261u;
    for (const char* q = base; *q; ++q) h = (h ^ static_cast<unsigned char>(*q)) * 16777619u;
    const int dir_len = static_cast<int>(base - path);
    const int n = k == 0 ? std::snprintf(out, size, "%.*s.qm%08x~", dir_len, path, static_cast<unsigned>(h))
                         : std::snprintf(out, size, "%.*s.qm%08x~%u", dir_len, path, static_cast<unsigned>(h), k);
    return n > 0 && static_cast<size_t>(n) < size;
}

}  // namespace qm::plat
