#include "packages/package_list.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "session/session.h"

namespace qm::packages {

PackageListTable PackageList = {};

namespace {

// The end of the list is the platform's "no more files".
const char* entry_or_end(const char* entry) noexcept {
    session::Status st;
    if (!entry) st.add(plat::win32::kNoMoreFiles);
    return session::reported(entry, st);
}

}  // namespace

const char* GetFirstFile() noexcept {
    PackageList.cursor = 0;
    if (PackageList.count == 0) return entry_or_end(nullptr);
    PackageList.cursor = 1;
    return entry_or_end(PackageList.entries[0]);
}

const char* GetNextFile() noexcept {
    const int32_t i = PackageList.cursor;
    // A cursor left beyond a shorter, newer list reads nothing until it is rewound.
    if (i < 0 || i >= PackageList.count || i >= MAX_PACKAGES) return entry_or_end(nullptr);
    PackageList.cursor = i + 1;
    return entry_or_end(PackageList.entries[i]);
}

int ClearPackageList() noexcept {
    PackageList.count = 0;
    PackageList.cursor = 0;
    return 0;
}

bool append_package_entry(const char* format, ...) noexcept {
    if (PackageList.count < 0 || PackageList.count >= MAX_PACKAGES) return false;
    char text[PACKAGE_NAME_SIZE];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(text, sizeof text, format, ap);
    va_end(ap);
    if (n < 0 || n >= PACKAGE_NAME_SIZE) return false;
    std::memcpy(PackageList.entries[PackageList.count], text, static_cast<size_t>(n) + 1);
    ++PackageList.count;
    return true;
}

namespace {

// Tokens after splitting: the text with every space turned into a terminator.
class Tokens {
public:
    explicit Tokens(char* text) noexcept : end_(text + std::strlen(text)) {
        for (char* p = text; p < end_; ++p)
            if (*p == ' ') *p = '\0';
        first_ = skip(text);
    }
    const char* first() const noexcept { return first_; }
    // The token after t, or null.
    const char* after(const char* t) const noexcept { return skip(t + std::strlen(t)); }

private:
    const char* skip(const char* p) const noexcept {
        while (p < end_ && *p == '\0') ++p;
        return p < end_ ? p : nullptr;
    }
    const char* end_;
    const char* first_;
};

bool fits(const char* dir, const char* name) noexcept {
    return std::strlen(dir) + 1 + std::strlen(name) < static_cast<size_t>(PACKAGE_NAME_SIZE);
}

}  // namespace

int FillPackageList(char* selection) noexcept {
    if (!selection) return 0;
    const Tokens tokens(selection);
    const char* dir = tokens.first();
    if (!dir) return 0;  // the dialog never returns an empty choice; nothing to take
    const char* name = tokens.after(dir);

    if (!name) {  // one file: its full path
        if (std::strlen(dir) >= static_cast<size_t>(PACKAGE_NAME_SIZE)) return 0;
        PackageList.count = 0;
        append_package_entry("%s", dir);
    } else {
        // The old list stays unless the new one gets at least one entry.
        const char* n = name;
        while (n && !fits(dir, n)) n = tokens.after(n);
        if (!n) return 0;
        PackageList.count = 0;
        for (; n && PackageList.count < MAX_PACKAGES; n = tokens.after(n))
            append_package_entry("%s\\%s", dir, n);
    }
    PackageList.cursor = 0;
    return PackageList.count;
}

}  // namespace qm::packages
