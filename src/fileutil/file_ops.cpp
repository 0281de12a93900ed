#include "fileutil/file_ops.h"

#include <cstring>

#include "platform/fileops.h"
#include "platform/sys.h"
#include "platform/textstream.h"
#include "session/session.h"

namespace qm::fileutil {

namespace {
// The result of GetShortFileName outlives the call: the script reads it afterwards.
char g_short_name[256];
constexpr size_t kShortRoom = 255;  // what the platform call is given

namespace win32 = plat::win32;

// A null text is a failed call with the platform's answer to a missing argument.
bool missing(const char* a, const char* b = "") noexcept {
    if (a && b) return false;
    session::fail(win32::kInvalidParameter);
    return true;
}

}  // namespace

int AppendFile(const char* destination, const char* source) noexcept {
    if (missing(destination, source)) return 0;
    plat::TextAppend out;
    plat::TextIn in;
    const bool out_open = out.open(destination);
    if (!out_open) session::fail_platform();
    const bool in_open = in.open(source);
    if (!in_open) session::fail_platform();
    if (!out_open || !in_open) return 0;
    plat::FileId a, b;
    if (out.identity(&a) && in.identity(&b) && a == b) {
        session::fail(win32::kInvalidParameter);
        return 0;
    }
    char buffer[kAppendChunk];
    while (!in.eof()) {
        const size_t n = in.read(buffer, sizeof buffer);
        if (in.error()) {
            session::fail(win32::kReadFault);
            break;
        }
        if (out.write(buffer, n) != n) session::fail(win32::kWriteFault);
    }
    if (!out.close()) session::fail(win32::kWriteFault);
    (void)in.close();
    return 1;
}

const char* GetShortFileName(const char* path) noexcept {
    if (missing(path)) path = "";
    const unsigned n = plat::short_path(path, g_short_name, kShortRoom);
    if (n == 0) session::fail_platform();
    if (n >= kShortRoom) session::fail(win32::kFilenameTooLong);
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

int SetEnvVariable(const char* name, const char* value) noexcept {
    // A null value removes the variable, as the platform call does; a null name is none.
    if (missing(name)) return 0;
    const int r = plat::set_env(name, value);
    if (r == 0) session::fail_platform();
    return r;
}

int RenDirectory(const char* old_path, const char* new_path) noexcept {
    if (missing(old_path, new_path)) return -1;
    if (plat::move_file(old_path, new_path)) return 0;
    session::fail_platform();
    return -1;
}

int MyRenameFile(const char* old_path, const char* new_path) noexcept {
    return RenDirectory(old_path, new_path);
}

int MyDeleteFile(const char* path) noexcept {
    if (missing(path)) return 0;
    const int r = plat::delete_file(path);
    if (r == 0) session::fail_platform();
    return r;
}

}  // namespace qm::fileutil
