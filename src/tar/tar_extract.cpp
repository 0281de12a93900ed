// Writes the current entry of an open context to disk, relative to the current
// directory, under the installer's rule: a file on disk that is newer than the member
// is never replaced. A replaced file is written beside the old one and renamed over it
// only when it is complete, so a failure never leaves a half-written file behind.
#include <cstdio>
#include <cstring>

#include "platform/errors.h"
#include "platform/fs.h"
#include "tar/tar.h"

namespace qm::tar {

namespace {

const char* etext(int e) noexcept { return plat::error_text_or_null(e); }

// Member data that the image really holds; refuses sizes that read as -1, do not fit
// 31 bits, or run past the end of the package.
bool refuse_bad_size(TarContext* c, const TarEntry* e) noexcept {
    const int64_t size = e->status.size;
    if (size < 0 || size > INT32_MAX) {
        TarFormat(c->message, "ERROR:File \"%s\" has an invalid size. Not extracted\n", e->name);
        return true;
    }
    const int64_t available = static_cast<int64_t>(c->image.get() + c->imageSize - e->data);
    if (size > available) {
        TarFormat(c->message,
                  "ERROR:File \"%s\" is cut short: %lld of %lld bytes in the package. "
                  "Not extracted\n",
                  e->name, static_cast<long long>(available < 0 ? 0 : available),
                  static_cast<long long>(size));
        return true;
    }
    return false;
}

constexpr const char* kWriteFailed = "ERROR:write file:\"%s\" failed. rc=%d %s\n";
constexpr const char* kModeFailed = "WARNING:set file:\"%s\" mode failed. rc=%d %s\n";
constexpr const char* kTimeFailed = "ERROR:utime file:\"%s\" failed. rc=%d %s\n";

// One of the messages above for the member and the error number; -1.
int fail(TarContext* c, const char* format, const char* name, int err) {
    TarFormat(c->message, format, name, err, etext(err));
    return -1;
}

// The member's data onto the open file in one write; on failure the file is closed.
int write_data(TarContext* c, const TarEntry* e, plat::OutFile& out) {
    if (e->status.size <= 0) return 0;
    const int err = out.write(e->data, static_cast<size_t>(e->status.size));
    if (err == 0) return 0;
    out.close();
    return fail(c, kWriteFailed, e->name, err);
}

// Data, time and mode onto an open file, then closed; the same messages as the
// step-by-step runtime calls they stand for.
int write_member(TarContext* c, const TarEntry* e, plat::OutFile& out, const char* path) {
    const char* name = e->name;
    if (write_data(c, e, out) != 0) return -1;
    if (int err = out.close()) return fail(c, kWriteFailed, name, err);
    if (int err = plat::change_mode(path, e->status.mode)) return fail(c, kModeFailed, name, err);
    // The mode may have made the file read-only; every extracted file ends up writable.
    plat::set_attributes_normal(path);
    if (int err = plat::set_file_time(path, e->status.mtime)) return fail(c, kTimeFailed, name, err);
    return 0;
}

// The same for a file that create_new has just made: mode and times go onto the open
// file where the platform allows, and a failure is reported as the step-by-step calls
// would report it (the first of close, mode, times that failed).
int write_new_member(TarContext* c, const TarEntry* e, plat::OutFile& out) {
    if (write_data(c, e, out) != 0) return -1;
    const plat::OutFile::Finish f = out.finish_new(e->name, e->status.mode, e->status.mtime);
    if (f.close) return fail(c, kWriteFailed, e->name, f.close);
    if (f.mode) return fail(c, kModeFailed, e->name, f.mode);
    if (f.time) return fail(c, kTimeFailed, e->name, f.time);
    return 0;
}

}  // namespace

int TarMakeParentDirs(TarContext* /*c*/, const char* name, char* message) noexcept {
    char dir[kNameSize];
    std::snprintf(dir, sizeof dir, "%s", name);
    char* slash = std::strrchr(dir, '/');
    if (!slash) return 0;
    *slash = '\0';
    if (!std::strchr(dir, '/')) return 0;

    char path[kNameSize] = "";
    size_t plen = 0;
    const char* p = dir;
    while (*p) {
        while (*p == '/') ++p;
        if (!*p) break;
        const char* end = p;
        while (*end && *end != '/') ++end;
        const size_t klen = static_cast<size_t>(end - p);
        char comp[kNameSize];
        std::memcpy(comp, p, klen);
        comp[klen] = '\0';
        if (plen > 0) path[plen++] = '/';
        std::memcpy(path + plen, comp, klen + 1);
        plen += klen;
        p = end;

        plat::PathStat st;
        int e = plat::path_stat(path, &st);
        if (e == plat::kENOENT) {
            if (int me = plat::make_dir(path)) {
                TarFormat(message, "ERROR: mkdir(%s) failed %d %s", path, me, etext(me));
                return -1;
            }
        } else if (e != 0) {
            TarFormat(message, "ERROR: stat(%s) failed %d %s", comp, e, etext(e));
            return -1;
        } else if (!st.is_dir) {
            TarFormat(message, "ERROR: %s is not a directory. Extract %s failed.", comp, name);
            return -1;
        }
    }
    return 0;
}

int TarExtractDir(const char* name, char* message) noexcept {
    plat::PathStat st;
    int e = plat::path_stat(name, &st);
    if (e == plat::kENOENT) {
        if (int me = plat::make_dir(name)) {
            TarFormat(message, "ERROR: extract dir \"%s\" failed. rc=%d %s\n", name, me, etext(me));
            return -1;
        }
        return 0;
    }
    if (e != 0) {
        TarFormat(message, "ERROR: verify dir \"%s\" failed. rc=%d %s\n", name, e, etext(e));
        return -1;
    }
    if (st.is_dir) return 0;
    TarFormat(message,
              "ERROR: name collision. \"%s\" on disk is a file. Name in archive is a directory.",
              name);
    return -1;
}

int TarExtractFile(TarContext* c) noexcept {
    const TarEntry* e = c->currentEntry;
    const char* name = e->name;
    if (refuse_bad_size(c, e)) return -1;

    plat::OutFile out;
    // Most members are new files. An exclusive create that succeeds answers what the
    // stat and the parent-directory checks would: the name was absent and every directory
    // on its way exists. Anything else (the file exists, a directory is missing, ...)
    // takes the long way below, which finds the same disk and gives its own messages.
    if (out.create_new(name) == 0) {
        if (write_new_member(c, e, out) != 0) {
            (void)plat::remove_file(name);
            return -1;
        }
        return 0;
    }

    plat::PathStat st;
    const int se = plat::path_stat(name, &st);
    const bool exists = se == 0;
    if (se != 0 && se != plat::kENOENT) {
        TarFormat(c->message, "ERROR:stat file:\"%s\" failed. rc=%d %s\n", name, se, etext(se));
        return -1;
    }
    if (exists) {
        if (e->status.mtime < st.mtime) {
            char member_time[64], disk_time[64];
            TarTimeText(e->status.mtime, member_time, sizeof member_time);
            TarTimeText(st.mtime, disk_time, sizeof disk_time);
            TarFormat(c->message,
                      "WARNING: file:\"%s\" on disk has newer mtime (%s vs %s). File not extracted.",
                      name, member_time, disk_time);
            return 2;
        }
        if (st.is_dir) {
            // The runtime cannot open a directory for writing.
            TarFormat(c->message, "ERROR:create file:\"%s\" failed. rc=%d %s\n", name,
                      plat::kEACCES, etext(plat::kEACCES));
            return -1;
        }
        if (int ce = plat::change_mode(name, e->status.mode | 0222u)) {
            TarFormat(c->message, "ERROR:chmod(-r) file:\"%s\" failed. rc=%d %s\n", name, ce,
                      etext(ce));
            return -1;
        }
    }
    if (TarMakeParentDirs(c, name, c->message) != 0) return -1;

    if (!exists) {
        if (int ce = out.create(name)) {
            TarFormat(c->message, "ERROR:create file:\"%s\" failed. rc=%d %s\n", name, ce,
                      etext(ce));
            return -1;
        }
        if (write_member(c, e, out, name) != 0) {
            // A file this expansion created and could not finish is not left half-made.
            (void)plat::remove_file(name);
            return -1;
        }
        return 0;
    }

    char tmp[kNameSize + 32];
    if (int ce = out.create_temp_beside(name, tmp, sizeof tmp)) {
        TarFormat(c->message, "ERROR:create file:\"%s\" failed. rc=%d %s\n", name, ce, etext(ce));
        return -1;
    }
    if (write_member(c, e, out, tmp) != 0) {
        (void)plat::remove_file(tmp);
        return -1;
    }
    if (int re = plat::replace_file(tmp, name)) {
        (void)plat::remove_file(tmp);
        TarFormat(c->message, "ERROR:create file:\"%s\" failed. rc=%d %s\n", name, re, etext(re));
        return -1;
    }
    return 0;
}

int TarExtract(TarContext* c) noexcept {
    c->message[0] = '\0';
    TarEntry* e = c->currentEntry;
    if (!e) return -1;
    const char* name = e->name;
    if (e->type != 'L' && name[0] != '\0') {
        if (const char* why = TarUnsafeNameReason(name)) {
            TarFormat(c->message, "ERROR:File \"%s\" unsafe name (%s). Not extracted\n", name, why);
            return -1;
        }
    }
    switch (e->type) {
        case '\0': {
            const size_t len = std::strlen(name);
            if (len > 0 && name[len - 1] == '/') return TarExtractDir(name, c->message);
            return TarExtractFile(c);
        }
        case '5':
            return TarExtractDir(name, c->message);
        case '0':
            return TarExtractFile(c);
        case 'L':
            TarFormat(c->message, "WARNING: File:\"%s\" long file name detected in tar.\n", name);
            return -1;
        default:
            TarFormat(c->message, "ERROR:File \"%s\" invalid type: %c. Not extracted\n", name,
                      e->type);
            return -1;
    }
}

}  // namespace qm::tar
