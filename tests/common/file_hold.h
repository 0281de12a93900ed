// A file held as another process holding it would: Windows opened without sharing, POSIX
// opened and locked (flock), for the life of the object; nothing when held is false.
#pragma once

#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace qm::test {

class FileHold {
public:
    FileHold(const std::filesystem::path& path, bool held = true) {
        if (!held) return;
#ifdef _WIN32
        handle_ = CreateFileA(path.string().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
#else
        fd_ = ::open(path.string().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ >= 0) ::flock(fd_, LOCK_EX);
#endif
    }
    ~FileHold() {
#ifdef _WIN32
        if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
#else
        if (fd_ >= 0) ::close(fd_);
#endif
    }
    FileHold(const FileHold&) = delete;
    FileHold& operator=(const FileHold&) = delete;

private:
#ifdef _WIN32
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
};

}  // namespace qm::test
