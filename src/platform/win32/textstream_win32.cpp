#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/errors.h"
#include "platform/textstream.h"
#include "platform/win32/errmap.h"

namespace qm::plat {

namespace {

HANDLE os_handle(FILE* f) noexcept { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f))); }

bool identity_of(FILE* f, FileId* out) noexcept {
    BY_HANDLE_FILE_INFORMATION info;
    if (!f || !GetFileInformationByHandle(os_handle(f), &info)) return false;
    out->volume = info.dwVolumeSerialNumber;
    out->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return out->index != 0;  // some file systems give no index: the identity is unknown
}

// The descriptor is still in binary mode here, so the runtime does not take the mark
// for the end of the file while we look for it.
void remove_trailing_eof_mark(int fd) noexcept {
    const __int64 end = _lseeki64(fd, 0, SEEK_END);
    if (end <= 0) return;
    char last = 0;
    if (_lseeki64(fd, end - 1, SEEK_SET) != end - 1 || _read(fd, &last, 1) != 1 || last != 0x1A) return;
    if (_lseeki64(fd, end - 1, SEEK_SET) == end - 1) (void)SetEndOfFile(reinterpret_cast<HANDLE>(_get_osfhandle(fd)));
}

}  // namespace

CallResult TextIn::open(const char* path) noexcept {
    stream_.reset();
    if (!path) return failed_with(FileStep::Open, kEINVAL);
    stream_.reset(std::fopen(path, "r"));
    return stream_ ? CallResult{} : failed_now(FileStep::Open);
}

size_t TextIn::read(char* buffer, size_t size) noexcept { return std::fread(buffer, 1, size, stream_.get()); }
bool TextIn::eof() const noexcept { return std::feof(stream_.get()) != 0; }
bool TextIn::identity(FileId* out) const noexcept { return identity_of(stream_.get(), out); }

CallResult TextAppend::open(const char* path) noexcept {
    stream_.reset();
    if (!path) return failed_with(FileStep::Open, kEINVAL);
    // Opened in binary mode first (so the runtime's own handling of the mark cannot run
    // a second time), then switched to text mode for the stream.
    unique_fd fd(_sopen(path, _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE));
    if (!fd) return failed_now(FileStep::Open);
    remove_trailing_eof_mark(fd.get());
    _setmode(fd.get(), _O_TEXT);
    // The stream owns the descriptor once it exists.
    stream_.reset(_fdopen(fd.get(), "a+"));
    if (!stream_) return failed_now(FileStep::Open);
    fd.release();
    return {};
}

bool TextAppend::identity(FileId* out) const noexcept { return identity_of(stream_.get(), out); }

}  // namespace qm::plat
