// A scratch directory for one test: created empty, made the current directory, and
// removed with everything in it afterwards (the previous current directory restored).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>
#ifdef _WIN32
#include <sys/utime.h>
#else
#include <utime.h>
#endif

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace qm::test {

namespace fs = std::filesystem;

class TempDir {
public:
    explicit TempDir(bool enter = true) {
        std::random_device rd;
        fs::path base = fs::temp_directory_path();
        for (int i = 0; i < 100; ++i) {
            path_ = base / ("qmtest-" + std::to_string(rd()) + std::to_string(i));
            std::error_code ec;
            if (fs::create_directory(path_, ec)) break;
        }
        old_ = fs::current_path();
        if (enter) fs::current_path(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fs::current_path(old_, ec);
        // Read-only files would stop the removal on Windows.
        for (auto it = fs::recursive_directory_iterator(path_, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    fs::path operator/(const std::string& rel) const { return path_ / rel; }

private:
    fs::path path_;
    fs::path old_;
};

inline void write_file(const fs::path& p, const std::string& data) {
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
}

template <typename Bytes>
inline void write_bytes(const fs::path& p, const Bytes& b) {
    write_file(p, std::string(b.begin(), b.end()));
}

inline std::string read_file(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// Sets a file's access and modification times to t seconds since 1970.
inline void set_mtime(const fs::path& p, int64_t t) {
    struct utimbuf ub;
    ub.actime = ub.modtime = static_cast<time_t>(t);
    ::utime(p.string().c_str(), &ub);
}

inline int64_t get_mtime(const fs::path& p) {
    struct stat st;
    if (::stat(p.string().c_str(), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_mtime);
}

#ifndef _WIN32
// Whether a file made here can be given to another user (uid and gid 65534): root can, but
// not the root of a user namespace that maps no other user (scripts/without-ia32.sh runs
// the suite in one).
inline bool can_give_files_away(const fs::path& dir) {
    const fs::path probe = dir / ".given-away";
    write_file(probe, "");
    const bool given = ::chown(probe.c_str(), 65534, 65534) == 0;
    std::error_code ec;
    fs::remove(probe, ec);
    return given;
}
#endif

}  // namespace qm::test
