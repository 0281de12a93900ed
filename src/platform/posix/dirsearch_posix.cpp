#include <dirent.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "platform/dirsearch.h"
#include "platform/posix/paths.h"

namespace qm::plat {

bool DirSearch::Traits::close(void* p) noexcept { return ::closedir(static_cast<DIR*>(p)) == 0; }

bool DirSearch::first(const char* pattern) noexcept {
    handle_.reset();
    NativePath native(pattern);
    if (!native.ok()) return false;
    const char* full = native.c_str();
    const char* slash = std::strrchr(full, '/');
    if (slash) {
        const size_t dlen = static_cast<size_t>(slash - full);
        if (dlen + 1 >= sizeof dir_) return false;
        std::memcpy(dir_, full, dlen);
        dir_[dlen] = '\0';
        if (dlen == 0) std::snprintf(dir_, sizeof dir_, "/");
    } else {
        std::snprintf(dir_, sizeof dir_, ".");
    }
    const char* pat = slash ? slash + 1 : full;
    if (std::strlen(pat) >= sizeof pattern_ || pat[0] == '\0') return false;
    std::snprintf(pattern_, sizeof pattern_, "%s", pat);
    DIR* d = ::opendir(dir_);
    if (!d) return false;
    handle_.reset(d);
    if (fetch()) return true;
    handle_.reset();  // nothing matched: as FindFirstFileA, no search stays open
    return false;
}

bool DirSearch::next() noexcept { return handle_ && fetch(); }

bool DirSearch::fetch() noexcept {
    DIR* d = static_cast<DIR*>(handle_.get());
    while (struct dirent* e = ::readdir(d)) {
        if (!wildcard_match(pattern_, e->d_name)) continue;
        if (std::strlen(e->d_name) >= sizeof name_) continue;  // not representable
        std::snprintf(name_, sizeof name_, "%s", e->d_name);
        // The entry's own type where the file system gives it; a link (which counts as
        // what it points to) or an unknown type is looked up.
        if (e->d_type == DT_DIR || e->d_type == DT_REG) {
            is_dir_ = e->d_type == DT_DIR;
        } else {
            struct stat st;
            is_dir_ = ::fstatat(dirfd(d), e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        return true;
    }
    return false;
}

}  // namespace qm::plat
