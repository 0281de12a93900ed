// A file written whole: under its name there is only ever the old file or the complete
// new one (data, mode, times), whatever interrupts the write. Extraction, the guarded
// copy, the gateway's copies and the POSIX INI engine all write through it.
//
// A new file is written where nobody sees it until it is complete: on POSIX an unnamed
// file in its directory, linked in at the end; on Windows the file itself, opened
// without sharing and created with attributes that mark it unfinished until its data
// and times are on it (win32/ntfile.h): a file a dying process left still carries the
// mark, is reported as older than anything, and the next write of the name replaces it.
// A replaced file is written into a temporary beside it, flushed to disk, and put in
// its place keeping the old file's identity (Windows: ReplaceFileA; POSIX: owner, group
// and mode carried over, the rename made durable). Where another program holds the old
// file so that it cannot be replaced, the complete content is written into it in place.
// Temporaries carry a name made from the file's, so the next write of that file finds
// one a killed run left, and removes it unless a running writer still holds it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/fileops.h"
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

// Which step failed, for callers that report each in its own words.
enum class WholeFileStep { None, Create, Write, Mode, Time, Place };

struct WholeFileResult {
    WholeFileStep step = WholeFileStep::None;
    int error = 0;  // C runtime numbering (errors.h)
    bool ok() const noexcept { return error == 0; }
};

class WholeFile {
public:
    enum class Intent {
        New,      // nothing is expected at the name: kEEXIST (at begin or commit) when something is
        Replace,  // whatever regular file is at the name is replaced (or the name created)
    };

    WholeFile() noexcept = default;
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;
    ~WholeFile();  // an uncommitted file leaves nothing behind

    // Starts writing path. 0, or the error number: kENOENT when its directory is
    // missing; kEEXIST (Intent::New) when something already has the name, found here or
    // only at commit, depending on the platform. With no_links_on_the_way, a relative
    // path whose directory part passes through a link is refused (an error) where the
    // platform can tell at no cost (Linux); callers that must never write through one
    // look the way up themselves as well.
    int begin(const char* path, Intent intent, bool no_links_on_the_way = false) noexcept;
    int write(const void* data, size_t size) noexcept;
    // Gives the file its end state and puts it in place. After an Intent::New commit
    // that failed with kEEXIST at Place, holds_content() tells whether commit_replacing()
    // may put the same content over what is there without writing it again.
    WholeFileResult commit(const WholeFileEnd& end) noexcept;
    bool holds_content() const noexcept;
    WholeFileResult commit_replacing(const WholeFileEnd& end) noexcept;
    // Drops an uncommitted file.
    void discard() noexcept;

private:
    int open_side(const char* path, Intent intent, bool no_links_on_the_way) noexcept;
    WholeFileResult place(const WholeFileEnd& end, bool replacing) noexcept;
    WholeFileResult write_in_place(const WholeFileEnd& end) noexcept;  // Windows
    int dir() const noexcept;                                           // POSIX

    WholeFileHandles handles_;  // the side's own: the file and what its names are relative to
    Intent intent_ = Intent::New;
    bool unnamed_ = false;     // POSIX: the file has no name yet
    bool temp_named_ = false;  // a temporary of that name exists: temp_
    bool fallback_ = false;    // POSIX: no unnamed files on this file system
    bool timed_ = false;       // the end's times are on the file (a commit that found the name taken)
    // Filled by begin before any use; left uninitialised, since clearing 8 KiB per file
    // shows in an expansion of many small files.
    char path_[4096];
    char temp_[4096 + 32];
};

// For the life of the object (one package operation, whose current directory stays
// put), the directory that files were last written into with no_links_on_the_way is
// kept open, so the next file there is created and named without walking its path
// again. Without a scope each write opens its directory for itself. The current
// directory must not change within a scope; leaving it closes what it kept.
class WholeFileDirectoryScope {
public:
    WholeFileDirectoryScope() noexcept;
    ~WholeFileDirectoryScope();
    WholeFileDirectoryScope(const WholeFileDirectoryScope&) = delete;
    WholeFileDirectoryScope& operator=(const WholeFileDirectoryScope&) = delete;
};

// The k-th name a temporary for path may take, in path's directory: ".qm", eight hex
// digits made from the file name, "~" and, from the second on, k. Both "\\" and "/"
// separate. False when it does not fit size.
bool whole_file_temp_name(const char* path, unsigned k, char* out, size_t size) noexcept;

}  // namespace qm::plat
