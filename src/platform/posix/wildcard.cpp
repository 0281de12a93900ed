#include <cstring>

#include "platform/posix/wildcard.h"

namespace qm::plat {

namespace {

char fold(char c) noexcept { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// "*" and "?" with backtracking over the last star: linear in practice, never recursive.
bool glob(const char* p, const char* pend, const char* n) noexcept {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*n) {
        if (p < pend && *p == '*') {
            star = p++;
            resume = n;
        } else if (p < pend && (*p == '?' || fold(*p) == fold(*n))) {
            ++p;
            ++n;
        } else if (star) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pend && *p == '*') ++p;
    return p == pend;
}

}  // namespace

bool wildcard_match(const char* pattern, const char* name) noexcept {
    const char* pend = pattern + std::strlen(pattern);
    if (glob(pattern, pend, name)) return true;
    // "name.*" also matches a name without any dot, as "*.*" matches every name.
    if (pend - pattern >= 2 && pend[-2] == '.' && pend[-1] == '*' && !std::strchr(name, '.'))
        return glob(pattern, pend - 2, name);
    return false;
}

}  // namespace qm::plat
