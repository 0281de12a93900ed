// Every place a caller's text is formatted into a fixed buffer, fed any text: the
// manifest name taken from a package path, the copy's joined paths, the install log's
// path, the list dialog's search pattern, the reinstall list's pattern and the short
// name. Each result is terminated inside its buffer and is either whole or refused
// (never a path cut short into another one).
//
// Input: two texts separated by a NUL.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fileutil/file_ops.h"
#include "fileutil/guarded_copy.h"
#include "fileutil/install_log.h"
#include "packages/expand.h"
#include "packages/reinstall.h"
#include "packages/selection_dialog.h"

namespace {

// A buffer with a guard byte after it: nothing may be written there.
template <size_t N>
struct Guarded {
    char text[N];
    char guard = '\x7f';
    void check() const {
        if (guard != '\x7f' || !std::memchr(text, '\0', N)) abort();
    }
};

std::string expected_file_name(const std::string& path) {
    size_t from = (path.size() >= 2 && path[1] == ':') ? 2 : 0;
    const size_t sep = path.find_last_of("\\/");
    if (sep != std::string::npos && sep >= from) from = sep + 1;
    std::string base = path.substr(from);
    const size_t dot = base.rfind('.');
    if (dot != std::string::npos) base = base.substr(0, dot);
    return base.substr(0, 255);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string in(reinterpret_cast<const char*>(data), size);
    const size_t cut = in.find('\0');
    const std::string a = in.substr(0, cut);
    const std::string b = cut == std::string::npos ? std::string() : std::string(in.substr(cut + 1).c_str());

    {
        Guarded<256> out;
        qm::packages::split_file_name(a.c_str(), out.text, sizeof out.text);
        out.check();
        if (expected_file_name(a) != out.text) abort();
        Guarded<8> small;
        qm::packages::split_file_name(a.c_str(), small.text, sizeof small.text);
        small.check();
    }
    {
        Guarded<qm::fileutil::kMaxPath + 1> out;
        const bool ok = qm::fileutil::join_path(a.c_str(), b.c_str(), out.text, sizeof out.text);
        out.check();
        const bool sep = !a.empty() && a.back() == '\\';
        const std::string whole = a + (sep ? "" : "\\") + b;
        if (ok != (whole.size() <= qm::fileutil::kMaxPath)) abort();
        if (ok ? whole != out.text : out.text[0] != '\0') abort();
    }
    {
        Guarded<qm::fileutil::kMaxLogPath + 1> out;
        const bool ok = qm::fileutil::BuildLogPath(a.c_str(), out.text, sizeof out.text);
        out.check();
        const std::string whole = a + "\\kyinstall.log";
        if (ok != (whole.size() <= qm::fileutil::kMaxLogPath)) abort();
        if (ok && whole != out.text) abort();
    }
    {
        const int mode = b.empty() ? 0 : 1;
        qm::packages::prepare_selection(a.c_str(), mode);
        const char* pattern = qm::packages::SelectionPattern;
        if (!std::memchr(pattern, '\0', qm::packages::kSelectionPatternSize)) abort();
        const std::string whole = a + (mode ? "\\*.pkg" : "\\*.*");
        if (whole.size() < static_cast<size_t>(qm::packages::kSelectionPatternSize) ? whole != pattern
                                                                                     : pattern[0] != '\0')
            abort();
    }
    {
        // Only a root too long for its pattern is certain to find nothing here; others
        // may search the real disk, which is harmless (read only).
        const int r = qm::packages::GetReInstallPackageList(a.c_str());
        if (a.size() + 24 > 259 && r != -1) abort();
        if (qm::packages::PackageList.count < 0 || qm::packages::PackageList.count > qm::packages::MAX_PACKAGES)
            abort();
    }
    {
        const char* s = qm::fileutil::GetShortFileName(a.c_str());
        if (!std::memchr(s, '\0', 255)) abort();
    }
    return 0;
}
