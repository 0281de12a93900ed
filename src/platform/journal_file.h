// The journal a whole-package expansion keeps in its target (packages/journal.h): a
// small file of the library's own, made for the caller alone (POSIX 0600; Windows a
// protected DACL for the caller and the administrators), never through a link nor over
// anything at its name, held while its call runs so that no other process takes it for
// the journal of a call that ended (POSIX: locked; Windows: open without sharing), and
// read back only when it is a regular file with one name (POSIX: of the caller's own).
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/result.h"
#include "platform/side.h"

namespace qm::plat {

class JournalFile {
public:
    JournalFile() noexcept = default;
    JournalFile(const JournalFile&) = delete;
    JournalFile& operator=(const JournalFile&) = delete;
    ~JournalFile();  // lets the journal go; the file stays

    // Makes the journal at path (nothing may have the name: kEEXIST at Create) holding
    // size bytes of data, flushed to disk, and holds it. It appears under its name
    // whole and held (POSIX), or is held from its creation on (Windows). Each call is one
    // step of the fault hook's Journal.
    CallResult create(const char* path, const void* data, size_t size) noexcept;

    enum class Found {
        Absent,   // nothing at the name
        Held,     // another process holds it: its call is under way
        Opened,   // held now by this one: read() it
        Refused,  // not a journal of ours (why: "a link", "a directory", ...)
        Failed,   // it could not be opened (error)
    };
    // The journal an earlier call left at path.
    Found open_existing(const char* path, int64_t* size, const char** why, int* error) noexcept;
    // The opened journal's first size bytes.
    CallResult read(void* out, size_t size) noexcept;
    // One byte of the held journal written at offset, and flushed: its state. One step
    // of the fault hook's Journal.
    CallResult mark(int64_t offset, char byte) noexcept;
    // Removes the held journal and lets it go. One step of the fault hook's Journal.
    CallResult remove() noexcept;

private:
    JournalFileState state_;  // the side's (platform/side.h)
    char path_[1024] = "";
};

}  // namespace qm::plat
