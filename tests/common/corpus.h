// The peer corpus: tar archives from other tar readers' test suites, kept outside the
// repository in ../shared/corpus. Tests that use it skip, saying so, when it is absent.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

inline std::filesystem::path corpus_dir() {
    std::string d = QM_CORPUS_DIR;
#ifdef _WIN32
    // A Unix path seen from Wine: the root file system is drive Z:.
    if (!d.empty() && d[0] == '/') d = "Z:" + d;
#endif
    return std::filesystem::path(d);
}

// Every archive of the corpus, in a stable order; empty when the corpus is absent.
inline std::vector<std::filesystem::path> corpus_archives() {
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    const auto dir = corpus_dir();
    if (!std::filesystem::is_directory(dir, ec)) return out;
    for (auto it = std::filesystem::recursive_directory_iterator(dir, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        const auto ext = it->path().extension().string();
        if (it->is_regular_file() && (ext == ".tar" || ext == ".ustar")) out.push_back(it->path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace qm::test
