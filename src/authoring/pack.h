// The packer: a tree of files and directories into a package that the reader accepts
// whole and that installs the same on every machine: POSIX ustar, members sorted by
// name with each directory before what it holds, owner and group 0 without names, modes
// 0644 or 0755, and one time for every member, so that an unchanged tree packs to the
// same bytes and a changed one to a newer package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qm::authoring {

struct PackOptions {
    bool has_mtime = false;  // the package time is given; otherwise the tree's newest
    int64_t mtime = 0;
};

struct PackReport {
    bool written = false;
    // Everything that keeps the tree from packing, each naming its path; nothing is
    // written when there is any.
    std::vector<std::string> problems;
    int64_t mtime = 0;  // the one time every member carries
    int files = 0;
    int directories = 0;
    int64_t bytes = 0;  // of the package
};

// Packs the contents of tree (not tree itself) into package, replacing it only once the
// new one is complete.
PackReport pack_tree(const char* tree, const char* package, const PackOptions& options);

// A package time: seconds since 1970 ("1700000000", "@1700000000"), or a UTC date and
// time "YYYY-MM-DD", "YYYY-MM-DD HH:MM[:SS]", "YYYY-MM-DDTHH:MM[:SS]", a final "Z" allowed.
bool parse_pack_time(const char* text, int64_t* out);

}  // namespace qm::authoring
