// A small disk that fills up, for the full-disk tests: natively a 2 MB tmpfs that the
// test mounts itself (where it may); on Windows the directory that QM_FULL_DISK_DIR
// names, which tests/win32/full_disk.sh mounts the same way and hands to Wine.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

namespace fs = std::filesystem;

// A small file system, empty while the test runs.
class SmallDisk {
public:
    explicit SmallDisk(const fs::path& at) {
#ifdef _WIN32
        (void)at;
        const char* given = std::getenv("QM_FULL_DISK_DIR");
        if (!given || !*given) {
            why_not_ = "QM_FULL_DISK_DIR is not set; tests/win32/full_disk.sh mounts the disk and sets it";
            return;
        }
        at_ = given;
        mounted_ = fs::is_directory(at_);
        if (!mounted_) why_not_ = at_.string() + " is not a directory";
        clear();
#else
        at_ = at;
        fs::create_directories(at_);
        if (::mount("tmpfs", at_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=2m,mode=0755") == 0)
            mounted_ = true;
        else
            why_not_ = std::strerror(errno);
#endif
    }
    ~SmallDisk() {
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
#ifdef _WIN32
        clear();
#else
        if (mounted_) ::umount2(at_.c_str(), MNT_DETACH);
#endif
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why_not() const { return why_not_; }
    fs::path operator/(const std::string& rel) const { return at_ / rel; }
    std::string str(const std::string& rel) const { return (at_ / rel).string(); }

    // Fills the disk with one file, then gives back free_bytes of it.
    void fill_leaving(size_t free_bytes) {
        const std::string filler = (at_ / "filler").string();
        std::vector<char> block(64 * 1024, 'f');
        uint64_t size = 0;
#ifdef _WIN32
        HANDLE h = CreateFileA(filler.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD n = 0;
        while (WriteFile(h, block.data(), static_cast<DWORD>(block.size()), &n, nullptr) && n > 0) size += n;
        // Wine refuses to set the end of a file on a full disk even where it stays put.
        if (free_bytes > 0) {
            LARGE_INTEGER at;
            at.QuadPart = static_cast<LONGLONG>(size > free_bytes ? size - free_bytes : 0);
            ASSERT_TRUE(SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h));
        }
        CloseHandle(h);
#else
        const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        for (ssize_t n; (n = ::write(fd, block.data(), block.size())) > 0;) size += static_cast<uint64_t>(n);
        ASSERT_EQ(errno, ENOSPC);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size > free_bytes ? size - free_bytes : 0)), 0);
        ::close(fd);
#endif
        ASSERT_GT(size, 1024u * 1024u) << "the disk should have filled up";
    }
    void empty_filler() { fs::remove(at_ / "filler"); }

    // Names the library's temporary files carry (".qm<process>~<serial>").
    bool temporary_files_left() const {
        for (const auto& e : fs::recursive_directory_iterator(at_))
            if (e.path().filename().string().find(".qm") != std::string::npos) return true;
        return false;
    }

private:
    void clear() {
        std::error_code ec;
        if (mounted_)
            for (const auto& e : fs::directory_iterator(at_, ec)) fs::remove_all(e.path(), ec);
    }
    fs::path at_;
    bool mounted_ = false;
    std::string why_not_;
};

#define REQUIRE_SMALL_DISK(disk)                                                      \
    if (!(disk).mounted())                                                            \
    GTEST_SKIP() << "no 2 MB disk to fill here (" << (disk).why_not()                 \
                 << "): the real full disk is not tried; the FullDisk tests cover "   \
                    "the same outcomes with injected failures"

}  // namespace qm::test
