#include "authoring/names_report.h"

#include "authoring/author_walk.h"
#include "extract/extract.h"

namespace qm::authoring {

namespace {

// Letter case as Windows ignores it; only ASCII letters are folded, since the bytes
// above them mean different letters in different code pages.
std::string folded(std::string s) {
    for (char& ch : s)
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
    return s;
}

std::string q(const std::string& s) { return "\"" + s + "\""; }

}  // namespace

void NamesReport::add(const tar::TarEntry& e, std::vector<std::string>& findings) {
    const std::string name = key_of(e.name);
    // Every directory on the way and the name itself: "Lib/a" and "lib/b" share "lib".
    for (size_t end = name.find('/'); ; end = name.find('/', end + 1)) {
        const std::string spelled = name.substr(0, end);
        const auto [it, fresh] = spellings_.emplace(folded(spelled), spelled);
        if (!fresh && it->second != spelled) {
            findings.push_back(q(it->second) + " and " + q(spelled) +
                               " differ only in letter case: on Windows they are one name, and what comes later "
                               "lands on what came first");
            it->second = spelled;  // each further spelling once
        }
        if (end == std::string::npos) break;
    }
    for (size_t at = 0; at < name.size();) {
        size_t end = name.find('/', at);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(at, end - at);
        if (part != "." && part != ".." && (part.back() == '.' || part.back() == ' ')) {
            findings.push_back("member " + q(e.name) + ": " + q(part) +
                               " ends in a dot or a space, which Windows drops from a name: it may meet another "
                               "name there");
            break;
        }
        at = end + 1;
    }
}

}  // namespace qm::authoring
