#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "platform/dirsearch.h"
#include "platform/posix/paths.h"
#include "platform/posix/wildcard.h"

namespace qm::plat {

bool close_dir(DIR* d) noexcept { return ::closedir(d) == 0; }

namespace {

// The next entry of the search that matches its pattern, into name and is_dir.
bool fetch(DirSearchState& s, char (&name)[260], bool* is_dir) noexcept {
    DIR* d = s.dir.get();
    while (struct dirent* e = ::readdir(d)) {
        if (!wildcard_match(s.pattern, e->d_name)) continue;
        if (std::strlen(e->d_name) >= sizeof name) continue;  // not representable
        std::snprintf(name, sizeof name, "%s", e->d_name);
        // The entry's own type where the file system gives it; a link (which counts as
        // what it points to) or an unknown type is looked up.
        if (e->d_type == DT_DIR || e->d_type == DT_REG) {
            *is_dir = e->d_type == DT_DIR;
        } else {
            struct stat st;
            *is_dir = ::fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        return true;
    }
    return false;
}

}  // namespace

CallResult DirSearch::first(const char* pattern) noexcept {
    state_.dir.reset();
    NativePath native(pattern);
    if (!native.ok()) return failed_with(FileStep::Search, kENAMETOOLONG);
    const char* full = native.c_str();
    const char* slash = std::strrchr(full, '/');
    char* dir = state_.dir_path;
    const size_t dir_size = sizeof state_.dir_path;
    if (slash) {
        const size_t dlen = static_cast<size_t>(slash - full);
        if (dlen + 1 >= dir_size) return failed_with(FileStep::Search, kENAMETOOLONG);
        std::memcpy(dir, full, dlen);
        dir[dlen] = '\0';
        if (dlen == 0) std::snprintf(dir, dir_size, "/");
    } else {
        std::snprintf(dir, dir_size, ".");
    }
    const char* pat = slash ? slash + 1 : full;
    // No name matches an empty pattern, nor one longer than any name.
    if (std::strlen(pat) >= sizeof state_.pattern || pat[0] == '\0') return failed_with(FileStep::Search, kENOENT);
    std::snprintf(state_.pattern, sizeof state_.pattern, "%s", pat);
    DIR* d = ::opendir(dir);
    if (!d) return failed_now(FileStep::Search);
    state_.dir.reset(d);
    if (fetch(state_, name_, &is_dir_)) return {};
    state_.dir.reset();  // nothing matched: as FindFirstFileA, no search stays open
    return failed_with(FileStep::Search, kENOENT);
}

bool DirSearch::next() noexcept { return state_.dir && fetch(state_, name_, &is_dir_); }

bool DirSearch::close() noexcept { return state_.dir && state_.dir.reset(); }

}  // namespace qm::plat
