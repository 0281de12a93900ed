#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/fs.h"
#include "platform/posix/paths.h"
#include "platform/textstream.h"

namespace qm::plat {

namespace {

bool identity_of(FILE* f, FileId* out) noexcept {
    struct stat st;
    if (!f || ::fstat(fileno(f), &st) != 0) return false;
    out->volume = static_cast<uint64_t>(st.st_dev);
    out->index = static_cast<uint64_t>(st.st_ino);
    return true;
}

void remove_trailing_eof_mark(int fd) noexcept {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return;
    char last = 0;
    if (::pread(fd, &last, 1, st.st_size - 1) == 1 && last == 0x1A) (void)::ftruncate(fd, st.st_size - 1);
}

// The descriptor of path opened with flags into fd; a directory never opens as a text,
// as on Windows.
CallResult open_text_file(const char* path, int flags, unique_fd* fd) noexcept {
    if (!path) return failed_with(FileStep::Open, kEINVAL);
    NativePath p(path);
    if (!p.ok()) return failed_with(FileStep::Open, kENAMETOOLONG);
    fd->reset(::open(p.c_str(), flags | O_CLOEXEC | O_NOCTTY, 0666));
    if (!*fd) return failed_now(FileStep::Open);
    struct stat st;
    if (::fstat(fd->get(), &st) == 0 && !S_ISDIR(st.st_mode)) return {};
    fd->reset();
    return failed_with(FileStep::Open, kEACCES);
}

}  // namespace

CallResult TextIn::open(const char* path) noexcept {
    stream_.reset();
    state_.eof = false;
    unique_fd fd;
    if (const CallResult r = open_text_file(path, O_RDONLY, &fd); !r.ok()) return r;
    FILE* f = ::fdopen(fd.get(), "r");
    if (!f) return failed_now(FileStep::Open);
    fd.release();
    stream_.reset(f);
    return {};
}

size_t TextIn::read(char* buffer, size_t size) noexcept {
    FILE* f = stream_.get();
    size_t got = 0;
    while (got < size && !state_.eof) {
        int c = getc_unlocked(f);
        if (c == EOF) {
            state_.eof = !std::ferror(f);
            break;
        }
        if (c == 0x1A) {
            state_.eof = true;
            break;
        }
        if (c == '\r') {
            const int next = getc_unlocked(f);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                ungetc(next, f);
        }
        buffer[got++] = static_cast<char>(c);
    }
    return got;
}

bool TextIn::eof() const noexcept { return state_.eof; }
bool TextIn::identity(FileId* out) const noexcept { return identity_of(stream_.get(), out); }

CallResult TextAppend::open(const char* path) noexcept {
    stream_.reset();
    unique_fd fd;
    if (const CallResult r = open_text_file(path, O_RDWR | O_APPEND | O_CREAT, &fd); !r.ok()) return r;
    remove_trailing_eof_mark(fd.get());
    FILE* f = ::fdopen(fd.get(), "a+");
    if (!f) return failed_now(FileStep::Open);
    fd.release();
    stream_.reset(f);
    return {};
}

bool TextAppend::identity(FileId* out) const noexcept { return identity_of(stream_.get(), out); }

}  // namespace qm::plat
