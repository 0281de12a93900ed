// A file written whole: under its name there is only ever the old file or the complete
// new one (data, mode, times), whatever interrupts the write. Extraction, the guarded
// copy, the gateway's copies, the POSIX INI engine and the packer all write through it.
//
// A write is two steps. Staging puts the data, mode and times on a file that no reader
// takes for the one it becomes: on POSIX an unnamed file in its directory; on Windows a
// temporary beside the name, open without sharing and marked for deletion until it is
// named. Publishing only gives the staged file its name: a new file with a link or a
// rename that never replaces (a name taken meanwhile is kEEXIST); a replaced file with
// a rename over the old one that keeps the old file's identity (Windows: ReplaceFileA;
// POSIX: owner, group and mode carried over, the content flushed first, the rename made
// durable). Where another program holds the old file so that it cannot be replaced, the
// complete content is written into it in place. The steps may run on different threads,
// one at a time for a given object: begin, write and stage on a worker, publish on the
// thread that names files in order.
// Temporaries carry a name made from the file's, so the next write of that file finds
// one a killed run left, and removes it unless a running writer still holds it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <unordered_set>

#include "platform/fileops.h"
#include "platform/fs.h"
#include "platform/side.h"

namespace qm::plat {

// How the written file ends.
struct WholeFileEnd {
    enum class Mode {
        // A new file gets the platform's default, a replaced one keeps its own.
        Keep,
        // As the runtime's chmod with `mode` (only the owner-write bit counts) followed
        // by the reset to normal attributes leaves it: writable, and without the group's
        // and others' write bits when `mode` lacks the owner-write bit. Starts from the
        // default of a new file, or from the mode of the file it replaces.
        Runtime,
        // Exactly `mode`: the permission bits on POSIX, the attributes on Windows.
        Exact,
    };
    Mode mode_kind = Mode::Keep;
    unsigned mode = 0;

    enum class Times {
        Keep,     // whatever the write left
        Seconds,  // access and last-write time `seconds`, converted as the runtime's utime does
        Exact,    // `times` (a creation time of 0 is left as it is)
    };
    Times times_kind = Times::Keep;
    int64_t seconds = 0;
    FileTimes times;
};

// The directories one walk writes into (a package operation, a guarded copy's pattern,
// the gateway's set-up), shared by the writes begun with it, from any number of
// threads: each directory is searched for the temporaries that ended runs left once in
// the scope's life, whatever the order of the writes, and the side keeps what makes the
// next write into a directory cheap (POSIX: the directories, open). Relative names are
// taken from the current directory, which must not change within a scope.
class WholeFileScope {
public:
    // How a replacement's content reaches the disk before the rename that gives it the
    // old file's name (the same promise either way: after a crash the name holds the old
    // file or the whole new one).
    enum class Durability {
        // Each replacement is flushed on its own when staged, and its directory after
        // the rename: what a single write or a caller that names files as it writes them
        // needs.
        EachFile,
        // One flush serves every file staged before it began: a caller that stages many
        // files before it names them (an expansion's window, or a whole package) pays
        // for one. POSIX: the file system the scope's first directory is on is synced
        // once (syncfs), when the first replacement staged since the last sync is named
        // or flush() asks; files elsewhere flush on their own. Windows: each staged file
        // that will replace one is flushed by its stage, on the thread that stages it,
        // so the renames in order only wait for what is not flushed yet. The names given
        // since the last sync are made durable when the scope ends.
        Batched,
    };

    explicit WholeFileScope(Durability durability = Durability::EachFile) noexcept;
    WholeFileScope(const WholeFileScope&) = delete;
    WholeFileScope& operator=(const WholeFileScope&) = delete;
    ~WholeFileScope();

    // The first time the directory of path is met: removes the temporaries there that
    // no running writer holds. The next write of a file finds its own temporary anyway;
    // this finds one whose file was written anew in the meantime (the run ended after
    // the old file had gone and before the new one took its name).
    void sweep_once(const char* path) noexcept;

    bool batched() const noexcept { return durability_ == Durability::Batched; }
    // Batched: every file staged within the scope until now is on disk when this answers
    // 0 (a batch of any size: what a caller that stages a whole package before naming
    // any of it calls between the two). Otherwise the error number of the flush; each
    // replacement then flushes itself when it is named, and reports its own failure.
    int flush() noexcept;
    // Batched: stages look at the name first, so that a replacement is readied as one
    // where it is staged (POSIX: the old file's owner, group and mode; Windows: flushed)
    // and its naming does not first try to take the name as new. Turned on by the scope
    // itself once a staged file finds its name taken, and off again after a run of
    // names found free; a caller that knows it replaces can say so first.
    void expect_replacements() noexcept;
    bool expects_replacements() const noexcept;
    // What a stage's look at a name found, for the scope's own judgement.
    void name_seen(bool taken) noexcept;

    // The side's own part, which it guards itself.
    WholeFileScopeState& side() noexcept { return side_; }

private:
    const Durability durability_;
    std::mutex mutex_;  // swept_, and one sweep at a time
    // The directories swept, by a 64-bit hash of their path: a lookup per write costs no
    // allocation, and two directories sharing a hash only cost a sweep not made.
    std::unordered_set<uint64_t> swept_;
    // How many more stages look at the name before they stop: reset to the run length
    // whenever a name is found taken.
    std::atomic<int> looks_left_{0};
    WholeFileScopeState side_;
};

class WholeFile {
public:
    enum class Intent {
        New,      // nothing is expected at the name: kEEXIST (at begin or publish) when something is
        Replace,  // whatever regular file is at the name is replaced (or the name created)
    };

    WholeFile() noexcept = default;
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;
    ~WholeFile();  // an unpublished file leaves nothing behind

    // Starts writing path, within scope (null: the write on its own). 0, or the error
    // number: kENOENT when its directory is missing; kEEXIST (Intent::New) when
    // something already has the name, found here or only at publish, depending on the
    // platform. With no_links_on_the_way, a relative path whose directory part passes
    // through a link is refused (an error) where the platform can tell at the create
    // itself (Linux, openat2); callers that must never write through one look the way up
    // themselves before (extraction does on both sides: extract/member.h).
    int begin(const char* path, Intent intent, WholeFileScope* scope, bool no_links_on_the_way = false) noexcept;
    // Starts writing path's content into a file of the caller's name aside (a name that
    // nothing has, in a directory that is there), created under that name at once:
    // publish then only ends the write, and the file stays under aside, closed, for
    // place_aside to give it path later. A whole package is staged this way before any
    // member takes its name, without an open file per member. Intent::Replace: aside is
    // beside path, and the file takes the identity of the one at path as a replacement
    // does (and is flushed when staged; in a batched scope, by the scope's flush()). The
    // way to aside is opened refusing a link on it where the platform can tell (as
    // begin's no_links_on_the_way). Until published, a failure or discard() removes it.
    int begin_aside(const char* path, const char* aside, Intent intent, WholeFileScope* scope) noexcept;
    // After begin_aside: what the caller's own look at path found (known), which the
    // replacement takes over instead of looking again.
    void found_at_name(const OwnerLook& owner) noexcept;
    int write(const void* data, size_t size) noexcept;
    // Gives the unnamed file its end state; a replacement is also flushed to disk, or in
    // a batched scope made ready for the flush its naming waits for (a new file is not:
    // until it has its name it is not there, and after a crash that loses its data it
    // still carries its source's time, never a newer one). A replacement takes the
    // owner, group and mode of the file at the name now: a caller that replaces a name
    // an earlier write of its own makes stages it after that one is published. A new
    // file staged in a scope that expects replacements looks at its name first, and
    // where that is taken is readied as the replacement it will likely become.
    CallResult stage(const WholeFileEnd& end) noexcept;
    // Gives the staged file its name. After an Intent::New publish that failed with
    // kEEXIST at Place, holds_content() tells whether publish_replacing() may put the
    // same content over what is there without writing it again. A new file whose stage
    // found the name taken answers kEEXIST without trying. A replacement's data is on
    // disk before its name is (a flush failing here is the Write step's failure, and the
    // fault hook's Rename step comes after that flush).
    CallResult publish() noexcept;
    bool holds_content() const noexcept;
    // What has the name now, a link there not followed: 0, or the error number (kENOENT
    // when nothing has it). Looked at relative to the directory the write holds, so a
    // replacement that follows takes the old file's identity from this same look.
    int look(PathStat* out) noexcept;
    // look(), or what the stage's own look found where that found the name taken and the
    // caller knows that none of its own writes had that name since (kept_serves): one
    // look per replaced file, not two. Another process's change in between goes unseen,
    // as one between the look and the rename always does. The kept look serves once.
    int look_since_stage(PathStat* out, bool kept_serves) noexcept;
    // Whether every directory on the way to the name was proven one, no link among them,
    // when the write began (the directory opened refusing links: Linux), so that a
    // look-up of what has the name need not walk the way again.
    bool way_proven() const noexcept;
    // The file look() found made writable as the runtime's chmod does (only the owner-
    // write bit of mode counts), before it is replaced: 0 or the error number. Relative
    // to the directory the write holds, from the mode that look found.
    int make_writable(unsigned mode) noexcept;
    CallResult publish_replacing() noexcept;
    // stage, then publish, for callers that name files where they write them.
    CallResult commit(const WholeFileEnd& end) noexcept;
    // Drops an unpublished file.
    void discard() noexcept;

private:
    int open_side(const char* path, Intent intent, WholeFileScope* scope, bool no_links_on_the_way) noexcept;
    int open_aside(const char* path, const char* aside, WholeFileScope* scope) noexcept;
    // What both begins do first: the last write let go, and the create's fault step; 0 to go on.
    int start(Intent intent, WholeFileScope* scope) noexcept;
    CallResult keep_aside() noexcept;  // the publish of a file staged aside: it stays there
    CallResult settle(bool replacing) noexcept;  // mode, times, flush (or the batch's ticket)
    bool look_at_name() noexcept;  // whether something has the name now
    bool kept_look(PathStat* out) noexcept;  // the stage's look once more, where the side keeps it
    int make_durable() noexcept;   // a replacement's data on disk, before its rename
    CallResult name_new() noexcept;
    CallResult name_replacing() noexcept;
    CallResult write_in_place() noexcept;  // Windows
    CallResult fail(FileStep step, int error) noexcept;
    // The step a test may fail or end the process at, just before the file is named
    // (after the flush a replacement waits for); once per write.
    int naming_fault() noexcept;

    WholeFileHandles handles_;  // the side's own: the file and what its names are relative to
    WholeFileScope* scope_ = nullptr;
    WholeFileEnd end_;
    Intent intent_ = Intent::New;
    bool staged_ = false;      // stage succeeded; nothing named yet
    bool unnamed_ = false;     // POSIX: the file has no name yet
    bool temp_named_ = false;  // a temporary of that name exists: temp_
    bool fallback_ = false;    // POSIX: no unnamed files on this file system
    bool timed_ = false;       // the end's times are on the file
    bool tried_ = false;       // publish was tried once (the fault hook sees the first try only)
    bool aside_ = false;       // staged under temp_, the caller's name (begin_aside), and kept there
    bool name_taken_ = false;  // the stage found the name taken: readied as a replacement
    bool look_kept_ = false;   // and what it found is still at hand for look_since_stage
    WholeFileState side_;      // what the side knows of the file and its durability
    // Filled by begin before any use; left uninitialised, since clearing 8 KiB per file
    // shows in an expansion of many small files.
    char path_[4096];
    char temp_[4096 + 32];
};

// CopyFileA(from, to, FALSE) in two steps: stage writes the whole of from onto a file
// of to's that has no name yet, with the source's attributes (POSIX: mode) and times
// (as they are after the copy read it: no copy of the times is needed after it);
// publish gives it the name to, replacing what is there. A failed or interrupted copy
// leaves to as it was, a replaced to keeps its identity, and a link at to is replaced,
// never written through. A read-only destination (POSIX: without the owner-write bit)
// and a directory are not replaced, and a file is never copied onto itself (each a
// failure at Open). Stage may run on a worker, publish on the thread that names the
// copies in order; within scope as a write is (null: on its own).
// A copy that fails lets go of what it wrote at once, so that its room is free for the
// copies after it.
class FileCopy {
public:
    CallResult stage(const char* from, const char* to, WholeFileScope* scope) noexcept;
    CallResult publish() noexcept;
    // Drops a staged copy: to stays as it was.
    void discard() noexcept { out_.discard(); }

private:
    CallResult stage_side(const char* from, const char* to, WholeFileScope* scope) noexcept;
    WholeFile out_;
};

// Both steps at once, for a copy named where it is written.
CallResult copy_file_replace(const char* from, const char* to, WholeFileScope* scope = nullptr) noexcept;

// A whole package's commit and undo (extract/staged.h), relative to the current
// directory; within scope, every directory is reached as the writes reach theirs (on
// Linux opened refusing a link on the way). Each is one step of the fault hook's Rename.
//
// The file staged at aside (WholeFile::begin_aside) given the name path, never replacing
// what has it (kEEXIST at Place).
CallResult place_aside(const char* aside, const char* path, WholeFileScope* scope) noexcept;
// The same over the file (or link) at path, which goes to backup meanwhile: the old file
// itself, with its content, times, attributes and identity, kept there until remove_ours
// lets it go or restore_backup puts it back. Under path there is always the old file or
// the new one. The new file ends with the attributes end asks for (Windows), as a
// replace leaves them; a read-only old file is made writable first where the platform's
// replace needs it (Windows), which restore_backup takes back.
CallResult place_aside_replacing(const char* aside, const char* path, const char* backup, const WholeFileEnd& end,
                                 WholeFileScope* scope) noexcept;
// What place_aside_replacing did, taken back: the old file at backup under path again
// (replacing what path holds now), and read_only again (the old file was, and the
// replace may have made it writable). A backup that is not there leaves path as it is
// but for its read-only state: ok.
CallResult restore_backup(const char* backup, const char* path, bool read_only, WholeFileScope* scope) noexcept;
// Removes a file of the library's own (a staged file, a backup, a file an undone commit
// made), whatever its attributes; a name that is not there is ok.
CallResult remove_ours(const char* path) noexcept;

// The k-th name a temporary for path may take, in path's directory: ".qm", eight hex
// digits made from the file name, "~" and, from the second on, k. Both "\\" and "/"
// separate. False when it does not fit size.
bool whole_file_temp_name(const char* path, unsigned k, char* out, size_t size) noexcept;

}  // namespace qm::plat
