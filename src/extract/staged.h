// A member of a whole-package expansion (packages/transaction.h): decided against the
// target and the members before it; its way made (in member order), then staged beside
// its name under a name of ours before any member takes its name
// (MemberWrite::stage_aside), then named, on any thread. Its undo and its finish work
// from this record alone, as far as the disk shows what was done, so that the record is
// all the expansion's journal needs to hold for a later call to take a committed package
// back, or to finish it, after the process was ended at any point.
#pragma once

#include <cstddef>
#include <cstdint>

#include "extract/extract.h"
#include "platform/whole_file.h"

namespace qm::extract {

// Every name the library makes for a whole package starts so: ".qm" and the byte 0x7F,
// which no member name may hold (a control character), so no package can write, and no
// sweep of the whole-file write's temporaries takes (they end in "~").
constexpr char kStagedPrefix[] = ".qm\x7f";

struct StagedMember {
    enum class Kind : uint8_t {
        None,       // nothing to do: kept, already there, or a later member of the name writes it
        Way,        // only the directories on the way (a later member of the same name writes the file)
        NewFile,    // a file made where nothing was
        Replace,    // the file (or link) at the name replaced; the old one kept at the backup name
        Directory,  // the member's own directory made
    };
    Kind kind = Kind::None;
    bool read_only = false;  // Replace: the old file was read-only
    int16_t made_from = -1;  // Way, NewFile: the directories on the way made from this component on
    uint16_t aside_dir = 0;  // the staged file's directory: the name's first aside_dir characters (0: the target)
    uint32_t index = 0;      // the member's place in the package: names its staged file and backup
    const char* name = nullptr;
};

// The staged file's path: kStagedPrefix, the expansion's tag, "." and the index in hex,
// in its directory; the backup's: the same with ".old". False when it does not fit size.
bool staged_path(const StagedMember& m, const char* tag, char* out, size_t size) noexcept;
bool backup_path(const StagedMember& m, const char* tag, char* out, size_t size) noexcept;

// The member given its name, in two steps. commit_way, in member order before anything
// is staged: the directories on its way made, or its own directory. commit_name, once
// every member is staged, in any order and on any thread (no two members write one
// name): its staged file placed, a replaced one kept at the backup name. Each gives the
// outcome and, for a failure, the message of the step that failed, as a walk's member.
Extraction commit_way(const StagedMember& m) noexcept;
Extraction commit_name(const StagedMember& m, const char* tag, plat::WholeFileScope* scope) noexcept;

// What the member changed taken back, in reverse member order, as far as the disk shows
// it was done (committed: the staged file gone; never more than that). Before any name
// was given (committing false), its staged file and the directories made for it go.
// True when nothing of it is left; a directory that holds what others put there is
// left, and counts as undone.
bool undo_staged(const StagedMember& m, const char* tag, bool committing, plat::WholeFileScope* scope) noexcept;

// Once every member is committed: the backup of a replaced file let go. True when
// nothing of ours is left. look_at_way: not through a link on the way (a later call,
// for which the way may have changed since the commit).
bool finish_staged(const StagedMember& m, const char* tag, bool look_at_way) noexcept;

}  // namespace qm::extract
