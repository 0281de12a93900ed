// The runtime's text streams as the file utilities use them: "r" for reading a text and
// "a+" for appending to one, both without sharing restrictions.
//
// On Windows these are the runtime's own streams: a carriage return and line feed pair
// reads as one line feed, a line feed is written as the pair, and a byte 0x1A ends
// what is read. On POSIX the line end is the platform's: a pair still reads as one line
// feed, but a line feed is written as itself; 0x1A ends what is read there too.
//
// Opening for appending removes one end-of-file mark (0x1A) that ends an existing file,
// on both sides: the Windows runtime does it itself, but not every runtime that stands
// in for it does (Wine's does not), so it is done here explicitly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/result.h"
#include "platform/side.h"
#include "platform/unique_handle.h"

namespace qm::plat {

// What names one file, whatever path reached it (volume and file index on Windows,
// device and inode on POSIX).
struct FileId {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileId& o) const noexcept { return volume == o.volume && index == o.index; }
};

// A text read from its start (mode "r").
class TextIn {
public:
    CallResult open(const char* path) noexcept;  // FileStep::Open
    // Up to size bytes of text (fread); fewer at the end or after an error.
    size_t read(char* buffer, size_t size) noexcept;
    bool eof() const noexcept;
    bool error() const noexcept { return std::ferror(stream_.get()) != 0; }
    bool identity(FileId* out) const noexcept;
    bool close() noexcept { return stream_.reset(); }

private:
    unique_stream stream_;
    TextInState state_;
};

// A text appended to (mode "a+"): created when absent, every write at its end.
class TextAppend {
public:
    CallResult open(const char* path) noexcept;  // FileStep::Open
    size_t write(const char* data, size_t size) noexcept {
        return std::fwrite(data, 1, size, stream_.get());
    }
    bool identity(FileId* out) const noexcept;
    bool close() noexcept { return stream_.reset(); }

private:
    unique_stream stream_;
};

}  // namespace qm::plat
