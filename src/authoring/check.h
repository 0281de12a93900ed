// The package checker: how the library will treat each member of a package, predicted
// by walking it with the same reader the expansion uses, without writing anything; and
// a finding for everything that would make an installation fail or surprise.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extract/verdict.h"

namespace qm::authoring {

enum class MemberAction {
    Write,      // written as a file
    Directory,  // created as a directory (or found)
    Stops,      // the expansion stops at this member, with a message to the user
    NotReached  // after a member that stops the expansion
};

struct CheckedMember {
    std::string name;
    char type = 0;
    unsigned mode = 0;
    int uid = 0;
    int gid = 0;
    int64_t size = 0;
    int64_t mtime = 0;
    int64_t offset = 0;  // of its header block in the package
    MemberAction action = MemberAction::Write;
    extract::Fate fate = extract::Fate::Write;  // what the header alone decides
    std::string why;     // for Stops: what the user would be shown
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

const char* action_text(MemberAction a) noexcept;

}  // namespace qm::authoring
