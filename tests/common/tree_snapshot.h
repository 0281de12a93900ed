// Everything under a directory as a test compares it before and after: each entry's
// path, what it is, its bytes (a link: where it points), its modification time, its mode
// (POSIX: permission bits, owner and group; Windows: the attributes) and which file it
// is (inode, file index), so that a file put back is seen to be the very same one. A
// directory's own times are left out: an entry made and removed in it moves them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

#include "common/temp_dir.h"

namespace qm::test {

struct TreeEntry {
    char kind = '?';  // f file, d directory, l link
    std::string bytes;
    int64_t mtime = 0;
    uint64_t mode = 0;
    uint64_t id = 0;
    bool operator==(const TreeEntry& o) const {
        return kind == o.kind && bytes == o.bytes && mtime == o.mtime && mode == o.mode && id == o.id;
    }
};
using TreeSnapshot = std::map<std::string, TreeEntry>;

inline TreeEntry tree_entry(const std::filesystem::path& p) {
    TreeEntry e;
#ifdef _WIN32
    const DWORD attributes = GetFileAttributesA(p.string().c_str());
    e.kind = (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 'd' : 'f';
    e.mode = attributes;
    const HANDLE h = CreateFileA(p.string().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info))
        e.id = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    e.mtime = e.kind == 'd' ? 0 : get_mtime(p);
#else
    struct stat st;
    if (::lstat(p.string().c_str(), &st) != 0) return e;
    e.kind = S_ISDIR(st.st_mode) ? 'd' : S_ISLNK(st.st_mode) ? 'l' : 'f';
    e.mode = (static_cast<uint64_t>(st.st_uid) << 40) | (static_cast<uint64_t>(st.st_gid) << 16) | (st.st_mode & 07777);
    e.id = static_cast<uint64_t>(st.st_ino);
    e.mtime = e.kind == 'd' ? 0 : static_cast<int64_t>(st.st_mtime);
    if (e.kind == 'l') e.bytes = std::filesystem::read_symlink(p).string();
#endif
    if (e.kind == 'f') e.bytes = read_file(p);
    return e;
}

inline TreeSnapshot snapshot(const std::filesystem::path& root) {
    TreeSnapshot s;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(root, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        s[std::filesystem::relative(it->path(), root).generic_string()] = tree_entry(it->path());
    return s;
}

// The first few differences between two snapshots, for a failure's message.
inline std::string differences(const TreeSnapshot& a, const TreeSnapshot& b) {
    std::ostringstream out;
    int shown = 0;
    for (const auto& [path, e] : a) {
        const auto it = b.find(path);
        if (it == b.end())
            out << "  only before: " << path << "\n";
        else if (!(it->second == e))
            out << "  changed: " << path << " (mtime " << e.mtime << " -> " << it->second.mtime << ", mode " << std::oct
                << e.mode << " -> " << it->second.mode << std::dec << ", id " << e.id << " -> " << it->second.id << ")\n";
        else
            continue;
        if (++shown == 8) return out.str();
    }
    for (const auto& [path, e] : b)
        if (!a.count(path) && shown++ < 8) out << "  only after: " << path << "\n";
    return out.str();
}

}  // namespace qm::test
