// What the list tests share: the library-global list state put back to its load state,
// and the list read back the way the install script reads it.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "packages/package_list.h"
#include "packages/selection_dialog.h"

namespace qm::test {

inline void reset_list_state() {
    std::memset(&packages::PackageList, 0, sizeof packages::PackageList);
    packages::SelectionMode = 0;
    std::memset(packages::SelectionPattern, 0, sizeof packages::SelectionPattern);
    std::memset(packages::SelectedIndices, 0, sizeof packages::SelectedIndices);
}

// GetFirstFile, then GetNextFile until null.
inline std::vector<std::string> read_list() {
    std::vector<std::string> out;
    for (const char* e = packages::GetFirstFile(); e; e = packages::GetNextFile()) out.emplace_back(e);
    return out;
}

// n entries "e0" .. "e<n-1>", cursor 0, as a file-open choice leaves them.
inline void fill_entries(int n) {
    packages::ClearPackageList();
    for (int i = 0; i < n; ++i) packages::append_package_entry("e%d", i);
}

}  // namespace qm::test
