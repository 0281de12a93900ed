#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/textstream.h"

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

bool TextIn::open(const char* path) noexcept {
    stream_.reset(path ? std::fopen(path, "r") : nullptr);
    return static_cast<bool>(stream_);
}

size_t TextIn::read(char* buffer, size_t size) noexcept { return std::fread(buffer, 1, size, stream_.get()); }
bool TextIn::eof() const noexcept { return std::feof(stream_.get()) != 0; }
bool TextIn::identity(FileId* out) const noexcept { return identity_of(stream_.get(), out); }

bool TextAppend::open(const char* path) noexcept {
    stream_.reset();
    if (!path) return false;
    // Opened in binary mode first (so the runtime's own handling of the mark cannot run
    // a second time), then switched to text mode for the stream.
    unique_fd fd(_sopen(path, _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY, _SH_DENYNO, _S_IREAD | _S_IWRITE));
    if (!fd) return false;
    remove_trailing_eof_mark(fd.get());
    _setmode(fd.get(), _O_TEXT);
    // The stream owns the descriptor once it exists.
    stream_.reset(_fdopen(fd.get(), "a+"));
    if (!stream_) return false;
    fd.release();
    return true;
}

bool TextAppend::identity(FileId* out) const noexcept { return identity_of(stream_.get(), out); }

}  // namespace qm::plat
