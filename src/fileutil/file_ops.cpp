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
bool missing(session::Status& st, const char* a, const char* b = "") noexcept {
    if (a && b) return false;
    st.add(win32::kInvalidParameter);
    return true;
}

int append(const char* destination, const char* source, session::Status& st) noexcept {
    if (missing(st, destination, source)) return 0;
    plat::TextAppend out;
    plat::TextIn in;
    const plat::CallResult out_open = out.open(destination);
    st.add(out_open);
    const plat::CallResult in_open = in.open(source);
    st.add(in_open);
    if (!out_open.ok() || !in_open.ok()) return 0;
    plat::FileId a, b;
    if (out.identity(&a) && in.identity(&b) && a == b) {
        st.add(win32::kInvalidParameter);
        return 0;
    }
    char buffer[kAppendChunk];
    while (!in.eof()) {
        const size_t n = in.read(buffer, sizeof buffer);
        if (in.error()) {
            st.add(win32::kReadFault);
            break;
        }
        if (out.write(buffer, n) != n) st.add(win32::kWriteFault);
    }
    if (!out.close()) st.add(win32::kWriteFault);
    (void)in.close();
    return 1;
}

const char* short_name(const char* path, session::Status& st) noexcept {
    if (missing(st, path)) path = "";
    unsigned n = 0;
    st.add(plat::short_path(path, g_short_name, kShortRoom, &n));
    if (n >= kShortRoom) st.add(win32::kFilenameTooLong);
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

// The platform call's outcome in the convention of the export that stands for it.
int nonzero_on_success(const plat::CallResult& r, session::Status& st) noexcept {
    st.add(r);
    return r.ok() ? 1 : 0;
}

int zero_on_success(const plat::CallResult& r, session::Status& st) noexcept {
    st.add(r);
    return r.ok() ? 0 : -1;
}

}  // namespace

int AppendFile(const char* destination, const char* source) noexcept {
    return session::reporting([&](session::Status& st) { return append(destination, source, st); });
}

const char* GetShortFileName(const char* path) noexcept {
    return session::reporting([&](session::Status& st) { return short_name(path, st); });
}

int SetEnvVariable(const char* name, const char* value) noexcept {
    // A null value removes the variable, as the platform call does; a null name is none.
    return session::reporting([&](session::Status& st) {
        return missing(st, name) ? 0 : nonzero_on_success(plat::set_env(name, value), st);
    });
}

int RenDirectory(const char* old_path, const char* new_path) noexcept {
    return session::reporting([&](session::Status& st) {
        return missing(st, old_path, new_path) ? -1 : zero_on_success(plat::move_file(old_path, new_path), st);
    });
}

int MyRenameFile(const char* old_path, const char* new_path) noexcept {
    return RenDirectory(old_path, new_path);
}

int MyDeleteFile(const char* path) noexcept {
    return session::reporting(
        [&](session::Status& st) { return missing(st, path) ? 0 : nonzero_on_success(plat::delete_file(path), st); });
}

}  // namespace qm::fileutil
