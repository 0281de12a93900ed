// One header block: its numbers, its checksum, decoding it and composing one.
#include <cstdio>
#include <cstring>

#include "tar/tar.h"

namespace qm::tar {

namespace {

bool is_space(unsigned char ch) noexcept {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

// value as width-1 octal digits and a NUL; false when it does not fit.
bool put_octal(unsigned char* field, int width, int64_t value) noexcept {
    if (value < 0) return false;
    char text[24];
    const int n = std::snprintf(text, sizeof text, "%0*llo", width - 1, static_cast<unsigned long long>(value));
    if (n != width - 1) return false;
    std::memcpy(field, text, static_cast<size_t>(width));  // the digits and snprintf's NUL
    return true;
}

// Where path splits into a ustar prefix and name: the first "/" after which the rest
// fits the name field with room for its terminator (a name that fills the field is
// legal but reads as one cut by its writer), and before which the prefix fits. Null
// when there is no such "/". A directory's own final "/" splits too, leaving the name
// field empty: readers join the prefix, a "/" and the name, so a directory whose path
// has 100 bytes still reads back with its "/".
const char* prefix_split(const char* path, size_t len) noexcept {
    for (const char* s = std::strchr(path, '/'); s; s = std::strchr(s + 1, '/')) {
        const size_t prefix = static_cast<size_t>(s - path);
        const size_t rest = len - prefix - 1;
        if (prefix > sizeof(TarHeaderBlock::prefix)) return nullptr;
        if (prefix > 0 && rest < sizeof(TarHeaderBlock::name)) return s;
    }
    return nullptr;
}

}  // namespace

bool TarIsDirectory(const TarEntry& e) noexcept {
    if (e.type == '5') return true;
    const size_t n = std::strlen(e.name);
    return e.type == '\0' && n > 0 && e.name[n - 1] == '/';
}

int64_t TarReadOctal(int width, const unsigned char* text) noexcept {
    int n = width;
    const unsigned char* p = text;
    while (n > 0 && is_space(*p)) {
        ++p;
        --n;
    }
    if (n <= 0) return -1;
    // Wide enough for the largest field (12 digits, 36 bits): nothing can overflow.
    int64_t value = 0;
    while (n > 0 && *p >= '0' && *p <= '9') {
        value = (value << 3) | (*p - '0');
        ++p;
        --n;
    }
    if (n <= 0) return value;
    if (*p == '\0' || is_space(*p)) return value;
    return -1;
}

TarChecksum TarVerifyChecksum(const TarHeaderBlock& block) noexcept {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&block);
    const int64_t stored = TarReadOctal(8, block.chksum);
    // The sum of the bytes taken as unsigned, and how many are 128 or more: taken as
    // signed, each of those counts 256 less. Two plain sums the compiler can vectorise.
    uint32_t sum = 0, high = 0;
    for (int i = 0; i < kBlock; ++i) {
        sum += bytes[i];
        high += bytes[i] >> 7;
    }
    // The chksum field itself counts as eight blanks.
    int64_t u = static_cast<int64_t>(sum) + 256;
    int64_t h = high;
    for (unsigned char ch : block.chksum) {
        u -= ch;
        h -= ch >> 7;
    }
    const int64_t s = u - 256 * h;
    if (u == 256) return TarChecksum::Blank;
    if (stored == u || stored == s) return TarChecksum::Match;
    return TarChecksum::Mismatch;
}

void TarDecodeHeader(const TarHeaderBlock& block, TarEntry* e) noexcept {
    e->status = TarStatus{};
    e->status.mode = static_cast<uint16_t>(TarReadOctal(8, block.mode) & 07777);
    e->status.uid = static_cast<int16_t>(TarReadOctal(8, block.uid));
    e->status.gid = static_cast<int16_t>(TarReadOctal(8, block.gid));
    e->status.size = TarReadOctal(12, block.size);
    e->status.mtime = TarReadOctal(12, block.mtime);
    e->type = static_cast<char>(block.typeflag);

    // A POSIX ustar writer splits a long path into prefix and name; the member belongs
    // under the whole path. GNU headers ("ustar  ") use those bytes for other things.
    std::memset(e->name, 0, sizeof e->name);
    size_t at = 0;
    if (std::memcmp(block.magic, "ustar", 6) == 0 && block.prefix[0] != '\0') {
        at = strnlen(reinterpret_cast<const char*>(block.prefix), sizeof block.prefix);
        std::memcpy(e->name, block.prefix, at);
        e->name[at++] = '/';
    }
    std::memcpy(e->name + at, block.name, sizeof block.name);
}

bool TarEncodeHeader(const TarHeaderFields& f, TarHeaderBlock* b) noexcept {
    std::memset(b, 0, sizeof *b);
    const size_t len = std::strlen(f.path);
    const char* split = nullptr;
    if (len == 0) return false;
    if (len >= sizeof b->name) {
        split = prefix_split(f.path, len);
        if (!split && len > sizeof b->name) return false;
    }
    if (split) {
        std::memcpy(b->prefix, f.path, static_cast<size_t>(split - f.path));
        std::memcpy(b->name, split + 1, len - static_cast<size_t>(split - f.path) - 1);
    } else {
        std::memcpy(b->name, f.path, len);
    }
    if (!put_octal(b->mode, 8, f.mode & 07777) || !put_octal(b->uid, 8, 0) ||
        !put_octal(b->gid, 8, 0) || !put_octal(b->size, 12, f.size) ||
        !put_octal(b->mtime, 12, f.mtime) || !put_octal(b->devmajor, 8, 0) ||
        !put_octal(b->devminor, 8, 0))
        return false;
    b->typeflag = static_cast<unsigned char>(f.type);
    std::memcpy(b->magic, "ustar", 6);
    std::memcpy(b->version, "00", 2);
    // Six digits, a NUL and a blank, counting the field itself as eight blanks.
    std::memset(b->chksum, ' ', sizeof b->chksum);
    unsigned sum = 0;
    for (int i = 0; i < kBlock; ++i) sum += reinterpret_cast<const unsigned char*>(b)[i];
    char text[8];
    std::snprintf(text, sizeof text, "%06o", sum);
    std::memcpy(b->chksum, text, 7);
    return true;
}

}  // namespace qm::tar
