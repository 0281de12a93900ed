#include "platform/posix/replace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/errors.h"

namespace qm::plat {

namespace {

// fsync through a second descriptor: OutFile keeps its own to itself.
int sync_path(const char* path, int flags) noexcept {
    int fd = ::open(path, flags | O_CLOEXEC);
    if (fd < 0) return last_crt_error();
    const int rc = ::fsync(fd) == 0 ? 0 : last_crt_error();
    ::close(fd);
    return rc;
}

}  // namespace

ReplacingFile::~ReplacingFile() { discard(); }

void ReplacingFile::discard() noexcept {
    if (!pending_) return;
    (void)out_.close();
    ::unlink(temp_);
    pending_ = false;
}

int ReplacingFile::open(const char* target) noexcept {
    discard();
    const int n = std::snprintf(target_, sizeof target_, "%s", target);
    if (n < 0 || static_cast<size_t>(n) >= sizeof target_) return kENAMETOOLONG;
    if (int e = out_.create_temp_beside(target_, temp_, sizeof temp_)) return e;
    pending_ = true;
    return 0;
}

int ReplacingFile::write(const void* data, size_t size) noexcept {
    return size == 0 ? 0 : out_.write(data, size);
}

int ReplacingFile::commit(const mode_t* mode, const int64_t* mtime) noexcept {
    if (!pending_) return kEBADF;
    int e = 0;
    if (mtime) e = out_.set_time(*mtime);
    if (!e) e = out_.close();
    if (!e) e = sync_path(temp_, O_RDONLY);
    if (!e && mode && ::chmod(temp_, *mode & 07777) != 0) e = last_crt_error();
    if (!e) e = replace_file(temp_, target_);
    if (e) {
        discard();
        return e;
    }
    pending_ = false;
    // The rename itself is made durable through the directory; a failure here no longer
    // puts the content at risk, so it is not reported.
    char dir[sizeof target_];
    std::snprintf(dir, sizeof dir, "%s", target_);
    char* slash = std::strrchr(dir, '/');
    if (slash == dir) slash[1] = '\0';
    else if (slash) *slash = '\0';
    else std::snprintf(dir, sizeof dir, ".");
    (void)sync_path(dir, O_RDONLY | O_DIRECTORY);
    return 0;
}

}  // namespace qm::plat
