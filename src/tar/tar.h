// The package archive reader: a whole tar package loaded into memory, its headers
// walked and checked one after another, each decoded header kept as a TarEntry in a
// chain owned by the TarContext. The reader never touches the disk beyond the one
// read of the package; writing members out is tar_extract.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "platform/fs.h"

namespace qm::tar {

constexpr int kMessageSize = 256;
constexpr int kNameSize = 1024;
constexpr int kBlock = 512;

// The fields of the runtime's file-status record that a header fills. Values are
// kept as read, so a field that read as -1 stays -1 (extraction refuses what it
// cannot honour rather than the walk guessing).
struct TarStatus {
    uint16_t mode = 0;  // low 12 bits of the header mode
    int16_t uid = 0;
    int16_t gid = 0;
    int64_t size = 0;
    int64_t mtime = 0;
};

struct TarEntry {
    char name[kNameSize] = {};
    char type = 0;
    TarStatus status;
    const unsigned char* data = nullptr;  // first data byte, inside the image
    std::unique_ptr<TarEntry> next;
};

struct FreeDeleter {
    void operator()(unsigned char* p) const noexcept;
};

struct TarContext {
    plat::InFile stream;
    bool streamOpen = false;
    std::unique_ptr<char[]> archiveName;
    char message[kMessageSize] = {};
    std::unique_ptr<TarEntry> firstEntry;
    TarEntry* currentEntry = nullptr;
    int32_t imageSize = 0;
    std::unique_ptr<unsigned char, FreeDeleter> image;
    const unsigned char* cursor = nullptr;

    ~TarContext();
};

struct TarDestroyer {
    void operator()(TarContext* c) const noexcept;
};
using TarContextPtr = std::unique_ptr<TarContext, TarDestroyer>;

// A new cleared context, or null when it cannot be allocated.
TarContextPtr TarCreate() noexcept;
void TarDestroy(TarContext* c) noexcept;

int TarOpen(TarContext* c, const char* path) noexcept;
int TarLoadMemoryImage(TarContext* c) noexcept;
int TarReadHeader(TarContext* c) noexcept;
int TarAddEntry(TarContext* c) noexcept;
int TarParseHeader(TarContext* c) noexcept;
int TarVerifyChecksum(TarContext* c, const unsigned char* chksum) noexcept;
int64_t TarReadOctal(int width, const unsigned char* text) noexcept;
int TarNext(TarContext* c) noexcept;
int TarAtEnd(const TarContext* c) noexcept;
const char* TarMessage(const TarContext* c) noexcept;
const char* TarErrorText(int number) noexcept;

// Extraction of currentEntry relative to the current directory.
int TarExtract(TarContext* c) noexcept;
int TarExtractFile(TarContext* c) noexcept;
int TarExtractDir(const char* name, char* message) noexcept;
int TarMakeParentDirs(TarContext* c, const char* name, char* message) noexcept;

// Why a member name must not be written (it would land outside the target directory,
// in another file's stream, or on a device), or null when it is safe.
const char* TarUnsafeNameReason(const char* name) noexcept;

// Formats into a 256-byte message buffer, cut to fit.
#if defined(__MINGW32__)
#define QM_PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#elif defined(__GNUC__)
#define QM_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define QM_PRINTF_LIKE(f, a)
#endif
void TarFormat(char* message, const char* fmt, ...) noexcept QM_PRINTF_LIKE(2, 3);

// The runtime's ctime text of t without its newline ("Wed Jan 02 02:03:55 1980"),
// in local time, into out.
void TarTimeText(int64_t t, char* out, size_t size) noexcept;

}  // namespace qm::tar
