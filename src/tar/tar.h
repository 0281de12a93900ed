// The package format: the header block as the format lays it out, its decoding and
// checksum, and the walk from one header to the next with its end rules. This side only
// reads: the package is loaded whole into memory once, and nothing here looks at or
// writes the target; what a member does to the disk is src/extract.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qm::tar {

constexpr int kMessageSize = 256;
constexpr int kNameSize = 1024;
constexpr int kBlock = 512;
// The longest package the reader takes: its image is addressed by 32-bit signed offsets.
constexpr int64_t kMaxPackageSize = INT32_MAX;

// One header block, field by field, as a writer lays it out.
struct TarHeaderBlock {
    unsigned char name[100];
    unsigned char mode[8];
    unsigned char uid[8];
    unsigned char gid[8];
    unsigned char size[12];
    unsigned char mtime[12];
    unsigned char chksum[8];
    unsigned char typeflag;
    unsigned char linkname[100];
    unsigned char magic[6];
    unsigned char version[2];
    unsigned char uname[32];
    unsigned char gname[32];
    unsigned char devmajor[8];
    unsigned char devminor[8];
    unsigned char prefix[155];
    unsigned char pad[12];
};
static_assert(sizeof(TarHeaderBlock) == kBlock, "a header is one block");

// The fields of the runtime's file-status record that a header fills. Values are kept
// as read, so a field that read as -1 stays -1 (extraction refuses what it cannot honour
// rather than the walk guessing).
struct TarStatus {
    uint16_t mode = 0;  // low 12 bits of the header mode
    int16_t uid = 0;
    int16_t gid = 0;
    int64_t size = 0;
    int64_t mtime = 0;
};

// One decoded header. Its addresses point into the loaded package and stay valid while
// the context that decoded it lives.
struct TarEntry {
    char name[kNameSize] = {};
    char type = 0;
    TarStatus status;
    const unsigned char* data = nullptr;      // first data byte
    int64_t available = 0;                    // bytes the package holds from data on
    int64_t offset = 0;                       // of the header block in the package
    const TarHeaderBlock* header = nullptr;   // the block as it was read
};

// A directory member: type '5', or type NUL with a name ending in "/".
bool TarIsDirectory(const TarEntry& e) noexcept;

// An octal field of width characters: the value, or -1 for a field that holds none.
int64_t TarReadOctal(int width, const unsigned char* text) noexcept;

enum class TarChecksum { Match = 0, Blank = 2, Mismatch = -1 };
// Writers sum the bytes as unsigned or as signed; either sum is accepted. A block whose
// bytes outside the checksum field are all zero is blank, whatever that field holds.
TarChecksum TarVerifyChecksum(const TarHeaderBlock& block) noexcept;

// The header's fields into e, as read and unchecked (the name joined with a POSIX ustar
// prefix); data, available, offset and header are left to the caller.
void TarDecodeHeader(const TarHeaderBlock& block, TarEntry* e) noexcept;

// What a package writer puts into one header.
struct TarHeaderFields {
    const char* path;  // "/"-separated; a directory's ends in "/"
    char type;         // '0' or '5'
    unsigned mode;
    int64_t size;
    int64_t mtime;
};
// A POSIX ustar header (owner and group 0, no owner names) for fields: a path that does
// not fit the name field goes into prefix and name, split at a "/". False when it fits
// neither, or a number does not fit its field; block is then unspecified.
bool TarEncodeHeader(const TarHeaderFields& fields, TarHeaderBlock* block) noexcept;

// One open package: the file loaded whole, and the walk's place in it. Opaque: only the
// reader looks inside.
struct TarContext;
struct TarDestroyer {
    void operator()(TarContext* c) const noexcept;
};
using TarContextPtr = std::unique_ptr<TarContext, TarDestroyer>;

// A new cleared context, or null when it cannot be allocated.
TarContextPtr TarCreate() noexcept;
void TarDestroy(TarContext* c) noexcept;

// What became of a package at TarOpen.
enum class TarLoad {
    Loaded,       // in memory, its first header read and current
    Missing,      // no file of that name
    CannotOpen,   // there, but it cannot be opened (permission, name too long, ...)
    NotAFile,     // a directory, a FIFO, a device: never read
    TooSmall,     // shorter than one block
    TooLarge,     // longer than the reader takes (kMaxPackageSize)
    NoMemory,     // the memory for the whole file cannot be had
    ReadError,    // its size or its bytes cannot be read
    Changed,      // another program changed it while it was read: not walked
    NoHeader,     // the first block is blank or damaged: nothing to install
    RefusedType,  // the first header has a type the reader refuses
};
// Opens and loads the package at path and reads its first header. Every failure but
// NoHeader leaves a message.
TarLoad TarOpen(TarContext* c, const char* path) noexcept;
// The code a load that failed leaves as the last error (Win32 numbering): the failing
// open's or read's own, 2 for a missing package, 5 for one that is not a file, 8 for one
// too large for memory, 223 for one too large for the reader, 32 for one another program
// changed while it was read, 13 for one with no usable first header; 0 once loaded.
unsigned long TarLoadCode(const TarContext* c) noexcept;
// The package file's size as found by TarOpen (0 before it was found).
int64_t TarPackageSize(const TarContext* c) noexcept;

enum class TarStep {
    Member,   // the next header is current
    End,      // the walk ended without a word: the end of the archive, a blank or damaged
              // block, a header with an empty name, or no whole block left
    Stopped,  // a header with a refused type: the walk ends with a message
};
// Moves past the current member's data to the next header.
TarStep TarNext(TarContext* c) noexcept;
// The current header (a cleared entry once the walk has ended).
const TarEntry& TarCurrent(const TarContext* c) noexcept;
// The last message, never null; empty when there is none.
const char* TarMessage(const TarContext* c) noexcept;

// Why a walk ended.
struct Ending {
    enum class Kind {
        PackageEnd,   // no whole block left after the last member
        EndBlock,     // a blank block: the end-of-archive marker
        Damaged,      // a header whose checksum does not match
        Nameless,     // a header with an empty name
        RefusedType,  // a header type the reader refuses: the walk stops with a message
        Halted,       // the walker stopped at the current member (walk.h)
    };
    Kind kind = Kind::PackageEnd;
    int64_t offset = 0;                     // of the block the walk ended at (Halted: the member's header)
    const TarHeaderBlock* block = nullptr;  // that block; null at PackageEnd
    // Whether the walk ended with the reader's message to the user (TarMessage).
    bool stopped() const noexcept { return kind == Kind::RefusedType; }
};
// Where and why the walk ended (valid once TarNext gave End or Stopped).
Ending TarWhyEnded(const TarContext* c) noexcept;
// The header whose refused type stopped the walk, decoded as read (with its offset); a
// cleared entry when the walk did not stop so.
TarEntry TarStoppedAt(const TarContext* c) noexcept;

// Valid headers with a name in the whole blocks after offset: members that a walk which
// ended at offset never reaches. The first one's name goes to first_name.
int64_t TarHeadersAfter(const TarContext* c, int64_t offset, char* first_name, size_t size) noexcept;

// Formats into a 256-byte message buffer, cut to fit.
#if defined(__MINGW32__)
#define QM_PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define QM_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define QM_PRINTF_LIKE(f, a)
#endif
void TarFormat(char* message, const char* fmt, ...) noexcept QM_PRINTF_LIKE(2, 3);

}  // namespace qm::tar
