#include "fileutil/install_log.h"

#include <cstdio>
#include <cstring>

#include "platform/sys.h"
#include "platform/textstream.h"

namespace qm::fileutil {

namespace {
constexpr char kLogName[] = "kyinstall.log";
}

bool BuildLogPath(const char* root, char* out, size_t size) noexcept {
    if (size == 0) return false;
    const int n = root ? std::snprintf(out, size, "%s\\%s", root, kLogName)
                       : std::snprintf(out, size, "%s", kLogName);
    if (n < 0 || static_cast<size_t>(n) >= size || static_cast<size_t>(n) > kMaxLogPath) {
        out[0] = '\0';
        return false;
    }
    return true;
}

int AppendLogLine(const char* log_path, const char* line) noexcept {
    plat::TextAppend log;
    if (!log.open(log_path).ok()) return 0;
    (void)log.write(line, std::strlen(line));
    (void)log.close();
    return 1;
}

int AppendInstallLog(const char* line) noexcept {
    char path[kMaxLogPath + 1];
    if (!BuildLogPath(plat::nmsroot_at_load(), path, sizeof path)) return 0;
    return AppendLogLine(path, line);
}

}  // namespace qm::fileutil
