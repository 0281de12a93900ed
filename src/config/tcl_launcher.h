// The Tcl/Tk set-up launcher: the environment the windowing shell needs, then the two
// set-up scripts started one after the other without waiting.
#pragma once

namespace qm::config {

// Sets NMSROOT, TCL_LIBRARY and TK_LIBRARY from root and starts "createtop.tcl", then
// "createcnt.tcl", with root's "bin\wish.exe" (show value 5). The result is the launch
// result of the second: above 31 when it started. A value or command line that would
// exceed 1023 characters is never used cut short: that variable is not set, that
// command line not started (and, for the second, the result is 0).
int CreateTopTcl(const char* root) noexcept;

}  // namespace qm::config
