// Which member names may be written at all. A package comes from outside; a name that
// climbs out of the target directory, names a drive, a UNC share, an alternate data
// stream or a device would let a package write where the installer never meant to.
#include <cstring>

#include "extract/verdict.h"

namespace qm::extract {

namespace {

bool is_sep(char ch) noexcept { return ch == '/' || ch == '\\'; }

char upper(char ch) noexcept { return (ch >= 'a' && ch <= 'z') ? static_cast<char>(ch - 32) : ch; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, and COM and LPT with a superscript 1, 2 or 3 (the
// bytes 0xB9, 0xB2, 0xB3 of the ANSI code page): Windows opens the device for such a
// component, with any extension and with trailing blanks or dots.
bool is_device_component(const char* comp, size_t len) noexcept {
    size_t base = 0;
    while (base < len && comp[base] != '.') ++base;
    while (base > 0 && comp[base - 1] == ' ') --base;
    char u[5] = {};
    if (base == 3) {
        for (int i = 0; i < 3; ++i) u[i] = upper(comp[i]);
        return std::strcmp(u, "CON") == 0 || std::strcmp(u, "PRN") == 0 ||
               std::strcmp(u, "AUX") == 0 || std::strcmp(u, "NUL") == 0;
    }
    if (base == 4) {
        for (int i = 0; i < 4; ++i) u[i] = upper(comp[i]);
        const unsigned char digit = static_cast<unsigned char>(u[3]);
        return (std::strncmp(u, "COM", 3) == 0 || std::strncmp(u, "LPT", 3) == 0) &&
               ((digit >= '1' && digit <= '9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3);
    }
    return false;
}

}  // namespace

const char* TarUnsafeNameReason(const char* name) noexcept {
    if (is_sep(name[0])) return "absolute path";
    for (const char* p = name; *p; ++p) {
        const unsigned char ch = static_cast<unsigned char>(*p);
        if (ch == ':') return "drive or stream name";
        if (ch < 32 || ch == 127) return "control character";
        if (std::strchr("<>\"|?*", ch)) return "reserved character";
    }
    const char* comp = name;
    while (true) {
        const char* end = comp;
        while (*end && !is_sep(*end)) ++end;
        const size_t len = static_cast<size_t>(end - comp);
        if (len == 2 && comp[0] == '.' && comp[1] == '.') return "parent directory";
        if (is_device_component(comp, len)) return "device name";
        if (!*end) break;
        comp = end + 1;
    }
    return nullptr;
}

}  // namespace qm::extract
