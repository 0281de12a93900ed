// What a member's name becomes on Windows beyond what the installer refuses: names that
// differ only in letter case are one name there, and a component ending in a dot or a
// space loses it.
// The checker feeds it the members an expansion reaches, in order.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "tar/tar.h"

namespace qm::authoring {

class NamesReport {
public:
    // Appends to findings what e's name does, against the members added before it.
    void add(const tar::TarEntry& e, std::vector<std::string>& findings);

private:
    std::map<std::string, std::string> spellings_;  // a name in lower case: its first spelling
};

}  // namespace qm::authoring
