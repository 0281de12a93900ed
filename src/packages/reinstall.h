// The packages to reinstall: one per manifest installed under the product root.
#pragma once

namespace qm::packages {

// Refills the PackageList from count 0 with "base.pkg" for every "base.mfs" in
// root\etc\dorva\devices, in the directory search's order (the cursor stays). -1 when
// the list stays empty (no manifest, no such directory, or a root too long to search);
// otherwise the result of closing the search (1, or 0 when closing failed).
int GetReInstallPackageList(const char* root) noexcept;

}  // namespace qm::packages
