// The package checker: how the library will treat each member of a package, predicted
// by walking it with the same reader the expansion uses, without writing anything; and
// a finding for everything that would make an installation fail or surprise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extract/verdict.h"

namespace qm::authoring {

struct CheckedMember {
    std::string name;
    char type = 0;
    unsigned mode = 0;
    int uid = 0;
    int gid = 0;
    int64_t size = 0;
    int64_t mtime = 0;
    int64_t offset = 0;  // of its header block in the package
    // As the plan decides it against a target that holds nothing but the directories
    // the package relies on.
    extract::Outcome action = extract::Outcome::Write;
    std::string why;     // for Refuse and Fail: what the user would be shown
};

struct CheckReport {
    bool readable = false;
    std::string error;  // when not readable
    int64_t size = 0;
    std::vector<CheckedMember> members;
    std::vector<std::string> findings;
    std::string manifest_pattern;  // "<name>.mfs" as GetManifestFile looks for it
    std::string manifest_member;   // the member it would extract; empty when none
};

// Walks the package at path. Never writes anything; never throws for a broken package
// (only for memory exhaustion).
CheckReport check_package(const char* path);

// "written", "directory", "stops the expansion", "not reached", as the listing says it.
const char* action_text(extract::Outcome a) noexcept;

}  // namespace qm::authoring
