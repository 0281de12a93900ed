#include "config/gateway.h"

#include <cstdio>

#include "platform/fileops.h"
#include "platform/ini.h"
#include "platform/sys.h"
#include "platform/whole_file.h"
#include "session/session.h"

namespace qm::config {

namespace {

constexpr size_t kPathSize = 256;  // 255 characters and the terminator

const char kWorkingDirectory[] = "Working Directory";
const char kServices[] = "SERVICES";

// A path formatted into its buffer; empty when it would not fit, so that no step ever
// works on a path cut short.
struct Path {
    char text[kPathSize] = {};
    bool ok() const noexcept { return text[0] != '\0'; }
};

Path format(const char* fmt, const char* arg) noexcept {
    Path p;
    const int n = std::snprintf(p.text, sizeof p.text, fmt, arg);
    if (n < 0 || static_cast<size_t>(n) >= sizeof p.text) p.text[0] = '\0';
    return p;
}

// What one gateway set-up does: its steps' failures, the first one the call's.
struct SetUp {
    plat::WholeFileScope writes;
    session::Status status;

    void write_key(const Path& ini, const char* section, const char* key, const char* value) noexcept {
        if (!ini.ok()) {
            status.add(plat::win32::kFilenameTooLong);
            session::note("[%s] %s not written: no INI path", section, key);
        } else if (const plat::CallResult r = plat::ini_write(section, key, value, ini.text); !r.ok()) {
            status.add(r);
            session::note("[%s] %s not written to \"%s\": error %lu", section, key, ini.text, r.code);
        }
    }

    bool copy_over(const Path& from, const Path& to) noexcept {
        if (!from.ok() || !to.ok()) {
            status.add(plat::win32::kFilenameTooLong);
            session::note("a copy not made: its path is too long");
            return false;
        }
        const plat::CallResult r = plat::copy_file_replace(from.text, to.text, &writes);
        if (r.ok()) return true;
        status.add(r);
        session::note("copy of \"%s\" to \"%s\" failed: error %lu", from.text, to.text, r.code);
        return false;
    }

    void run(const char* root, int code) noexcept;
};

void SetUp::run(const char* root, int code) noexcept {
    if (!root) {
        status.add(plat::win32::kInvalidParameter);
        root = "";
    }
    char windir[kPathSize];
    unsigned wlen = 0;
    const plat::CallResult found = plat::windows_dir(windir, sizeof windir, &wlen);
    const bool have_windir = found.ok() && wlen > 0 && wlen < sizeof windir;
    if (!have_windir) status.add(found.ok() ? plat::win32::kFilenameTooLong : found.code);

    const Path system_ini = have_windir ? format("%s\\rzgatewy.ini", windir) : Path{};
    const Path package_ini = format("%s\\bin\\rzgatewy.ini", root);

    // The package INI goes only once its copy is in place: deleting it after a failed
    // copy would lose the only one.
    if (copy_over(package_ini, system_ini)) {
        if (const plat::CallResult r = plat::delete_file(package_ini.text); !r.ok()) {
            status.add(r);
            session::note("\"%s\" copied but not deleted", package_ini.text);
        }
    }

    // Written first so that a new file starts with this section. Without a short form
    // the root itself serves; the final write below sets it anyway.
    char short_root[kPathSize];
    unsigned slen = 0;
    const bool have_short = plat::short_path(root, short_root, sizeof short_root, &slen).ok() && slen > 0 &&
                            slen < sizeof short_root;
    write_key(system_ini, kWorkingDirectory, "Dir", have_short ? short_root : root);

    const Path gateway = format("%s\\bin\\rzgatewy.exe", root);
    const Path first_variant = format("%s\\bin\\txgatewy.exe", root);
    const Path second_variant = format("%s\\bin\\mqgatewy.exe", root);

    if (code == kCodeFirstVariant) {
        write_key(system_ini, kServices, "CurrentService", "1");
        copy_over(first_variant, gateway);
    }
    if (code == kCodeSecondVariant) {
        write_key(system_ini, kServices, "CurrentService", "2");
        copy_over(second_variant, gateway);
    }
    if (code == kCodeNoVariant) write_key(system_ini, kServices, "CurrentService", "0");

    write_key(system_ini, kWorkingDirectory, "Dir", root);
}

}  // namespace

int ModifyGatewayFile(const char* root, int code) noexcept {
    SetUp set_up;
    set_up.run(root, code);
    return session::reported(1, set_up.status);
}

}  // namespace qm::config
