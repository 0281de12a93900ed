#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/alloc.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "tar/tar.h"

namespace qm::tar {

namespace {

constexpr int kChksumOffset = 148;
constexpr int kTypeOffset = 156;
constexpr int kMagicOffset = 257;
constexpr int kPrefixOffset = 345;
constexpr int kPrefixSize = 155;
constexpr int kNameField = 100;

bool is_space(unsigned char ch) noexcept {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\v' || ch == '\f' || ch == '\r';
}

bool alloc_allowed() noexcept { return plat::fault::check(plat::fault::Op::Alloc) == 0; }

const unsigned char* image_end(const TarContext* c) noexcept {
    return c->image.get() + c->imageSize;
}

// Bytes of the image left from the cursor; 0 once the cursor is at or past the end.
int64_t remaining(const TarContext* c) noexcept {
    if (!c->cursor) return 0;
    return static_cast<int64_t>(image_end(c) - c->cursor);
}

}  // namespace

void FreeDeleter::operator()(unsigned char* p) const noexcept { std::free(p); }

TarContext::~TarContext() {
    // Unlink the chain one entry at a time: a package of many thousand members must not
    // turn into as deep a recursion of destructors.
    std::unique_ptr<TarEntry> e = std::move(firstEntry);
    while (e) e = std::move(e->next);
}

void TarDestroyer::operator()(TarContext* c) const noexcept { TarDestroy(c); }

void TarFormat(char* message, const char* fmt, ...) noexcept {
    va_list ap;
    va_start(ap, fmt);
    int n = std::vsnprintf(message, kMessageSize, fmt, ap);
    va_end(ap);
    if (n < 0) message[0] = '\0';
}

const char* TarErrorText(int number) noexcept { return plat::error_text(number); }

TarContextPtr TarCreate() noexcept { return TarContextPtr(try_make<TarContext>().release()); }

void TarDestroy(TarContext* c) noexcept {
    // Deleting the context closes the stream and frees the name, the image and the chain.
    std::unique_ptr<TarContext> owned(c);
}

int64_t TarReadOctal(int width, const unsigned char* text) noexcept {
    int n = width;
    const unsigned char* p = text;
    while (n > 0 && is_space(*p)) {
        ++p;
        --n;
    }
    if (n <= 0) return -1;
    // Wide enough for the largest field (12 digits, 36 bits): nothing can overflow.
    int64_t value = 0;
    while (n > 0 && *p >= '0' && *p <= '9') {
        value = (value << 3) | (*p - '0');
        ++p;
        --n;
    }
    if (n <= 0) return value;
    if (*p == '\0' || is_space(*p)) return value;
    return -1;
}

int TarVerifyChecksum(TarContext* c, const unsigned char* chksum) noexcept {
    const int64_t stored = TarReadOctal(8, chksum);
    const unsigned char* block = c->cursor;
    // The sum of the bytes taken as unsigned, and how many are 128 or more: taken as
    // signed, each of those counts 256 less. Two plain sums the compiler can vectorise.
    uint32_t sum = 0, high = 0;
    for (int i = 0; i < kBlock; ++i) {
        sum += block[i];
        high += block[i] >> 7;
    }
    // The chksum field itself counts as eight blanks.
    int64_t u = static_cast<int64_t>(sum) + 256;
    int64_t h = high;
    for (int i = 0; i < 8; ++i) {
        u -= chksum[i];
        h -= chksum[i] >> 7;
    }
    const int64_t s = u - 256 * h;
    if (u == 256) return 2;
    if (stored == u || stored == s) return 0;
    return -1;
}

int TarAddEntry(TarContext* c) noexcept {
    std::unique_ptr<TarEntry> e = try_make<TarEntry>();
    if (!e) {
        TarFormat(c->message, "TarAddEntry: out of memory (%d) %s", plat::kENOMEM,
                  plat::error_text_or_null(plat::kENOMEM));
        return -1;
    }
    TarEntry* raw = e.get();
    if (c->currentEntry)
        c->currentEntry->next = std::move(e);
    else
        c->firstEntry = std::move(e);
    c->currentEntry = raw;
    return 0;
}

int TarParseHeader(TarContext* c) noexcept {
    const unsigned char* block = c->cursor;
    if (TarVerifyChecksum(c, block + kChksumOffset) != 0) return 2;

    const char type = static_cast<char>(block[kTypeOffset]);
    switch (type) {
        case 'L':
            std::fputs("WARNING: File: long file name detected in tar.\n", stderr);
            break;
        case '\0':
        case '0':
        case '5':
            break;
        default:
            TarFormat(c->message, "WARNING:\"%s\" has invalid file type. offset:%d",
                      c->archiveName.get(), static_cast<int>(block - c->image.get()));
            return 2;
    }

    TarEntry* e = c->currentEntry;
    e->status = TarStatus{};
    e->status.mode = static_cast<uint16_t>(TarReadOctal(8, block + 100) & 07777);
    e->status.uid = static_cast<int16_t>(TarReadOctal(8, block + 108));
    e->status.gid = static_cast<int16_t>(TarReadOctal(8, block + 116));
    e->status.size = TarReadOctal(12, block + 124);
    e->status.mtime = TarReadOctal(12, block + 136);
    e->type = type;

    // A POSIX ustar writer splits a long path into prefix and name; the member belongs
    // under the whole path. GNU headers ("ustar  ") use those bytes for other things.
    size_t at = 0;
    if (std::memcmp(block + kMagicOffset, "ustar", 6) == 0 && block[kPrefixOffset] != '\0') {
        at = strnlen(reinterpret_cast<const char*>(block + kPrefixOffset), kPrefixSize);
        std::memcpy(e->name, block + kPrefixOffset, at);
        e->name[at++] = '/';
    }
    std::memcpy(e->name + at, block, kNameField);
    e->data = block + kBlock;
    return 0;
}

int TarReadHeader(TarContext* c) noexcept {
    if (TarAddEntry(c) != 0) return -1;
    return TarParseHeader(c) == 0 ? 0 : -1;
}

int TarNext(TarContext* c) noexcept {
    c->message[0] = '\0';
    const int64_t size = c->currentEntry ? c->currentEntry->status.size : 0;
    // Header plus data blocks; a size that read as -1 moves two blocks. Sizes are at
    // most 36 bits, so the sum cannot overflow; anything past the image ends the walk.
    const int64_t blocks = size < 0 ? 2 : 1 + (size + kBlock - 1) / kBlock;
    const int64_t move = blocks * kBlock;
    if (move + kBlock > remaining(c)) {
        c->cursor = image_end(c);
        return -1;
    }
    c->cursor += move;
    return TarReadHeader(c);
}

int TarAtEnd(const TarContext* c) noexcept {
    if (!c->currentEntry || c->currentEntry->name[0] == '\0') return 1;
    return remaining(c) < kBlock ? 1 : 0;
}

const char* TarMessage(const TarContext* c) noexcept { return c->message; }

int TarLoadMemoryImage(TarContext* c) noexcept {
    int64_t size = 0;
    if (int e = c->stream.size(&size)) {
        TarFormat(c->message, "TarLoadMemoryImage:fstat(%s) %d %s", c->archiveName.get(), e,
                  plat::error_text_or_null(e));
        return -1;
    }
    if (size < kBlock) {
        TarFormat(c->message, "Error: file \"%s\" is too small. Size is %d bytes.",
                  c->archiveName.get(), static_cast<int>(size));
        return 1;
    }
    unsigned char* buffer = nullptr;
    if (size <= INT32_MAX && alloc_allowed())
        buffer = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(size)));
    if (!buffer) {
        TarFormat(c->message, "TarLoadMemoryImage:cannot allocate %lld bytes: %d, %s",
                  static_cast<long long>(size), plat::kENOMEM,
                  plat::error_text_or_null(plat::kENOMEM));
        return -1;
    }
    c->image.reset(buffer);
    if (int e = c->stream.read_exact(buffer, static_cast<size_t>(size))) {
        TarFormat(c->message, "TarLoadMemoryImage:fread error: %d, %s", e,
                  plat::error_text_or_null(e));
        return -1;
    }
    c->cursor = buffer;
    c->imageSize = static_cast<int32_t>(size);
    return 0;
}

int TarOpen(TarContext* c, const char* path) noexcept {
    if (int e = c->stream.open(path)) {
        TarFormat(c->message, "open:\"%s\" failed:(%d) %s", path, e, plat::error_text_or_null(e));
        return -1;
    }
    c->streamOpen = true;
    const size_t len = std::strlen(path);
    c->archiveName = try_make_array<char>(len + 1);
    if (!c->archiveName) {
        TarFormat(c->message, "open:\"%s\" failed:(%d) %s", path, plat::kENOMEM,
                  plat::error_text_or_null(plat::kENOMEM));
        c->stream = plat::InFile();
        c->streamOpen = false;
        return -1;
    }
    std::memcpy(c->archiveName.get(), path, len + 1);
    if (TarLoadMemoryImage(c) != 0 || TarReadHeader(c) != 0) {
        c->stream = plat::InFile();
        c->streamOpen = false;
        return -1;
    }
    return 0;
}

void TarTimeText(int64_t t, char* out, size_t size) noexcept {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t tt = static_cast<time_t>(t);
    struct tm tmv;
    bool ok = static_cast<int64_t>(tt) == t && t >= 0;
#ifdef _WIN32
    ok = ok && localtime_s(&tmv, &tt) == 0;
#else
    ok = ok && localtime_r(&tt, &tmv) != nullptr;
#endif
    if (!ok || tmv.tm_wday < 0 || tmv.tm_wday > 6 || tmv.tm_mon < 0 || tmv.tm_mon > 11) {
        std::snprintf(out, size, "(invalid time %lld)", static_cast<long long>(t));
        return;
    }
    // The Windows runtime's ctime layout: the day of the month always has two digits.
    std::snprintf(out, size, "%s %s %02d %02d:%02d:%02d %d", kDays[tmv.tm_wday],
                  kMonths[tmv.tm_mon], tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec,
                  tmv.tm_year + 1900);
}

}  // namespace qm::tar
