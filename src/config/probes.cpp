#include "config/probes.h"

#include <cstdio>

#include "platform/ini.h"
#include "session/session.h"

namespace qm::config {

namespace {

int first_free_in(const char* ini_file, const char* prefix) noexcept {
    for (int n = 1; n < 1000; ++n) {
        char key[16];
        std::snprintf(key, sizeof key, "%s%d", prefix, n);
        // Only emptiness matters, so a longer value may be cut to the nine characters
        // that fit.
        char value[10];
        plat::ini_read("program", key, "", value, sizeof value, ini_file);
        if (value[0] == '\0') return n;
    }
    return 1000;
}

}  // namespace

int first_free_entry(const char* ini_file, const char* prefix) noexcept {
    session::Status st;
    if (!ini_file) {
        st.add(plat::win32::kInvalidParameter);
        ini_file = "";
    }
    return session::reported(first_free_in(ini_file, prefix), st);
}

int GetLastIconEntry(const char* ini_file) noexcept { return first_free_entry(ini_file, "ico"); }

int GetLastDisEntry(const char* ini_file) noexcept { return first_free_entry(ini_file, "dis"); }

}  // namespace qm::config
