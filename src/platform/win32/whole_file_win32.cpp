// Windows side of the whole-file write. Every file being written is staged in a
// temporary beside its name, opened without sharing (nobody else can open it) and marked
// for deletion until it is named: a process ended during the write leaves nothing at the
// name and, once the system has closed its handles, nothing at all. A new file gets its
// name by a rename of the open file that never replaces; a replaced file is flushed
// (where a batched scope's stage saw it would replace one, by that stage, on the thread
// that staged it) and put in place with ReplaceFileA, which keeps the replaced file's ACL, creation time,
// attributes, short name and the letter case of its name. Where ReplaceFileA is refused
// because another program holds the old file (open without delete sharing), the content
// is written into the old file in place, as the runtime's "wb" would, and the temporary
// removed.
#include <fcntl.h>
#include <io.h>
#include <sys/utime.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/side.h"
#include "platform/whole_file.h"
#include "platform/whole_file_internal.h"
#include "platform/win32/errmap.h"
#include "platform/win32/ntfile.h"

namespace qm::plat {

namespace {

FILETIME to_filetime(uint64_t v) noexcept {
    FILETIME f;
    f.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFFu);
    f.dwHighDateTime = static_cast<DWORD>(v >> 32);
    return f;
}

// The file name part of path as the directory spells it: ReplaceFileA keeps that letter
// case on Windows itself; Wine, which renames, gives the file the case it is handed.
void keep_letter_case(char* path, size_t size) noexcept {
    if (std::strpbrk(path, "*?")) return;
    WIN32_FIND_DATAA found;
    if (!unique_find(FindFirstFileA(path, &found))) return;
    char* base = std::strrchr(path, '\\');
    base = base ? base + 1 : path;
    const size_t at = static_cast<size_t>(base - path), n = std::strlen(found.cFileName);
    if (n == std::strlen(base) && at + n < size) std::memcpy(base, found.cFileName, n + 1);
}

bool exists_error(DWORD e) noexcept { return e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS; }

// A temporary that nobody holds open is what a run that ended early left: removed.
// One that its writer still holds (without sharing) cannot be opened and stays. True
// when the name is free now.
bool remove_if_stale(const char* temp) noexcept {
    const unique_handle h(CreateFileA(temp, DELETE | FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h) return GetLastError() == ERROR_FILE_NOT_FOUND;
    set_attributes_on(h.get(), FILE_ATTRIBUTE_NORMAL);  // a read-only file refuses deletion
    return set_delete_pending(h.get(), true);  // gone once closed
}

// The key of a temporary's path in its scope, as the file system compares names: "/" as
// "\", letters without regard to case (FNV-1a).
uint64_t temp_key(const char* temp) noexcept {
    uint64_t h = 14695981039346656037ull;
    for (const char* q = temp; *q; ++q) {
        char c = *q == '/' ? '\\' : *q;
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return h;
}

// remove_if_stale, but for a temporary another write of the same scope has handed over
// to be put in place: that one belongs to a run still going, though nobody holds it.
bool remove_if_stale_in(WholeFileScope* scope, const char* temp) noexcept {
    if (!scope) return remove_if_stale(temp);
    WholeFileScopeState& s = scope->side();
    const std::lock_guard<std::mutex> hold(s.mutex);
    if (s.handed_over.count(temp_key(temp))) return false;
    return remove_if_stale(temp);
}

// A temporary closed to be put in place by the system, known to its scope as handed over
// for as long as this lives. Marked before the temporary's handle is closed: a write that
// finds it then either meets the handle or the mark. Without memory for the mark, the
// write goes on unmarked, as one without a scope does.
class HandedOver {
public:
    HandedOver(WholeFileScope* scope, const char* temp) noexcept : scope_(scope), key_(temp_key(temp)) {
        if (!scope_) return;
        WholeFileScopeState& s = scope_->side();
        const std::lock_guard<std::mutex> hold(s.mutex);
        try {
            marked_ = s.handed_over.insert(key_).second;
        } catch (...) {
        }
    }
    ~HandedOver() {
        if (!marked_) return;
        WholeFileScopeState& s = scope_->side();
        const std::lock_guard<std::mutex> hold(s.mutex);
        s.handed_over.erase(key_);
    }
    HandedOver(const HandedOver&) = delete;
    HandedOver& operator=(const HandedOver&) = delete;

private:
    WholeFileScope* scope_;
    uint64_t key_;
    bool marked_ = false;
};

// The times of end onto the open file: through the runtime's conversion (as utime) or
// exactly.
int apply_times(int crt_fd, HANDLE h, const WholeFileEnd& end) noexcept {
    if (end.times_kind == WholeFileEnd::Times::Keep) return 0;
    if (int e = fault::check(fault::Op::SetTime)) return e;
    if (end.times_kind == WholeFileEnd::Times::Seconds) {
        struct __utimbuf64 ut;
        ut.actime = ut.modtime = static_cast<__time64_t>(end.seconds);
        return ::_futime64(crt_fd, &ut) == 0 ? 0 : last_crt_error();
    }
    const FILETIME c = to_filetime(end.times.creation), a = to_filetime(end.times.access),
                   w = to_filetime(end.times.write);
    return SetFileTime(h, end.times.creation ? &c : nullptr, &a, &w) ? 0 : last_win32_error();
}

DWORD end_attributes(const WholeFileEnd& end) noexcept {
    if (end.mode_kind != WholeFileEnd::Mode::Exact || end.mode == 0) return FILE_ATTRIBUTE_NORMAL;
    return end.mode & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                       FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
}

int write_handle(HANDLE h, const char* p, size_t size) noexcept {
    while (size > 0) {
        if (int e = fault::check(fault::Op::Write)) return e;
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD done = 0;
        if (!WriteFile(h, p, chunk, &done, nullptr)) return last_win32_error();
        if (done == 0) return kENOSPC;
        p += done;
        size -= done;
    }
    return 0;
}

// A file that has its name closed: 0, or the error its close met (the write's: the data
// may not all be on the disk).
int close_named(WholeFileHandles& h) noexcept {
    const bool closed = h.file.reset();
    const int e = closed ? 0 : last_crt_error();
    h.handle = no_handle();
    return e;
}

}  // namespace

bool whole_file_remove_stale(const char* path) noexcept { return remove_if_stale(path); }

WholeFileScope::~WholeFileScope() = default;

// Each replacement a batched scope's stage recognised was flushed there; one it did not
// is flushed when it is named.
int WholeFileScope::flush() noexcept { return 0; }

bool WholeFile::look_at_name() noexcept { return GetFileAttributesA(path_) != INVALID_FILE_ATTRIBUTES; }

int WholeFile::look(PathStat* out) noexcept { return path_lstat(path_, out); }

// The stage's look here tells only that the name is taken: the commit looks again.
bool WholeFile::kept_look(PathStat*) noexcept { return false; }

// A replacement here takes the old file's attributes from the file itself, as it is
// replaced: a look the caller made has nothing to add.
void WholeFile::found_at_name(const OwnerLook&) noexcept {}

// The way to a name is not walked here when a write begins.
bool WholeFile::way_proven() const noexcept { return false; }

int WholeFile::make_writable(unsigned mode) noexcept { return change_mode(path_, mode); }

bool whole_file_settle_backup(const char* backup, const char* path) noexcept {
    if (MoveFileExA(backup, path, 0)) return true;
    // Only where the name is there again may the old content go.
    return exists_error(GetLastError()) && remove_if_stale(backup);
}

WholeFile::~WholeFile() { discard(); }

void WholeFile::discard() noexcept {
    // The temporary is marked for deletion while it has no name of its own; marked again
    // here in case a publish took the mark back and failed. Closing it removes it.
    if (handles_.handle != no_handle()) {
        set_attributes_on(handles_.handle, FILE_ATTRIBUTE_NORMAL);
        set_delete_pending(handles_.handle, true);
    }
    handles_.file.reset();  // closes the handle with it
    handles_.own.reset();
    handles_.handle = no_handle();
    if (temp_named_) (void)remove_if_stale(temp_);
    temp_named_ = staged_ = timed_ = tried_ = aside_ = false;
}

bool WholeFile::holds_content() const noexcept { return handles_.handle != no_handle() && staged_; }

int WholeFile::open_side(const char* path, Intent intent, WholeFileScope* scope, bool) noexcept {
    const int n = std::snprintf(path_, sizeof path_, "%s", path);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path_) return kENAMETOOLONG;
    if (scope) scope->sweep_once(path_);

    HANDLE h = INVALID_HANDLE_VALUE;
    for (unsigned k = 0; k < 16 && h == INVALID_HANDLE_VALUE; ++k) {
        if (!whole_file_temp_name(path_, k, temp_, sizeof temp_)) return kENAMETOOLONG;
        for (int attempt = 0; attempt < 2; ++attempt) {
            h = CreateFileA(temp_, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
            if (h != INVALID_HANDLE_VALUE) break;
            if (!exists_error(GetLastError())) return last_win32_error();
            if (!remove_if_stale_in(scope, temp_)) break;
        }
    }
    if (h == INVALID_HANDLE_VALUE) return kEEXIST;
    // Removed should the process end before it is complete; a temporary that cannot be
    // so marked is removed by its next write or the next sweep of its directory.
    if (!set_delete_pending(h, true)) temp_named_ = true;
    handles_.own.reset(h);
    handles_.handle = h;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_WRONLY);
    if (fd < 0) return kEMFILE;
    (void)handles_.own.release();  // the descriptor closes it now
    handles_.file.reset(fd);
    return 0;
}

int WholeFile::open_aside(const char* path, const char* aside, WholeFileScope*) noexcept {
    const int n = std::snprintf(path_, sizeof path_, "%s", path);
    const int m = std::snprintf(temp_, sizeof temp_, "%s", aside);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path_ || m < 0 || static_cast<size_t>(m) >= sizeof temp_)
        return kENAMETOOLONG;
    const HANDLE h = CreateFileA(temp_, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return last_win32_error();
    // Removed should the process end before it is staged; kept once published.
    if (!set_delete_pending(h, true)) temp_named_ = true;
    handles_.own.reset(h);
    handles_.handle = h;
    aside_ = true;
    const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY | _O_WRONLY);
    if (fd < 0) return kEMFILE;
    (void)handles_.own.release();  // the descriptor closes it now
    handles_.file.reset(fd);
    return 0;
}

CallResult WholeFile::keep_aside() noexcept {
    if (!set_delete_pending(handles_.handle, false)) return fail(FileStep::Place, last_win32_error());
    temp_named_ = false;  // it stays under its name: the caller's to place or remove
    const int closed = close_named(handles_);
    discard();
    return closed ? failed_with(FileStep::Write, closed) : CallResult{};
}

int WholeFile::write(const void* data, size_t size) noexcept {
    if (handles_.handle == no_handle()) return kEBADF;
    return write_handle(handles_.handle, static_cast<const char*>(data), size);
}

CallResult WholeFile::settle(bool replacing) noexcept {
    const HANDLE h = handles_.handle;
    if (!timed_) {
        if (int e = apply_times(handles_.file.get(), h, end_)) return fail(FileStep::Time, e);
        timed_ = true;
    }
    if (!replacing) {
        // The runtime's chmod would only set or clear the read-only attribute, and the
        // reset to normal attributes that follows it clears it again: the attributes
        // alone leave the same file.
        const DWORD attributes = end_attributes(end_);
        if (!set_attributes_on(h, attributes)) return fail(FileStep::Mode, last_win32_error());
        side_.attributed = attributes != FILE_ATTRIBUTE_NORMAL;
        return {};
    }
    // The end's attributes go on after ReplaceFileA, which gives the replacement the
    // replaced file's: a new file staged with others, now replacing, sheds them first.
    if (side_.attributed) {
        if (!set_attributes_on(h, FILE_ATTRIBUTE_NORMAL)) return fail(FileStep::Mode, last_win32_error());
        side_.attributed = false;
    }
    // The content reaches the disk before it takes the old file's place.
    if (!side_.flushed) {
        if (int e = fault::check(fault::Op::Flush)) return fail(FileStep::Write, e);
        if (!FlushFileBuffers(h)) return fail(FileStep::Write, last_win32_error());
        side_.flushed = true;
    }
    return {};
}

CallResult WholeFile::name_new() noexcept {
    const HANDLE h = handles_.handle;
    if (int e = naming_fault()) return fail(FileStep::Place, e);
    if (!set_delete_pending(h, false)) return fail(FileStep::Place, last_win32_error());
    if (!rename_open_file(h, path_)) {
        const DWORD code = GetLastError();
        // Marked again: the content stays, unnamed, for publish_replacing.
        (void)set_delete_pending(h, true);
        if (exists_error(code)) return failed_with(FileStep::Place, kEEXIST);
        return fail(FileStep::Place, crt_error_from_win32(code));
    }
    temp_named_ = false;
    const int closed = close_named(handles_);
    discard();
    return closed ? failed_with(FileStep::Write, closed) : CallResult{};
}

CallResult WholeFile::name_replacing() noexcept {
    if (int e = naming_fault()) return fail(FileStep::Place, e);
    if (!set_delete_pending(handles_.handle, false)) return fail(FileStep::Place, last_win32_error());
    temp_named_ = true;  // from here on a name of its own until it is put in place
    // Closed for ReplaceFileA, which opens it exclusively: until it is in place (or gone),
    // the scope's other writes of the name leave it alone.
    const HandedOver handed_over(scope_, temp_);
    const bool closed = handles_.file.reset();
    handles_.handle = no_handle();
    if (!closed) {
        const int e = last_crt_error();
        discard();
        return failed_with(FileStep::Write, e);
    }

    // The old content goes to a name of ours while it is replaced, where Wine's own
    // (three renames, an "rf*.tmp" between them) would be found by nobody: a replace
    // ended midway leaves it for the next write of the file or the scope's sweep. One
    // an earlier ended replace left is settled first.
    char backup[sizeof temp_];
    const bool backed = whole_file_backup_name(path_, backup, sizeof backup);
    if (backed) (void)whole_file_settle_backup(backup, path_);
    // Full paths: Wine's ReplaceFileA refuses a name without a directory part.
    char full_path[sizeof path_], full_temp[sizeof temp_], full_backup[sizeof temp_];
    const DWORD np = GetFullPathNameA(path_, sizeof full_path, full_path, nullptr);
    const DWORD nt = GetFullPathNameA(temp_, sizeof full_temp, full_temp, nullptr);
    const DWORD nb = backed ? GetFullPathNameA(backup, sizeof full_backup, full_backup, nullptr) : 0;
    const bool full = np > 0 && np < sizeof full_path && nt > 0 && nt < sizeof full_temp;
    const bool full_backed = full && nb > 0 && nb < sizeof full_backup;
    if (full) keep_letter_case(full_path, sizeof full_path);
    CallResult r;
    if (ReplaceFileA(full ? full_path : path_, full ? full_temp : temp_, full_backed ? full_backup : nullptr,
                     REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)) {
        temp_named_ = false;
    } else if (GetFileAttributesA(path_) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND) {
        // Refused after the old file had gone: the new one takes the free name.
        if (MoveFileExA(temp_, path_, 0))
            temp_named_ = false;
        else
            r = failed_with(FileStep::Place, last_win32_error());
    } else {
        r = write_in_place();
    }
    // The old content: removed once the name is there, given its name back otherwise.
    if (full_backed) (void)whole_file_settle_backup(backup, path_);
    discard();  // the temporary, where it is left
    if (!r.ok()) return r;
    // The attributes the end asks for, which the replaced file's replaced.
    if (!SetFileAttributesA(path_, end_attributes(end_))) return failed_with(FileStep::Mode, last_win32_error());
    return r;
}

// The old file is held by another program so that it cannot be replaced. Where it can
// still be opened for writing (its holder shares writing), the complete content goes
// into it in place; otherwise it stays as it was, and the error is that open's, the one
// the runtime's "wb" gives.
CallResult WholeFile::write_in_place() noexcept {
    const WholeFileEnd& end = end_;
    unique_handle old_own(CreateFileA(path_, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!old_own) return failed_with(FileStep::Place, last_win32_error());
    const HANDLE old = old_own.get();
    const unique_fd old_fd(::_open_osfhandle(reinterpret_cast<intptr_t>(old), _O_BINARY | _O_WRONLY));
    if (!old_fd) return failed_with(FileStep::Place, kEMFILE);
    (void)old_own.release();  // old_fd closes it now
    const unique_handle source(
        CreateFileA(temp_, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    const HANDLE src = source.get();
    int e = source ? 0 : last_win32_error();
    LARGE_INTEGER size = {}, old_size = {}, zero = {};
    if (!e && (!GetFileSizeEx(src, &size) || !GetFileSizeEx(old, &old_size))) e = last_win32_error();
    // Room first: a disk that cannot hold the new length refuses before a byte of the
    // old content is overwritten.
    if (!e && size.QuadPart > old_size.QuadPart &&
        (!SetFilePointerEx(old, size, nullptr, FILE_BEGIN) || !SetEndOfFile(old)))
        e = last_win32_error();
    if (!e && !SetFilePointerEx(old, zero, nullptr, FILE_BEGIN)) e = last_win32_error();
    char buffer[64 * 1024];
    while (!e) {
        DWORD got = 0;
        if (!ReadFile(src, buffer, sizeof buffer, &got, nullptr)) e = last_win32_error();
        if (e || got == 0) break;
        e = write_handle(old, buffer, got);
    }
    if (!e && (!SetFilePointerEx(old, size, nullptr, FILE_BEGIN) || !SetEndOfFile(old))) e = last_win32_error();
    CallResult r = e ? failed_with(FileStep::Write, e) : CallResult{};
    if (!e) {
        if (int te = apply_times(old_fd.get(), old, end)) r = failed_with(FileStep::Time, te);
        else if (int fe = fault::check(fault::Op::Flush)) r = failed_with(FileStep::Write, fe);
        else if (!FlushFileBuffers(old)) r = failed_with(FileStep::Write, last_win32_error());
    }
    return r;
}

namespace {

bool absent_error(DWORD e) noexcept { return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND; }

// Full paths for ReplaceFileA (Wine refuses a name without a directory part), the
// replaced name spelt as its directory spells it.
struct FullPath {
    char text[MAX_PATH * 4];
    bool ok = false;
    explicit FullPath(const char* path) noexcept {
        const DWORD n = GetFullPathNameA(path, sizeof text, text, nullptr);
        ok = n > 0 && n < sizeof text;
    }
};

}  // namespace

CallResult place_aside(const char* aside, const char* path, WholeFileScope*) noexcept {
    if (int e = fault::check(fault::Op::Rename)) return failed_with(FileStep::Place, e);
    // Within the volume only, never replacing.
    if (MoveFileExA(aside, path, 0)) return {};
    const DWORD code = GetLastError();
    if (exists_error(code)) return failed_with(FileStep::Place, kEEXIST);
    return failed_with_code(FileStep::Place, code);
}

CallResult place_aside_replacing(const char* aside, const char* path, const char* backup, const WholeFileEnd& end,
                                 WholeFileScope*) noexcept {
    if (int e = fault::check(fault::Op::Rename)) return failed_with(FileStep::Place, e);
    // ReplaceFileA refuses to replace a read-only file: it is made writable first, as the
    // runtime's step before a replace does, and read-only again should the replace fail.
    const DWORD old = GetFileAttributesA(path);
    const bool cleared = old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY);
    if (cleared && !SetFileAttributesA(path, old & ~FILE_ATTRIBUTE_READONLY)) return failed_now(FileStep::Mode);
    FullPath full_path(path), full_aside(aside), full_backup(backup);
    if (!full_path.ok || !full_aside.ok || !full_backup.ok) {
        if (cleared) SetFileAttributesA(path, old);
        return failed_with(FileStep::Place, kENAMETOOLONG);
    }
    keep_letter_case(full_path.text, sizeof full_path.text);
    if (!ReplaceFileA(full_path.text, full_aside.text, full_backup.text, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                      nullptr)) {
        const CallResult r = failed_now(FileStep::Place);
        // Refused midway (Wine renames): the old file back under its name if it left it.
        if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES)
            (void)MoveFileExA(backup, path, 0);
        if (cleared) SetFileAttributesA(path, old);
        return r;
    }
    // The attributes the end asks for, which the replaced file's replaced.
    if (!SetFileAttributesA(path, end_attributes(end))) return failed_now(FileStep::Mode);
    return {};
}

CallResult restore_backup(const char* backup, const char* path, bool read_only, WholeFileScope*) noexcept {
    if (GetFileAttributesA(backup) != INVALID_FILE_ATTRIBUTES) {
        if (!MoveFileExA(backup, path, MOVEFILE_REPLACE_EXISTING)) return failed_now(FileStep::Place);
    } else if (!absent_error(GetLastError())) {
        return failed_now(FileStep::Place);
    }
    const DWORD now = GetFileAttributesA(path);
    if (read_only && now != INVALID_FILE_ATTRIBUTES && !(now & FILE_ATTRIBUTE_READONLY) &&
        !SetFileAttributesA(path, now | FILE_ATTRIBUTE_READONLY))
        return failed_now(FileStep::Mode);
    return {};
}

CallResult remove_ours(const char* path) noexcept {
    if (int e = fault::check(fault::Op::Remove)) return failed_with(FileStep::Remove, e);
    (void)SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);  // a read-only file refuses deletion
    if (DeleteFileA(path) || absent_error(GetLastError())) return {};
    return failed_now(FileStep::Remove);
}

}  // namespace qm::plat
