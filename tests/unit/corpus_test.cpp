// Archives other tar readers test themselves with: whatever they hold, an expansion and
// a manifest look-up never crash, never hang, never write outside the target; and where
// GNU tar extracts a plain file that our reader also reaches, the bytes are the same.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include "common/capture.h"
#include "common/corpus.h"
#include "common/temp_dir.h"
#include "packages/expand.h"
#include "tar/tar.h"

namespace fs = std::filesystem;
using qm::test::TempDir;

namespace {

// Everything below root other than the target directory's own tree.
std::vector<std::string> outside(const fs::path& root, const fs::path& target) {
    std::vector<std::string> found;
    const std::string inside = target.string();
    for (auto& e : fs::recursive_directory_iterator(root)) {
        const std::string p = e.path().string();
        const bool in = p == inside || (p.rfind(inside, 0) == 0 && (p[inside.size()] == '/' ||
                                                                    p[inside.size()] == '\\'));
        if (!in) found.push_back(p);
    }
    return found;
}

TEST(PeerCorpus, ExpansionStaysInsideTheTarget) {
    const auto archives = qm::test::corpus_archives();
    if (archives.empty()) GTEST_SKIP() << "peer corpus not found at " << qm::test::corpus_dir();
    int expanded = 0;
    for (const auto& a : archives) {
        TempDir t;
        const fs::path target = t / "target";
        fs::create_directory(target);
        qm::test::NotifyCapture cap;
        qm::packages::ExpandPackage(a.string().c_str(), target.string().c_str());
        fs::current_path(t.path());
        qm::packages::GetManifestFile(a.string().c_str(), target.string().c_str());
        fs::current_path(t.path());
        const auto stray = outside(t.path(), target);
        EXPECT_TRUE(stray.empty()) << a << " wrote " << stray.front();
        ++expanded;
    }
    EXPECT_GE(expanded, 100) << "the corpus should hold about a hundred archives";
    RecordProperty("archives", expanded);
}

#ifndef _WIN32
struct Reached {
    std::string data;
    int times = 0;
};

// The regular-file members our walk reaches, with their bytes (names seen more than
// once are marked so the comparison can leave them out).
std::map<std::string, Reached> reached_files(const fs::path& archive) {
    std::map<std::string, Reached> out;
    qm::tar::TarContextPtr c = qm::tar::TarCreate();
    if (qm::tar::TarOpen(c.get(), archive.string().c_str()) != qm::tar::TarLoad::Loaded) return out;
    do {
        const qm::tar::TarEntry& e = qm::tar::TarCurrent(c.get());
        const std::string name = e.name;
        const bool plain = (e.type == '0' || e.type == '\0') && !name.empty() && name.back() != '/';
        if (plain && e.status.size >= 0 && e.status.size <= e.available) {
            Reached& r = out[name];
            r.data.assign(reinterpret_cast<const char*>(e.data), static_cast<size_t>(e.status.size));
            ++r.times;
        }
    } while (qm::tar::TarNext(c.get()) == qm::tar::TarStep::Member);
    return out;
}

TEST(PeerCorpus, PlainFilesMatchWhatGnuTarExtracts) {
    const auto archives = qm::test::corpus_archives();
    if (archives.empty()) GTEST_SKIP() << "peer corpus not found at " << qm::test::corpus_dir();
    if (std::system("tar --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "GNU tar not installed";
    int compared = 0;
    for (const auto& a : archives) {
        const auto ours = reached_files(a);
        if (ours.empty()) continue;
        TempDir t;
        fs::create_directory(t / "ours");
        fs::create_directory(t / "gnu");
        qm::test::NotifyCapture cap;
        qm::packages::ExpandPackage(a.string().c_str(), (t / "ours").string().c_str());
        fs::current_path(t.path());
        const std::string cmd = "tar -xf '" + a.string() + "' -C '" + (t / "gnu").string() +
                                "' --no-same-owner --no-same-permissions >/dev/null 2>&1";
        (void)std::system(cmd.c_str());
        for (const auto& [name, r] : ours) {
            if (r.times != 1 || name.size() > 100) continue;
            const fs::path mine = t / "ours" / name;
            const fs::path theirs = t / "gnu" / name;
            std::error_code ec;
            if (!fs::is_regular_file(mine, ec) || !fs::is_regular_file(theirs, ec)) continue;
            EXPECT_EQ(qm::test::read_file(mine), qm::test::read_file(theirs)) << a << ": " << name;
            EXPECT_EQ(qm::test::read_file(mine), r.data) << a << ": " << name;
            ++compared;
        }
    }
    EXPECT_GT(compared, 20);
    RecordProperty("files_compared", compared);
    std::printf("compared %d files byte for byte with GNU tar\n", compared);
}
#endif

}  // namespace
