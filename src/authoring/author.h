// The package author's tools beside the checker: what an expansion would do to a target
// as it stands (the plan), and whether a target holds what the package holds (verify).
// Both read the package with the reader the expansion uses and change nothing on disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "extract/verdict.h"
#include "packages/remove.h"

namespace qm::authoring {

struct PlannedMember {
    std::string name;
    extract::Outcome action = extract::Outcome::Write;
    std::string reason;  // for Refuse and Fail: the text the user would be shown
};

struct PlanReport {
    bool readable = false;
    std::string error;  // when not readable
    std::vector<PlannedMember> members;
    bool runs_to_end = true;  // the expansion would end without a box
    std::string ending;       // a block that ends the walk silently before the archive's end
};

// What ExpandPackage(package, target) would do to target as it stands: per member, in
// order, the verdict extraction would act on, against the target as the members before
// would have left it.
PlanReport plan_expansion(const char* package, const char* target);

struct PlannedRemoval {
    std::string name;  // a member's name, or a directory's path ending in "/"
    packages::RemovalAction action = packages::RemovalAction::Remove;
    std::string reason;
};

struct RemovalPlanReport {
    bool readable = false;
    std::string error;  // when not readable
    std::vector<PlannedRemoval> steps;
    int64_t result = 0;           // what RemovePackage would return: the package's files it keeps
    unsigned long last_error = 0;  // the last error it would leave
    bool box = false;             // it would show the "Error" box (attended)
};

// What RemovePackage(package, target) would do to target as it stands, changing nothing:
// the file members in order, then the directories, each decided by the function the
// removal acts on.
RemovalPlanReport plan_removal(const char* package, const char* target);

enum class VerifyState { Ok, Missing, Modified, KeptNewer, Link };

struct VerifiedMember {
    std::string name;
    VerifyState state = VerifyState::Ok;
    std::string reason;
};

struct VerifyReport {
    bool readable = false;
    std::string error;
    std::vector<VerifiedMember> members;  // one per name, as an expansion leaves it
    bool all_ok = true;
};

// Whether target holds each member as the package holds it: a file with the member's
// bytes, a directory; never through a link (one at the name or on the way differs). Where a name comes more than once, the copy an expansion leaves
// counts (a later one of the same or a newer time).
VerifyReport verify_install(const char* package, const char* target);

// "ok", "missing", "modified", "kept-newer", "link".
const char* verify_state_name(VerifyState s) noexcept;

}  // namespace qm::authoring
