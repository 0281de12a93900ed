// The walk over a package loaded whole: one header current at a time. Nothing that
// has been walked past is kept, so a walk needs the package and a constant beside it,
// however many members the package holds.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/alloc.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/fs.h"
#include "tar/tar.h"

namespace qm::tar {

struct TarContext {
    plat::InFile stream;
    std::unique_ptr<char[]> archiveName;
    char message[kMessageSize] = {};
    TarEntry current;
    int64_t packageSize = 0;
    unsigned long loadCode = 0;  // a load that failed: the failing step's code
    int32_t imageSize = 0;
    plat::FileImage image;
    const unsigned char* cursor = nullptr;  // the header block read last
    bool ended = false;
    Ending ending;
};

namespace {

bool alloc_allowed() noexcept { return plat::fault::check(plat::fault::Op::Alloc) == 0; }

const unsigned char* image_end(const TarContext* c) noexcept {
    return c->image.data() + c->imageSize;
}

// Bytes of the image left from the cursor; 0 once the cursor is at or past the end.
int64_t remaining(const TarContext* c) noexcept {
    if (!c->cursor) return 0;
    return static_cast<int64_t>(image_end(c) - c->cursor);
}

const TarHeaderBlock* block_at(const unsigned char* p) noexcept {
    return reinterpret_cast<const TarHeaderBlock*>(p);
}

void end_walk(TarContext* c, Ending::Kind kind) noexcept {
    c->current = TarEntry{};
    c->ended = true;
    c->ending.kind = kind;
    c->ending.offset = c->cursor ? c->cursor - c->image.data() : 0;
    c->ending.block = kind == Ending::Kind::PackageEnd ? nullptr : block_at(c->cursor);
}

// Decodes the block at the cursor as the current header: Member, or how the walk ends
// there. A header with an empty name ends the walk, but stays current: the first one is
// still extracted, as it always was.
TarStep read_header(TarContext* c) noexcept {
    const TarHeaderBlock& block = *block_at(c->cursor);
    const TarChecksum sum = TarVerifyChecksum(block);
    if (sum != TarChecksum::Match) {
        end_walk(c, sum == TarChecksum::Blank ? Ending::Kind::EndBlock : Ending::Kind::Damaged);
        return TarStep::End;
    }
    switch (block.typeflag) {
        case 'L':
            std::fputs("WARNING: File: long file name detected in tar.\n", stderr);
            break;
        case '\0':
        case '0':
        case '5':
            break;
        default:
            TarFormat(c->message, "WARNING:\"%s\" has invalid file type. offset:%d",
                      c->archiveName.get(), static_cast<int>(c->cursor - c->image.data()));
            end_walk(c, Ending::Kind::RefusedType);
            return TarStep::Stopped;
    }
    TarEntry& e = c->current;
    TarDecodeHeader(block, &e);
    e.header = &block;
    e.offset = c->cursor - c->image.data();
    e.data = c->cursor + kBlock;
    e.available = static_cast<int64_t>(image_end(c) - e.data);
    if (e.name[0] == '\0') {
        c->ended = true;
        c->ending.kind = Ending::Kind::Nameless;
        c->ending.offset = e.offset;
        c->ending.block = &block;
        return TarStep::End;
    }
    return TarStep::Member;
}

TarLoad load_image(TarContext* c) noexcept {
    const int64_t size = c->packageSize;
    if (size < kBlock) {
        TarFormat(c->message, "Error: file \"%s\" is too small. Size is %d bytes.",
                  c->archiveName.get(), static_cast<int>(size));
        return TarLoad::TooSmall;
    }
    // The image is addressed by 32-bit offsets, as the format's sizes are read: a larger
    // package is one the reader does not take, whatever memory there is.
    if (size > kMaxPackageSize) {
        TarFormat(c->message, "TarLoadMemoryImage:\"%s\" is %lld bytes, more than a package may have (%lld)",
                  c->archiveName.get(), static_cast<long long>(size), static_cast<long long>(kMaxPackageSize));
        return TarLoad::TooLarge;
    }
    const int e = alloc_allowed() ? c->stream.load(static_cast<size_t>(size), &c->image) : plat::kENOMEM;
    if (e == plat::kENOMEM) {
        TarFormat(c->message, "TarLoadMemoryImage:cannot allocate %lld bytes: %d, %s",
                  static_cast<long long>(size), plat::kENOMEM,
                  plat::error_text_or_null(plat::kENOMEM));
        return TarLoad::NoMemory;
    }
    if (e == plat::kChangedWhileRead) {
        TarFormat(c->message, "TarLoadMemoryImage:\"%s\" changed while it was read (another program is writing it)",
                  c->archiveName.get());
        return TarLoad::Changed;
    }
    if (e) {
        TarFormat(c->message, "TarLoadMemoryImage:fread error: %d, %s", e,
                  plat::error_text_or_null(e));
        c->loadCode = plat::win32_from_crt(e);
        return TarLoad::ReadError;
    }
    c->cursor = c->image.data();
    c->imageSize = static_cast<int32_t>(size);
    return TarLoad::Loaded;
}

}  // namespace

void TarDestroyer::operator()(TarContext* c) const noexcept { TarDestroy(c); }

void TarFormat(char* message, const char* fmt, ...) noexcept {
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(message, kMessageSize, fmt, ap);
    va_end(ap);
    if (n < 0) message[0] = '\0';
}

TarContextPtr TarCreate() noexcept { return TarContextPtr(try_make<TarContext>().release()); }

void TarDestroy(TarContext* c) noexcept {
    // Deleting the context closes the stream and frees the name and the image.
    std::unique_ptr<TarContext> owned(c);
}

namespace {

TarLoad open_and_load(TarContext* c, const char* path) noexcept {
    if (const plat::CallResult r = c->stream.open(path); !r.ok()) {
        const int e = r.error;
        TarFormat(c->message, "open:\"%s\" failed:(%d) %s", path, e, plat::error_text_or_null(e));
        c->loadCode = r.code;
        return e == plat::kENOENT ? TarLoad::Missing : TarLoad::CannotOpen;
    }
    // Anything but a regular file (a FIFO, a device, a directory) could block the read
    // or never end it: it is a package that cannot be read.
    if (!c->stream.is_regular()) {
        TarFormat(c->message, "open:\"%s\" failed: not a regular file", path);
        c->stream = plat::InFile();
        return TarLoad::NotAFile;
    }
    if (int e = c->stream.size(&c->packageSize)) {
        TarFormat(c->message, "TarLoadMemoryImage:fstat(%s) %d %s", path, e, plat::error_text_or_null(e));
        c->loadCode = plat::win32_from_crt(e);
        c->stream = plat::InFile();
        return TarLoad::ReadError;
    }
    const size_t len = std::strlen(path);
    c->archiveName = try_make_array<char>(len + 1);
    if (!c->archiveName) {
        TarFormat(c->message, "open:\"%s\" failed:(%d) %s", path, plat::kENOMEM,
                  plat::error_text_or_null(plat::kENOMEM));
        c->stream = plat::InFile();
        return TarLoad::NoMemory;
    }
    std::memcpy(c->archiveName.get(), path, len + 1);
    const TarLoad load = load_image(c);
    if (load != TarLoad::Loaded) {
        c->stream = plat::InFile();
        return load;
    }
    switch (read_header(c)) {
        case TarStep::Member:
            return TarLoad::Loaded;
        case TarStep::Stopped:
            c->stream = plat::InFile();
            return TarLoad::RefusedType;
        case TarStep::End:
            // A first header with an empty name is still a member to extract; a blank
            // or damaged first block leaves nothing.
            if (c->ending.kind == Ending::Kind::Nameless) return TarLoad::Loaded;
            break;
    }
    c->stream = plat::InFile();
    return TarLoad::NoHeader;
}

}  // namespace

TarLoad TarOpen(TarContext* c, const char* path) noexcept {
    const TarLoad load = open_and_load(c, path);
    switch (load) {
        case TarLoad::Loaded: c->loadCode = 0; break;
        case TarLoad::Missing: c->loadCode = plat::win32::kFileNotFound; break;
        case TarLoad::NotAFile: c->loadCode = plat::win32::kAccessDenied; break;
        case TarLoad::NoMemory: c->loadCode = plat::win32::kNotEnoughMemory; break;
        case TarLoad::TooLarge: c->loadCode = plat::win32::kFileTooLarge; break;
        // Read while another program wrote it: what Windows says of a file in use.
        case TarLoad::Changed: c->loadCode = plat::win32::kSharingViolation; break;
        case TarLoad::CannotOpen:
        case TarLoad::ReadError: break;  // the failing call's, kept as it failed
        default: c->loadCode = plat::win32::kInvalidData; break;
    }
    return load;
}

unsigned long TarLoadCode(const TarContext* c) noexcept { return c->loadCode; }

int64_t TarPackageSize(const TarContext* c) noexcept { return c->packageSize; }

TarStep TarNext(TarContext* c) noexcept {
    c->message[0] = '\0';
    if (c->ended) return TarStep::End;
    const int64_t size = c->current.status.size;
    // Header plus data blocks; a size that read as -1 moves two blocks. Sizes are at
    // most 36 bits, so the sum cannot overflow; anything past the image ends the walk.
    const int64_t blocks = size < 0 ? 2 : 1 + (size + kBlock - 1) / kBlock;
    const int64_t move = blocks * kBlock;
    if (move + kBlock > remaining(c)) {
        c->cursor = image_end(c);
        end_walk(c, Ending::Kind::PackageEnd);
        return TarStep::End;
    }
    c->cursor += move;
    return read_header(c);
}

const TarEntry& TarCurrent(const TarContext* c) noexcept { return c->current; }

const char* TarMessage(const TarContext* c) noexcept { return c->message; }

Ending TarWhyEnded(const TarContext* c) noexcept { return c->ending; }

TarEntry TarStoppedAt(const TarContext* c) noexcept {
    TarEntry e;
    if (!c->ended || c->ending.kind != Ending::Kind::RefusedType) return e;
    TarDecodeHeader(*c->ending.block, &e);
    e.header = c->ending.block;
    e.offset = c->ending.offset;
    return e;
}

int64_t TarHeadersAfter(const TarContext* c, int64_t offset, char* first_name, size_t size) noexcept {
    int64_t found = 0;
    if (size > 0) first_name[0] = '\0';
    for (int64_t off = offset + kBlock; off + kBlock <= c->imageSize; off += kBlock) {
        const TarHeaderBlock& b = *block_at(c->image.data() + off);
        if (b.name[0] == '\0' || TarVerifyChecksum(b) != TarChecksum::Match) continue;
        if (found++ == 0 && size > 0)
            std::snprintf(first_name, size, "%.*s", static_cast<int>(sizeof b.name),
                          reinterpret_cast<const char*>(b.name));
    }
    return found;
}

}  // namespace qm::tar
