// Any selection text handed to FillPackageList, as the file-open dialog would return it:
// no crash, no write outside the list, and exactly the entries a plain model of the rule
// gives (runs of spaces separate; each name joined to the directory; texts that do not
// fit a slot skipped; the first hundred kept). A text that yields nothing leaves the
// list exactly as it was.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "packages/package_list.h"

using namespace qm::packages;

namespace {

std::vector<std::string> model(const std::string& text, bool* changes) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ') ++i;
        const size_t start = i;
        while (i < text.size() && text[i] != ' ') ++i;
        if (i > start) tokens.push_back(text.substr(start, i - start));
    }
    std::vector<std::string> out;
    if (tokens.size() == 1) {
        if (tokens[0].size() < static_cast<size_t>(PACKAGE_NAME_SIZE)) out.push_back(tokens[0]);
    } else {
        for (size_t k = 1; k < tokens.size() && out.size() < static_cast<size_t>(MAX_PACKAGES); ++k) {
            const std::string e = tokens[0] + "\\" + tokens[k];
            if (e.size() < static_cast<size_t>(PACKAGE_NAME_SIZE)) out.push_back(e);
        }
    }
    *changes = !out.empty();
    return out;
}

// A list left by an earlier choice and partly read, so that "left as it was" is seen.
void earlier_list() {
    std::memset(&PackageList, 0x5a, sizeof PackageList);
    PackageList.count = 0;
    for (int i = 0; i < 5; ++i) append_package_entry("earlier%d", i);
    PackageList.cursor = 3;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The dialog's buffer holds 10000 bytes; the text ends at its first NUL.
    std::string text(reinterpret_cast<const char*>(data), size < 9999 ? size : 9999);
    text = text.c_str();
    std::vector<char> buffer(10000, '\0');
    std::memcpy(buffer.data(), text.data(), text.size());

    earlier_list();
    const PackageListTable before = PackageList;
    bool changes = false;
    const std::vector<std::string> want = model(text, &changes);

    const int n = FillPackageList(buffer.data());
    if (!changes) {
        if (n != 0 || std::memcmp(&before, &PackageList, sizeof before) != 0) abort();
        return 0;
    }
    if (n != static_cast<int>(want.size()) || PackageList.count != n || PackageList.cursor != 0)
        abort();
    for (int i = 0; i < MAX_PACKAGES; ++i) {
        const char* slot = PackageList.entries[i];
        if (i < n) {
            if (!std::memchr(slot, '\0', PACKAGE_NAME_SIZE) || want[static_cast<size_t>(i)] != slot)
                abort();
        } else if (std::memcmp(slot, before.entries[i], PACKAGE_NAME_SIZE) != 0) {
            abort();  // a slot beyond the new list was written
        }
    }
    // The reader hands out exactly the entries, then nothing.
    int read = 0;
    for (const char* e = GetFirstFile(); e; e = GetNextFile())
        if (++read > MAX_PACKAGES) abort();
    if (read != n) abort();
    return 0;
}
