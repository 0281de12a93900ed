// The parts of sys.h that both sides answer alike, from what each side provides.
#include "platform/host.h"
#include "platform/sys.h"

namespace qm::plat {

namespace {
// NMSROOT as the process environment held it when the library was loaded: taken by a
// static initialiser, which runs at load, before any export can be called. Defined but
// empty is not the same as undefined (live_env tells them apart on both sides); a value
// longer than the platform allows is taken for undefined, never cut.
struct LoadTimeRoot {
    char value[32768];
    bool defined = false;
    LoadTimeRoot() noexcept { defined = live_env("NMSROOT", value, sizeof value) == EnvValue::Set; }
};
const LoadTimeRoot g_root;
}  // namespace

const char* nmsroot_at_load() noexcept { return g_root.defined ? g_root.value : nullptr; }

}  // namespace qm::plat
