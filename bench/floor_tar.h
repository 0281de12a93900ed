// The least a tar walk needs, shared by the floor programs: header after header of a
// package already in memory, with no checks beyond the end of the image. It trusts the
// benchmark's own well-formed inputs and is no reader for anything else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bench {

struct Member {
    char name[256 + 2];  // prefix "/" name
    char type;
    int64_t size;
    int64_t mtime;
    const unsigned char* data;
};

inline int64_t octal(const unsigned char* p, int width) {
    int64_t v = 0;
    for (int i = 0; i < width && p[i] >= '0' && p[i] <= '7'; ++i) v = v * 8 + (p[i] - '0');
    return v;
}

// Calls f(member) for every member; stops at the first empty name or the image's end.
template <typename F>
void walk(const unsigned char* image, size_t size, F f) {
    size_t at = 0;
    while (at + 512 <= size) {
        const unsigned char* h = image + at;
        if (h[0] == '\0') return;
        Member m;
        size_t n = 0;
        if (h[345] != '\0') {
            n = strnlen(reinterpret_cast<const char*>(h + 345), 155);
            std::memcpy(m.name, h + 345, n);
            m.name[n++] = '/';
        }
        const size_t k = strnlen(reinterpret_cast<const char*>(h), 100);
        std::memcpy(m.name + n, h, k);
        m.name[n + k] = '\0';
        m.type = static_cast<char>(h[156]);
        m.size = octal(h + 124, 12);
        m.mtime = octal(h + 136, 12);
        m.data = h + 512;
        f(m);
        at += 512 + static_cast<size_t>((m.size + 511) / 512) * 512;
    }
}

}  // namespace bench
