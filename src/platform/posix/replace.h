// A file replaced as a whole: the new content goes into a temporary file beside the
// target and takes the target's name only once it is complete and on disk, so a crash,
// a full disk or any other failure leaves the old file (or no file) and never a part.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "platform/fs.h"

namespace qm::plat {

class ReplacingFile {
public:
    ReplacingFile() noexcept = default;
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;
    ~ReplacingFile();  // an uncommitted temporary file is removed

    // Starts the temporary file for target (a native path). 0 or error number.
    int open(const char* target) noexcept;
    int write(const void* data, size_t size) noexcept;
    // Flushes the new content to disk, gives it mode (permission bits) when not null and,
    // when mtime is not null, that last-write time, then renames it over the target. 0 or error
    // number; on failure the target is untouched and the temporary file is gone.
    int commit(const mode_t* mode, const int64_t* mtime) noexcept;

private:
    void discard() noexcept;
    OutFile out_;
    char target_[4096] = {};
    char temp_[4096] = {};
    bool pending_ = false;
};

}  // namespace qm::plat
