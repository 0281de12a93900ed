// A package expanded whole or not at all (QUILLMAR_WHOLE_PACKAGE, quillmar expand
// --whole), and what a later call does with one whose call was ended midway.
//
// The expansion decides every member before it writes anything (against the target and
// what the members before it will have made there) and refuses a package that would stop
// early, changing nothing. Then it writes a journal into the target (journal.h), stages
// every member under a name of ours (extract/staged.h: no open file per member), marks
// the journal committing, gives every member its name in member order (a replaced file's
// old one kept under a backup name), marks it committed, lets the backups go and removes
// the journal. A step that fails takes back everything the call changed: the target is as
// it was. A call ended at any instant leaves the journal, which the next expansion into
// the target (either mode) or `quillmar recover` acts on: staging or committing, it is
// undone (the old tree); committed, it is finished (the new tree).
#pragma once

#include <cstdint>

#include "packages/expand.h"
#include "session/status.h"
#include "tar/tar.h"

namespace qm::packages {

// Whether QUILLMAR_WHOLE_PACKAGE asks for whole packages, as the environment holds it
// now: blanks around the value dropped, any value but empty or "0" is yes.
bool whole_package_asked() noexcept;

// What became of a journal an ended expansion left in the current directory.
enum class Recovery {
    Nothing,   // there is none
    Undone,    // the target is as it was before that expansion
    Finished,  // every member had its name: only that expansion's backups were let go
    UnderWay,  // another process holds it: an expansion into the target is running
    Failed,    // it cannot be used, or not all of it was undone: it stays (the status says why)
};
// target names the current directory in texts.
Recovery recover_journal(const char* target, session::Status& st) noexcept;

// What a whole-package expansion came to, for the log.
struct WholeExpansion {
    int64_t written = 0, kept = 0;
    unsigned workers = 0;
    char outcome[tar::kNameSize + 128] = "";
};

// Expands the opened package c whole into the current directory (target names it in
// texts); failures go into st.
void expand_whole(tar::TarContext* c, const char* package, const char* target, const ExpandObserver* observer,
                  WholeExpansion& w, session::Status& st) noexcept;

// recover_journal before an expansion (whole: of a whole package, which another one under
// way refuses); false, with st set, when it cannot go on.
bool recover_before(const char* target, bool whole, session::Status& st) noexcept;

// recover_journal in target, which becomes the current directory, reported as an
// operation reports (the box, the log, the last error), for the command line.
Recovery RecoverTarget(const char* target) noexcept;

}  // namespace qm::packages
