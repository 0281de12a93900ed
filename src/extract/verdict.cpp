#include "extract/verdict.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "extract/messages.h"
#include "platform/calendar.h"
#include "platform/errors.h"

namespace qm::extract {

namespace {

using tar::TarEntry;
using tar::TarFormat;

const char* etext(int e) noexcept { return plat::error_text_or_null(e); }

Verdict stop(Outcome outcome) noexcept {
    Verdict v;
    v.outcome = outcome;
    return v;
}

// How much directory work a file's name asks for: none without a "/"; with exactly one,
// none either (its directory must be there already, or come from an earlier member);
// with two or more, every missing directory on the way is made.
enum class Parents { None, MustExist, Made };

// A member whose way passes through a link, or a directory member whose name is one,
// would be written wherever the link points: refused like the other unsafe names.
Verdict refuse_link(const char* name) noexcept {
    Verdict v = stop(Outcome::Fail);
    TarFormat(v.message, text::kUnsafeName, name, "link in the path");
    return v;
}

// v, unless a directory the platform needs for it (after a "\") is missing: then the
// failure of the step that needs it, own_format being the member's own step.
Verdict unless_unmade(const OnDisk& d, const char* name, const char* own_format, const Verdict& v) noexcept {
    if (d.unmade_error == 0) return v;
    Verdict f = stop(Outcome::Fail);
    if (d.unmade_step[0])
        TarFormat(f.message, text::kMkdir, d.unmade_step, d.unmade_error, etext(d.unmade_error));
    else
        TarFormat(f.message, own_format, name, d.unmade_error, etext(d.unmade_error));
    f.error = d.unmade_error;
    // A directory that is not there (rather than something else in its place) is one a
    // target may have: the checker, which sees none, assumes it.
    f.needs_parent = d.unmade_error == plat::kENOENT;
    return f;
}

Parents parents_of(const char* name) noexcept {
    const char* last = std::strrchr(name, '/');
    if (!last) return Parents::None;
    return std::memchr(name, '/', static_cast<size_t>(last - name)) ? Parents::Made : Parents::MustExist;
}

Verdict decide_file(const TarEntry& e, const OnDisk& d) noexcept {
    const char* name = e.name;
    const int64_t size = e.status.size;
    if (size < 0 || size > INT32_MAX) {
        Verdict v = stop(Outcome::Refuse);
        TarFormat(v.message, text::kInvalidSize, name);
        return v;
    }
    if (size > e.available) {
        Verdict v = stop(Outcome::Refuse);
        TarFormat(v.message, text::kCutShort, name,
                  static_cast<long long>(e.available < 0 ? 0 : e.available), static_cast<long long>(size));
        return v;
    }
    if (name[0] == '\0') {
        // There is no file to create under an empty name.
        Verdict v = stop(Outcome::Fail);
        TarFormat(v.message, text::kCreateFile, name, plat::kENOENT, etext(plat::kENOENT));
        v.error = plat::kENOENT;
        return v;
    }
    if (!d.looked && !d.way_looked) return stop(Outcome::Write);
    if (d.link_on_way) return refuse_link(name);

    switch (d.at_name.kind) {
        case DiskKind::Unknown: {
            Verdict v = stop(Outcome::Fail);
            TarFormat(v.message, text::kStatFile, name, d.at_name.error, etext(d.at_name.error));
            v.error = d.at_name.error;
            return v;
        }
        case DiskKind::File:
        case DiskKind::Directory: {
            if (e.status.mtime < d.at_name.mtime) {
                Verdict v = stop(Outcome::KeepNewer);
                char member_time[64], disk_time[64];
                TarTimeText(e.status.mtime, member_time, sizeof member_time);
                TarTimeText(d.at_name.mtime, disk_time, sizeof disk_time);
                TarFormat(v.message, text::kNewerOnDisk, name, member_time, disk_time);
                return v;
            }
            if (d.at_name.kind == DiskKind::Directory) {
                // The runtime cannot open a directory for writing.
                Verdict v = stop(Outcome::Fail);
                TarFormat(v.message, text::kCreateFile, name, plat::kEACCES, etext(plat::kEACCES));
                v.error = plat::kEACCES;
                return v;
            }
            return stop(Outcome::Replace);
        }
        case DiskKind::Link:
            // Replaced by the file, whatever it points to and whenever it was made.
            return stop(Outcome::Replace);
        case DiskKind::Absent:
            break;
    }

    const Parents parents = parents_of(name);
    if (parents == Parents::None || d.way.kind == DiskKind::Directory)
        return unless_unmade(d, name, text::kCreateFile, stop(Outcome::Write));
    Verdict v = stop(Outcome::Fail);
    if (parents == Parents::MustExist) {
        // Nothing is made for such a name, so its creation fails as the runtime reports
        // a path whose directory is not there (a file in its place included).
        const int err = d.way.kind == DiskKind::Unknown ? d.way.error : plat::kENOENT;
        TarFormat(v.message, text::kCreateFile, name, err, etext(err));
        v.error = err;
        v.needs_parent = d.way.kind == DiskKind::Absent;
        return v;
    }
    switch (d.way.kind) {
        case DiskKind::Absent:
            v.outcome = Outcome::Write;
            v.make_dirs = true;
            return unless_unmade(d, name, text::kCreateFile, v);
        case DiskKind::Unknown:
            TarFormat(v.message, text::kStatDir, d.way_component, d.way.error, etext(d.way.error));
            v.error = d.way.error;
            break;
        default:
            TarFormat(v.message, text::kNotADirectory, d.way_component, name);
            v.error = plat::kENOTDIR;
            break;
    }
    return v;
}

// A directory member makes only its last component; the rest must be there.
Verdict decide_directory(const TarEntry& e, const OnDisk& d) noexcept {
    const char* name = e.name;
    if (name[0] == '\0') {
        // There is no directory to make under an empty name.
        Verdict v = stop(Outcome::Fail);
        TarFormat(v.message, text::kExtractDir, name, plat::kENOENT, etext(plat::kENOENT));
        v.error = plat::kENOENT;
        return v;
    }
    if (!d.looked && !d.way_looked) {
        Verdict v = stop(Outcome::Directory);
        v.make_dirs = true;
        return v;
    }
    if (d.link_on_way || d.at_name.kind == DiskKind::Link) return refuse_link(name);
    Verdict v = stop(Outcome::Fail);
    switch (d.at_name.kind) {
        case DiskKind::Directory:
            return stop(Outcome::Directory);
        case DiskKind::File:
            TarFormat(v.message, text::kCollision, name);
            return v;
        case DiskKind::Unknown:
            TarFormat(v.message, text::kVerifyDir, name, d.at_name.error, etext(d.at_name.error));
            v.error = d.at_name.error;
            return v;
        case DiskKind::Link:
        case DiskKind::Absent:
            break;
    }
    if (d.way.kind == DiskKind::Directory) {
        v.outcome = Outcome::Directory;
        v.make_dirs = true;
        return unless_unmade(d, name, text::kExtractDir, v);
    }
    const int err = d.way.kind == DiskKind::Unknown ? d.way.error : plat::kENOENT;
    TarFormat(v.message, text::kExtractDir, name, err, etext(err));
    v.error = err;
    v.needs_parent = d.way.kind == DiskKind::Absent;
    return v;
}

}  // namespace

Verdict decide_member(const TarEntry& e, const OnDisk& d) noexcept {
    const char* name = e.name;
    if (e.type != 'L' && name[0] != '\0') {
        if (const char* why = TarUnsafeNameReason(name)) {
            Verdict v = stop(Outcome::Refuse);
            TarFormat(v.message, text::kUnsafeName, name, why);
            return v;
        }
    }
    switch (e.type) {
        case '\0':
        case '0':
        case '5':
            return tar::TarIsDirectory(e) ? decide_directory(e, d) : decide_file(e, d);
        case 'L': {
            Verdict v = stop(Outcome::Refuse);
            TarFormat(v.message, text::kLongName, name);
            return v;
        }
        default: {
            Verdict v = stop(Outcome::Refuse);
            TarFormat(v.message, text::kInvalidType, name, e.type);
            return v;
        }
    }
}

const char* outcome_name(Outcome o) noexcept {
    switch (o) {
        case Outcome::Write: return "write";
        case Outcome::Replace: return "replace";
        case Outcome::KeepNewer: return "keep-newer";
        case Outcome::Directory: return "directory";
        case Outcome::Refuse: return "refuse";
        case Outcome::Fail: return "fail";
        case Outcome::NotReached: return "not-reached";
    }
    return "";
}

void TarTimeText(int64_t t, char* out, size_t size) noexcept {
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const time_t tt = static_cast<time_t>(t);
    struct tm tmv;
    bool ok = static_cast<int64_t>(tt) == t && t >= 0;
    ok = ok && plat::local_calendar(tt, &tmv);
    if (!ok || tmv.tm_wday < 0 || tmv.tm_wday > 6 || tmv.tm_mon < 0 || tmv.tm_mon > 11) {
        std::snprintf(out, size, "(invalid time %lld)", static_cast<long long>(t));
        return;
    }
    // The Windows runtime's ctime layout: the day of the month always has two digits.
    std::snprintf(out, size, "%s %s %02d %02d:%02d:%02d %d", kDays[tmv.tm_wday],
                  kMonths[tmv.tm_mon], tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec,
                  tmv.tm_year + 1900);
}

}  // namespace qm::extract
