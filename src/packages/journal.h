// The journal of a whole-package expansion (transaction.h): written into the target
// before anything there changes, and what a later call reads back from one that an
// ended call left. It holds how far the call got and, for every member that changes
// something, its record (extract/staged.h), which is all an undo or a finish needs.
//
// The text, one line each ("\n"):
//   quillmar journal 1
//   state S                S: s staging, c committing, d committed (written in place)
//   tag TTTT               the call's tag in the names of its staged files and backups
//   K INDEX MADE DIR RO NAME   per member: K w (way) n (new file) r (replace) d (directory),
//                          INDEX in hex, MADE the first directory made (-1: none), DIR the
//                          staged file's directory (the name's first DIR characters), RO 1
//                          when a replaced file was read-only, NAME the member's name
//   end
// Names hold no control character (the verdict refuses them), so a line stays a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "extract/staged.h"

namespace qm::packages {

// The journal's name in the target: the staged files' prefix (no package can write it),
// and nothing a sweep of the whole-file write's temporaries takes.
constexpr char kJournalName[] = ".qm\x7fjournal";

enum class JournalState : char { Staging = 's', Committing = 'c', Committed = 'd' };

// Where the state byte is in the text.
int64_t journal_state_offset() noexcept;

// The text for members (those of kind None left out), in state Staging. May throw
// std::bad_alloc.
std::string journal_text(const char* tag, const std::vector<extract::StagedMember>& members);

// A journal read back: its state, tag and members, whose names point into text (which
// the parse changes: each name ends at its line's end).
struct Journal {
    JournalState state = JournalState::Staging;
    char tag[8] = "";
    std::vector<extract::StagedMember> members;
};
// False when text is not a whole journal of ours (cut short, another format, a name that
// could not be a member's). May throw std::bad_alloc.
bool parse_journal(std::string& text, Journal* out);

}  // namespace qm::packages
