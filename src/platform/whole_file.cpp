#include "platform/whole_file.h"

#include <cstdio>

namespace qm::plat {

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
