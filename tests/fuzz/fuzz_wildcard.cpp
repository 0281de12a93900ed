// The wildcard matcher on any pattern and name: no crash, no runaway backtracking, and
// the rules that must hold whatever the input ("*" matches everything; a pattern without
// wildcards matches exactly its own text, letters folded).
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/posix/wildcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const size_t cut = in.find('\n');
    std::string pattern = in.substr(0, cut);
    std::string name = cut == std::string::npos ? "" : in.substr(cut + 1);
    pattern = pattern.c_str();  // stop at an embedded NUL, as the C text would
    name = name.c_str();
    const bool m = qm::plat::wildcard_match(pattern.c_str(), name.c_str());
    if (!qm::plat::wildcard_match("*", name.c_str())) abort();
    if (pattern.find_first_of("*?") == std::string::npos) {
        bool same = pattern.size() == name.size();
        for (size_t i = 0; same && i < name.size(); ++i) {
            auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; };
            same = fold(pattern[i]) == fold(name[i]);
        }
        if (!same && m) abort();
        if (same && !m) abort();
    }
    return 0;
}
