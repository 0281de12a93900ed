// One member's way onto the disk, the one path every member takes (expansion, the
// manifest, the staging workers): decided before anything is written, then staged, then
// committed, each step once and in that order.
//
//   decide   the verdict (verdict.h) on the header and on the way to the name, looked at
//            before anything is created there (a link on it refuses the member); the name
//            itself is assumed free, as it mostly is
//   stage    a new file complete under no name (data, mode, time); any thread, any order
//   commit   in member order: the name given, the directory made. Where the name turns
//            out taken, or staging met what the look-up explains, the look-up decides
//            again (at most twice) and the member acts on that verdict there and then
//
// What a commit changed is recorded (MemberChange): what an undo would take back.
#pragma once

#include <cstdint>

#include "extract/extract.h"

namespace qm::extract {

// The names of the members handed out last, as many as a pipeline's window holds, each
// folded as the file systems may compare names (case, either slash): whether a member's
// name is one of theirs, any of which may not be committed yet when it is staged.
class RecentNames {
public:
    static constexpr unsigned kNames = 64;
    // Whether name is among the recent ones; it is one of them from now on.
    bool repeats(const char* name) noexcept;

private:
    uint64_t hashes_[kNames] = {};
    unsigned next_ = 0, held_ = 0;
};

// What a member's commit changed on disk.
struct MemberChange {
    enum class Kind {
        None,          // nothing (kept, refused, a directory already there, a failure)
        NewFile,       // a file made under the member's name
        ReplacedFile,  // the old file at the name replaced by the member's (its identity kept)
        Directory,     // the member's own directory made
    };
    Kind kind = Kind::None;
    // The directories on the way made for it, from this component of the name on (the
    // count as for_each component, from 0); -1 for none.
    int made_from = -1;
    // The old file was made writable (owner write) before it was replaced, or before
    // its replace failed: the one change a failed commit leaves.
    bool made_writable = false;
};

class MemberWrite {
public:
    enum class State { Empty, Decided, Staged, Committed };

    MemberWrite() noexcept = default;
    MemberWrite(const MemberWrite&) = delete;
    MemberWrite& operator=(const MemberWrite&) = delete;

    // e copied (its data stays in the package image); probe answers for the disk.
    void decide(const tar::TarEntry& e, const PathProbe& probe, WayCache& way) noexcept;
    // The caller knows that no member before this one may still change its name when it
    // is staged (RecentNames): where staging finds the name taken, what it found there
    // decides the commit, without a second look.
    void name_alone() noexcept { stage_look_serves_ = true; }
    // Whether staging may run ahead of the commits before it, on any thread: a new file
    // whose directories are all there.
    bool stages_ahead() const noexcept;
    // Also a member staged or committed before (done again alone), from its verdict.
    void stage(plat::WholeFileScope* scope) noexcept;
    // Staging found no room (the disk full for now): what the files staged beside it
    // may have caused.
    bool no_room() const noexcept;
    Extraction commit(plat::WholeFileScope* scope) noexcept;
    // Lets a staged file go (its member is staged again, or never committed).
    void drop() noexcept;

    // A member of a whole package, decided before any member is staged (against the
    // target and the members before it, packages/transaction.h): its content staged
    // under the name aside, as the replacement of what is at its name or as a new file,
    // and left there, closed, for its commit (staged.h) to give it its name. Any thread.
    void stage_aside(const tar::TarEntry& e, const char* aside, bool replacing, const plat::OwnerLook& owner,
                     plat::WholeFileScope* scope) noexcept;
    // What staging came to: the member's failure with the message of the step that
    // failed, or its outcome.
    Extraction staged_outcome() noexcept;

    State state() const noexcept { return state_; }
    const tar::TarEntry& entry() const noexcept { return entry_; }
    const MemberChange& change() const noexcept { return change_; }

private:
    // What acting on the verdict came to, one round of the commit.
    enum class Round { Done, LookAgain };
    Round act(plat::WholeFileScope* scope, Extraction& x, bool may_look) noexcept;
    Round publish(Extraction& x, bool may_look) noexcept;
    void stage_new(plat::WholeFileScope* scope) noexcept;
    void stage_content(int begun) noexcept;
    void look_again() noexcept;
    bool make_way(Extraction& x) noexcept;
    bool make_writable(Extraction& x) noexcept;
    // Each records the failure in x (false, for the caller to return).
    bool failed(Extraction& x, const char* format, const char* name, int error) noexcept;
    bool failed_at(Extraction& x, const plat::CallResult& r) noexcept;

    tar::TarEntry entry_;
    OnDisk disk_;
    Verdict verdict_;
    State state_ = State::Empty;
    plat::WholeFile out_;
    plat::CallResult staged_;  // staging's outcome
    int create_error_ = 0;     // staging's create failed this way and would again (0: try)
    bool looked_through_write_ = false;  // the last look asked the staged write (its directory)
    bool stage_look_serves_ = false;     // name_alone(): for the commit's first look
    MemberChange change_;
};

}  // namespace qm::extract
