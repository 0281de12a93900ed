// Package removal, as the install script sees it: every file the package carries that
// is still as the package holds it (size, bytes and time) is removed, and then every
// directory that leaves empty; a file the user changed since stays, and nothing is ever
// looked at or removed through a link. The removal and its plan (quillmar plan --remove)
// are one walk over the package, decided member by member by decide_removal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "extract/verdict.h"
#include "packages/expand.h"
#include "platform/removable.h"
#include "platform/result.h"
#include "session/status.h"
#include "tar/tar.h"

namespace qm::packages {

// Removes from target (which becomes the current directory) what package installed
// there. 0 when everything the package carried is gone, the number of its files kept
// otherwise, -1 when the package cannot be loaded or the target cannot be entered
// (nothing is removed; the last error says why).
int RemovePackage(const char* package, const char* target) noexcept;

// What becomes of one thing a package carries: a file member, a member refused, or a
// directory (one the package names, or one on a member's way).
enum class RemovalAction {
    Remove,       // a file as the package holds it: removed
    KeepChanged,  // a file the user changed since (bytes, size, time, read-only), or something else at its name
    KeepLink,     // a link at its name or on its way: never followed
    Missing,      // nothing at its name: gone already
    Superseded,   // another copy of the name is the one an expansion leaves
    Refuse,       // a member the expansion refuses (an unsafe name, ...): never acted on
    Fail,         // it cannot be looked at or removed (held open by another program, no right)
    RemoveDir,    // a directory left empty: removed
    KeepDir,      // a directory that holds something else, or something else at its name
};

// "remove", "keep-changed", "keep-link", "missing", "superseded", "refuse", "fail",
// "remove-dir", "keep-dir".
const char* removal_action_name(RemovalAction a) noexcept;

// Everything decide_removal is told: what the walk knows of one thing the package
// carries, and what looking at the target found there.
struct RemovalLook {
    const tar::TarEntry* entry = nullptr;  // a member (for a directory: one standing for it)
    bool directory = false;                // a directory
    bool superseded = false;               // a file member whose name an expansion leaves to another copy
    bool reader_refused = false;           // the header the reader refused, which ended the walk
    const char* reader_message = "";       // then the reader's text
    extract::OnDisk disk;                  // at its name and on its way (extract::look_up_member)
    // A file at the name, opened (never through a link) and looked at.
    struct Seen {
        plat::CallResult opened;  // it could not be opened
        bool link = false;          // a link had the name after all
        bool regular = true;
        bool read_only = false;
        int64_t size = 0;
        int64_t mtime = 0;
        bool compared = false;  // its bytes were read (only when everything else matches)
        bool same_bytes = false;
        plat::CallResult read;  // reading them failed
    } file;
    // A directory at the name: whether it holds anything this removal leaves there, and
    // the first such entry's name.
    bool holds_other = false;
    char other[256] = "";
    plat::CallResult listing;  // it could not be listed
};

struct RemovalVerdict {
    RemovalAction action = RemovalAction::Remove;
    // Why, in a line; for Refuse the text the expansion shows the user.
    char reason[tar::kMessageSize] = "";
    unsigned long code = 0;  // a failure's Win32 code, for the last error; 0 for none
    bool keeps_file = false;  // a file of the package stays: counted in RemovePackage's result
};

// The one decision of what becomes of a thing the package carries, pure: the removal acts
// on it, the plan reports it.
RemovalVerdict decide_removal(const RemovalLook& look) noexcept;

// What a verdict adds to the call's status: its failure's code, and for a refusal the
// text an expansion would show (the first one added is the box's).
session::Status removal_status(const RemovalVerdict& v) noexcept;

// One thing the walk decided (and, removing, did): file members and refused members in
// package order, then the directories, each after the ones inside it.
struct RemovalStep {
    const char* name;                      // the member's name; a directory's path, ending in "/"
    const tar::TarEntry* entry = nullptr;  // the member; null for a directory
    RemovalVerdict verdict;                // after the act: a delete that failed is Fail
};
struct RemovalObserver {
    void (*step)(void* context, const RemovalStep& s) noexcept;
    void* context;
};

struct RemovalWalk {
    tar::Ending end;
    bool out_of_memory = false;  // the walk could not hold the package's names; it stopped
};

// Decides everything the opened package c carries against the target at base ("": the
// current directory), in the order above, and hands each step to observer; act removes
// what is decided so (the removal), otherwise nothing is changed (the plan). A directory
// is decided with what the files before it came to, done or foreseen.
RemovalWalk remove_members(tar::TarContext* c, const char* base, bool act, const RemovalObserver& observer) noexcept;
// How the walk ended, for the log (into out), and what that adds to the call's status: a
// damaged or nameless header, or no memory for the names, is a failure of the call.
void describe_removal_end(const tar::TarContext* c, const RemovalWalk& w, char* out, size_t size,
                          session::Status& st) noexcept;

// RemovePackage with an observer of its steps (null: none) and the package's outcome.
int remove_package_observed(const char* package, const char* target, const RemovalObserver* observer,
                            PackageOutcome* outcome = nullptr) noexcept;

}  // namespace qm::packages
