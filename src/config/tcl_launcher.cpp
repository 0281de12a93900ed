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

void set_from(const char* name, const char* fmt, const char* root) noexcept {
    char buf[kBufferSize];
    if (!fits(std::snprintf(buf, sizeof buf, fmt, root))) {
        session::fail(plat::win32::kFilenameTooLong);
        session::note("%s not set: the value is too long", name);
    } else if (!plat::set_env(name, buf)) {
        session::fail_platform();
        session::note("%s not set", name);
    }
}

unsigned start(const char* fmt, const char* root) noexcept {
    char buf[kBufferSize];
    const unsigned r = fits(std::snprintf(buf, sizeof buf, fmt, root, root)) ? plat::launch(buf, kShow)
                                                                            : plat::kLaunchNoResources;
    if (r <= 31) {
        // The launch codes are the platform's error numbers, but for 0 (no resources).
        session::fail(r == plat::kLaunchNoResources ? plat::win32::kNotEnoughMemory : r);
        session::note("not started (%u): %s", r, buf);
    }
    return r;
}

}  // namespace

int CreateTopTcl(const char* root) noexcept {
    if (!root) {
        session::fail(plat::win32::kInvalidParameter);
        root = "";
    }
    set_from("NMSROOT", "%s", root);
    set_from("TCL_LIBRARY", "%s\\lib\\tcl7.5", root);
    set_from("TK_LIBRARY", "%s\\lib\\tk4.1", root);
    (void)start("%s\\bin\\wish.exe %s\\etc\\dorva\\createtop.tcl ", root);
    return static_cast<int>(start("%s\\bin\\wish.exe %s\\etc\\dorva\\createcnt.tcl ", root));
}

}  // namespace qm::config
