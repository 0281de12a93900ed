#include "fileutil/file_ops.h"

#include <cstring>

#include "platform/fileops.h"
#include "platform/sys.h"
#include "platform/textstream.h"

namespace qm::fileutil {

namespace {
// The result of GetShortFileName outlives the call: the script reads it afterwards.
char g_short_name[256];
constexpr size_t kShortRoom = 255;  // what the platform call is given
}  // namespace

int AppendFile(const char* destination, const char* source) noexcept {
    plat::TextAppend out;
    plat::TextIn in;
    const bool out_open = out.open(destination);
    const bool in_open = in.open(source);
    if (!out_open || !in_open) return 0;
    plat::FileId a, b;
    if (out.identity(&a) && in.identity(&b) && a == b) return 0;
    char buffer[kAppendChunk];
    while (!in.eof()) {
        const size_t n = in.read(buffer, sizeof buffer);
        if (in.error()) break;
        (void)out.write(buffer, n);
    }
    (void)out.close();
    (void)in.close();
    return 1;
}

const char* GetShortFileName(const char* path) noexcept {
    if (!path) path = "";
    const unsigned n = plat::short_path(path, g_short_name, kShortRoom);
    if (n == 0 || n >= kShortRoom) {
        const size_t len = std::strlen(path);
        if (len < kShortRoom)
            std::memcpy(g_short_name, path, len + 1);
        else
            g_short_name[0] = '\0';
    }
    g_short_name[sizeof g_short_name - 1] = '\0';
    return g_short_name;
}

int SetEnvVariable(const char* name, const char* value) noexcept { return plat::set_env(name, value); }

int RenDirectory(const char* old_path, const char* new_path) noexcept {
    return plat::move_file(old_path, new_path) ? 0 : -1;
}

int MyRenameFile(const char* old_path, const char* new_path) noexcept {
    return RenDirectory(old_path, new_path);
}

int MyDeleteFile(const char* path) noexcept { return plat::delete_file(path); }

}  // namespace qm::fileutil
