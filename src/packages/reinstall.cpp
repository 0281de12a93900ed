#include "packages/reinstall.h"

#include <cstdio>
#include <cstring>

#include "packages/package_list.h"
#include "platform/dirsearch.h"
#include "session/session.h"

namespace qm::packages {

namespace {

int fill_from_manifests(const char* root, session::Status& st) noexcept {
    PackageList.count = 0;
    char pattern[260];
    if (!root) st.add(plat::win32::kInvalidParameter);
    const int n = std::snprintf(pattern, sizeof pattern, "%s\\etc\\dorva\\devices\\*.mfs", root ? root : "");
    if (n < 0 || n >= static_cast<int>(sizeof pattern)) {  // cut short it names another place
        st.add(plat::win32::kFilenameTooLong);
        return -1;
    }

    plat::DirSearch search;
    if (const plat::CallResult r = search.first(pattern); !r.ok()) {
        st.add(r);
        return -1;
    }
    do {
        const char* name = search.name();
        const size_t len = std::strlen(name);
        const int base = static_cast<int>(len >= 4 ? len - 4 : 0);  // the extension, in any case
        append_package_entry("%.*s.pkg", base, name);
    } while (PackageList.count < MAX_PACKAGES && search.next());
    const int closed = search.close() ? 1 : 0;
    if (PackageList.count == 0) st.add(plat::win32::kFileNotFound);
    return PackageList.count > 0 ? closed : -1;
}

}  // namespace

int GetReInstallPackageList(const char* root) noexcept {
    return session::reporting([&](session::Status& st) { return fill_from_manifests(root, st); });
}

}  // namespace qm::packages
