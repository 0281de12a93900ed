#include "config/tcl_launcher.h"

#include <cstdio>

#include "platform/process.h"
#include "platform/sys.h"
#include "session/session.h"

namespace qm::config {

namespace {

constexpr int kShow = 5;  // SW_SHOW: shown and activated in its current size and place

// Every value and command line is built in one buffer of this size in turn.
constexpr size_t kBufferSize = 1024;

bool fits(int n) noexcept { return n >= 0 && static_cast<size_t>(n) < kBufferSize; }

void set_from(const char* name, const char* fmt, const char* root, session::Status& st) noexcept {
    char buf[kBufferSize];
    if (!fits(std::snprintf(buf, sizeof buf, fmt, root))) {
        st.add(plat::win32::kFilenameTooLong);
        session::note("%s not set: the value is too long", name);
    } else if (const plat::CallResult r = plat::set_env(name, buf); !r.ok()) {
        st.add(r);
        session::note("%s not set", name);
    }
}

unsigned start(const char* fmt, const char* root, session::Status& st) noexcept {
    char buf[kBufferSize];
    const unsigned r = fits(std::snprintf(buf, sizeof buf, fmt, root, root)) ? plat::launch(buf, kShow)
                                                                            : plat::kLaunchNoResources;
    if (r <= 31) {
        // The launch codes are the platform's error numbers, but for 0 (no resources).
        st.add(r == plat::kLaunchNoResources ? plat::win32::kNotEnoughMemory : r);
        session::note("not started (%u): %s", r, buf);
    }
    return r;
}

int set_up_and_start(const char* root, session::Status& st) noexcept {
    if (!root) {
        st.add(plat::win32::kInvalidParameter);
        root = "";
    }
    set_from("NMSROOT", "%s", root, st);
    set_from("TCL_LIBRARY", "%s\\lib\\tcl7.5", root, st);
    set_from("TK_LIBRARY", "%s\\lib\\tk4.1", root, st);
    (void)start("%s\\bin\\wish.exe %s\\etc\\dorva\\createtop.tcl ", root, st);
    return static_cast<int>(start("%s\\bin\\wish.exe %s\\etc\\dorva\\createcnt.tcl ", root, st));
}

}  // namespace

int CreateTopTcl(const char* root) noexcept {
    return session::reporting([&](session::Status& st) { return set_up_and_start(root, st); });
}

}  // namespace qm::config
