// The native floor: the least a package expansion needs. One read of the package into
// one buffer, then per directory one mkdir, per file create, write, set times, close.
// No checks, no messages, no rules: the yardstick the library is measured against.
//
//   floor_posix PACKAGE TARGET
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "floor_tar.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor_posix PACKAGE TARGET\n");
        return 2;
    }
    const int in = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (in < 0 || ::fstat(in, &st) != 0) return 1;
    const size_t size = static_cast<size_t>(st.st_size);
    unsigned char* image = static_cast<unsigned char*>(std::malloc(size));
    if (!image || ::read(in, image, size) != static_cast<ssize_t>(size)) return 1;
    ::close(in);
    if (::chdir(argv[2]) != 0) return 1;

    int failures = 0;
    bench::walk(image, size, [&](const bench::Member& m) {
        const size_t len = std::strlen(m.name);
        if (m.type == '5' || (len > 0 && m.name[len - 1] == '/')) {
            if (::mkdir(m.name, 0777) != 0) ++failures;
            return;
        }
        const int fd = ::open(m.name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            ++failures;
            return;
        }
        if (m.size > 0 && ::write(fd, m.data, static_cast<size_t>(m.size)) != m.size) ++failures;
        struct timespec ts[2];
        ts[0].tv_sec = ts[1].tv_sec = static_cast<time_t>(m.mtime);
        ts[0].tv_nsec = ts[1].tv_nsec = 0;
        if (::futimens(fd, ts) != 0) ++failures;
        ::close(fd);
    });
    std::free(image);
    if (failures) std::fprintf(stderr, "floor_posix: %d failures\n", failures);
    return failures ? 1 : 0;
}
