#include "packages/transaction.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "extract/member.h"
#include "extract/messages.h"
#include "extract/staged.h"
#include "packages/journal.h"
#include "platform/alloc.h"
#include "platform/errors.h"
#include "platform/fs.h"
#include "platform/host.h"
#include "platform/journal_file.h"
#include "platform/pipeline.h"
#include "platform/whole_file.h"
#include "session/session.h"
#include "tar/walk.h"

namespace qm::packages {

namespace {

using extract::Outcome;
using extract::StagedMember;
using Kind = StagedMember::Kind;
using tar::TarEntry;
using tar::TarFormat;
namespace win32 = plat::win32;

constexpr char kWholeVar[] = "QUILLMAR_WHOLE_PACKAGE";

// The texts of a whole package that is not expanded, and of a journal a later call
// cannot use.
constexpr const char* kStops = "%s Package not expanded.";
constexpr const char* kDamaged =
    "ERROR: package \"%s\" has a damaged header at offset %lld, before its end. Package not expanded.";
constexpr const char* kNameless =
    "ERROR: package \"%s\" has a nameless header at offset %lld, before its end. Package not expanded.";
constexpr const char* kHidden =
    "ERROR: package \"%s\" has a blank block at offset %lld with %lld member(s) after it. Package not expanded.";
constexpr const char* kNoJournal =
    "ERROR: the journal of the expansion into \"%s\" cannot be written. rc=%d %s. Package not expanded.";
constexpr const char* kUnderWay = "ERROR: another expansion into \"%s\" is under way. Package not expanded.";
constexpr const char* kUnusable = "ERROR: the journal of an ended expansion in \"%s\" cannot be used (%s). Nothing changed.";
constexpr const char* kNotUndone =
    "ERROR: what an ended expansion changed in \"%s\" cannot all be taken back; its journal stays for the next try.";
constexpr const char* kNoMemory = "ERROR: out of memory. Package not expanded.";

// A journal larger than this is no journal of ours (a member's line is a few hundred
// bytes at most).
constexpr int64_t kLargestJournal = int64_t{1} << 30;

const char* shown(const char* text) noexcept { return text ? text : "(null)"; }

void fail(session::Status& st, unsigned long code, const char* format, const char* a, long long b = 0,
          long long c = 0) noexcept {
    session::Status s;
    s.code = code;
    TarFormat(s.message, format, a, b, c);
    st.add(s);
}

void fail_with_error(session::Status& st, const char* format, const char* target, int error) noexcept {
    session::Status s;
    s.code = session::code_from_crt(error);
    TarFormat(s.message, format, target, error, plat::error_text_or_null(error));
    st.add(s);
}

void unusable(session::Status& st, unsigned long code, const char* target, const char* why) noexcept {
    session::Status s;
    s.code = code;
    TarFormat(s.message, kUnusable, shown(target), why);
    st.add(s);
}

// A member's own text as the first sentence of the package's refusal.
void refuse_with(session::Status& st, unsigned long code, const char* member_text) noexcept {
    char text[tar::kMessageSize];
    std::snprintf(text, sizeof text, "%s", member_text);
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == '\n') text[--n] = '\0';
    if (n > 0 && text[n - 1] != '.' && n + 1 < sizeof text) std::memcpy(text + n, ".", 2);
    session::Status s;
    s.code = code;
    TarFormat(s.message, kStops, text);
    st.add(s);
}

// A path as one key, as the platform names one file: "\" and "/" alike, empty and "."
// components dropped; where names fold case, A to Z as a to z and a component's
// trailing dots and blanks dropped. May throw std::bad_alloc.
std::string key_of(const char* path, size_t len, bool fold) {
    std::string key;
    key.reserve(len);
    size_t i = 0;
    while (i < len) {
        while (i < len && (path[i] == '/' || path[i] == '\\')) ++i;
        size_t end = i;
        while (end < len && path[end] != '/' && path[end] != '\\') ++end;
        size_t last = end;
        if (fold)
            while (last > i + 1 && (path[last - 1] == '.' || path[last - 1] == ' ')) --last;
        if (last > i && !(last == i + 1 && path[i] == '.')) {
            if (!key.empty()) key += '/';
            for (size_t k = i; k < last; ++k) {
                const char ch = path[k];
                key += fold && ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch + 32) : ch;
            }
        }
        i = end;
    }
    return key;
}

// One member that changes something, and what its staging needs of the package.
struct Step {
    StagedMember m;
    size_t name_at = 0;  // in Plan::names
    const unsigned char* data = nullptr;
    tar::TarStatus status;
    int64_t offset = 0;
    plat::OwnerLook owner;  // Replace: what the plan's look found at the name
};

// What the package will have made of the target, member by member: every member is
// decided against the disk overlaid with it, as an expansion that wrote each member
// before deciding the next would have seen it.
class Plan {
public:
    std::vector<Step> steps;
    std::string names;  // each step's name, NUL-terminated
    int64_t written = 0, kept = 0;
    bool no_memory = false;

    extract::PathProbe probe() noexcept { return extract::PathProbe{&Plan::at, this}; }

    // May throw std::bad_alloc.
    void record(const TarEntry& e, const extract::OnDisk& d, const extract::Verdict& v) {
        switch (v.outcome) {
            case Outcome::KeepNewer:
                ++kept;
                return;
            case Outcome::Directory:
                ++written;
                if (!v.make_dirs) return;
                add(e, Kind::Directory);
                made_[key(e.name, std::strlen(e.name))] = Planned{directory(), -1};
                return;
            case Outcome::Write: {
                ++written;
                Step& s = add(e, Kind::NewFile);
                s.m.made_from = v.make_dirs ? static_cast<int16_t>(d.way_index) : -1;
                s.m.aside_dir = aside_for_new(e.name);
                if (v.make_dirs)
                    extract::for_each_way_component(e, [&](const char* path, const char*, int index) {
                        if (index >= d.way_index) made_[key(path, std::strlen(path))] = Planned{directory(), -1};
                        return true;
                    });
                made_[key(e.name, std::strlen(e.name))] = Planned{file(e), static_cast<int32_t>(steps.size() - 1)};
                return;
            }
            case Outcome::Replace: {
                ++written;
                const std::string k = key(e.name, std::strlen(e.name));
                const auto it = made_.find(k);
                Step& s = add(e, Kind::Replace);
                if (it != made_.end() && it->second.step >= 0) {
                    // A member before it writes the name: this one takes its place, and the
                    // earlier one only makes the directories on the way, where it did.
                    Step& earlier = steps[static_cast<size_t>(it->second.step)];
                    s.m.kind = earlier.m.kind;
                    s.m.read_only = earlier.m.read_only;
                    s.m.aside_dir = earlier.m.aside_dir;
                    earlier.m.kind = earlier.m.made_from >= 0 ? Kind::Way : Kind::None;
                } else {
                    s.m.read_only = d.at_name.kind == extract::DiskKind::File && d.at_name.read_only;
                    s.m.aside_dir = directory_part(e.name);
                    s.owner = d.at_name.owner;
                }
                made_[k] = Planned{file(e), static_cast<int32_t>(steps.size() - 1)};
                return;
            }
            default:
                return;
        }
    }

    // Every step's name, once the names no longer move.
    void settle_names() noexcept {
        for (Step& s : steps) s.m.name = names.c_str() + s.name_at;
    }

private:
    struct Planned {
        extract::DiskEntry entry;
        int32_t step = -1;  // a file: the step that writes it
    };

    std::string key(const char* path, size_t len) const { return key_of(path, len, fold_); }

    // A directory the expansion makes has the time it is made, as the plan's picture has it.
    extract::DiskEntry directory() const noexcept { return extract::DiskEntry{extract::DiskKind::Directory, 0, now_}; }
    static extract::DiskEntry file(const TarEntry& e) noexcept {
        return extract::DiskEntry{extract::DiskKind::File, 0, e.status.mtime};
    }

    Step& add(const TarEntry& e, Kind kind) {
        Step s;
        s.m.kind = kind;
        s.m.index = static_cast<uint32_t>(index_++);
        s.name_at = names.size();
        s.data = e.data;
        s.status = e.status;
        s.offset = e.offset;
        names.append(e.name).push_back('\0');
        steps.push_back(s);
        return steps.back();
    }

    // The length of name's directory part ("a/b" of "a/b/f"), a "/" before it dropped.
    static uint16_t directory_part(const char* name) noexcept {
        size_t n = std::strlen(name);
        while (n > 0 && name[n - 1] != '/' && name[n - 1] != '\\') --n;
        while (n > 0 && (name[n - 1] == '/' || name[n - 1] == '\\')) --n;
        return n <= UINT16_MAX ? static_cast<uint16_t>(n) : 0;
    }

    // Where a new file is staged: beside its name (its way is made before anything is
    // staged), so that the rename that names it stays in one directory. A name holding a
    // "\" is staged in the target itself, as its way is the platform's to walk.
    static uint16_t aside_for_new(const char* name) noexcept {
        return std::strchr(name, '\\') ? 0 : directory_part(name);
    }

    // The probe: what the members before have planned at path, else what is on disk. In a
    // directory the package makes, nothing is on disk yet: a fresh install looks at none
    // of its names.
    static extract::DiskEntry at(void* self, const char* path) noexcept {
        Plan& p = *static_cast<Plan*>(self);
        try {
            std::string k = p.key(path, std::strlen(path));
            const auto it = p.made_.find(k);
            if (it != p.made_.end()) return it->second.entry;
            const size_t slash = k.rfind('/');
            if (slash != std::string::npos) {
                k.resize(slash);  // its directory's key
                const auto up = p.made_.find(k);
                if (up != p.made_.end() && up->second.entry.kind == extract::DiskKind::Directory) return {};
            }
        } catch (const std::bad_alloc&) {
            p.no_memory = true;
        }
        return p.disk_.at(p.disk_.context, path);
    }

    std::unordered_map<std::string, Planned> made_;
    const extract::PathProbe disk_ = extract::DiskProbe();
    const bool fold_ = plat::names_fold_case();
    const int64_t now_ = static_cast<int64_t>(std::time(nullptr));
    uint64_t index_ = 0;
};

// Decides every member of the package; false with st set when the package would stop
// early (nothing is written then). May throw std::bad_alloc.
bool plan_package(tar::TarContext* c, const char* package, Plan& plan, session::Status& st) {
    const extract::PathProbe probe = plan.probe();
    extract::WayCache way;
    const extract::OnDisk nothing_looked;
    extract::OnDisk d;
    extract::Verdict stop;
    const tar::Ending end = tar::walk_package(c, [&](const TarEntry& e) {
        // The header alone first: nothing is looked at for a name that may not be written.
        extract::Verdict v = extract::decide_member(e, nothing_looked);
        if (v.outcome == Outcome::Write || v.outcome == Outcome::Directory) {
            extract::look_up_way_and_name(e, probe, way, d);
            v = extract::decide_member(e, d);
        }
        if (extract::stops_expansion(v.outcome)) {
            stop = v;
            return false;
        }
        plan.record(e, d, v);
        return true;
    });
    if (plan.no_memory) throw std::bad_alloc();
    const long long at = static_cast<long long>(end.offset);
    switch (end.kind) {
        case tar::Ending::Kind::Halted:
            refuse_with(st, stop.error != 0 ? session::code_from_crt(stop.error) : win32::kInvalidData, stop.message);
            return false;
        case tar::Ending::Kind::RefusedType:
            refuse_with(st, win32::kInvalidData, tar::TarMessage(c));
            return false;
        case tar::Ending::Kind::Damaged:
            fail(st, win32::kInvalidData, kDamaged, shown(package), at);
            return false;
        case tar::Ending::Kind::Nameless:
            fail(st, win32::kInvalidData, kNameless, shown(package), at);
            return false;
        case tar::Ending::Kind::EndBlock:
            if (const int64_t after = tar::TarHeadersAfter(c, end.offset, nullptr, 0)) {
                fail(st, win32::kInvalidData, kHidden, shown(package), at, static_cast<long long>(after));
                return false;
            }
            return true;
        case tar::Ending::Kind::PackageEnd:
            return true;
    }
    return true;
}

// A member being staged, on whichever thread takes it.
struct StageJob {
    TarEntry entry;
    char aside[tar::kNameSize + 64];
    bool replacing = false;
    plat::OwnerLook owner;
    extract::MemberWrite member;
};

void stage_job(StageJob& j, void* scope) noexcept {
    j.member.stage_aside(j.entry, j.aside, j.replacing, j.owner, static_cast<plat::WholeFileScope*>(scope));
}

bool stages(const StagedMember& m) noexcept { return m.kind == Kind::NewFile || m.kind == Kind::Replace; }

// Every staged member's content under its name of ours; false with st set at the first
// that fails (what was staged stays, for the undo).
bool stage_all(Plan& plan, const char* tag, int64_t package_size, const ExpandObserver* observer,
               plat::WholeFileScope& scope, unsigned& workers, session::Status& st) noexcept {
    const auto pipeline = try_make<plat::Pipeline<StageJob>>(plat::writing_threads(), &stage_job, &scope);
    if (!pipeline) {
        fail(st, win32::kNotEnoughMemory, "%s", kNoMemory);
        return false;
    }
    plat::Pipeline<StageJob>& p = *pipeline;
    workers = p.workers();
    bool failed = false;
    const auto take = [&] {
        StageJob& j = p.take();
        if (failed) return;
        const extract::Extraction x = j.member.staged_outcome();
        if (extract::stops_expansion(x.outcome)) {
            failed = true;
            st.add(x.status);
        }
    };
    for (const Step& s : plan.steps) {
        if (!stages(s.m)) continue;
        if (observer) observer->member(observer->context, s.m.index + 1, s.offset, package_size);
        if (p.full()) take();
        if (failed) break;
        StageJob& j = p.next();
        std::snprintf(j.entry.name, sizeof j.entry.name, "%s", s.m.name);
        j.entry.type = '0';
        j.entry.status = s.status;
        j.entry.data = s.data;
        j.entry.available = s.status.size;
        j.entry.offset = s.offset;
        j.replacing = s.m.kind == Kind::Replace;
        j.owner = s.owner;
        if (!extract::staged_path(s.m, tag, j.aside, sizeof j.aside)) j.aside[0] = '\0';
        p.give();
    }
    while (!p.empty()) take();
    return !failed;
}

// A member given its name, or its backup let go, on whichever thread takes it.
struct NameJob {
    const StagedMember* m = nullptr;
    extract::Extraction x;
    bool finished = true;
};

struct Naming {
    const char* tag;
    plat::WholeFileScope* scope;
};

void name_job(NameJob& j, void* naming) noexcept {
    const Naming& n = *static_cast<const Naming*>(naming);
    j.x = extract::commit_name(*j.m, n.tag, n.scope);
}

void finish_job(NameJob& j, void* naming) noexcept {
    j.finished = extract::finish_staged(*j.m, static_cast<const Naming*>(naming)->tag, false);
}

// Runs work over every member that wants, on the writing threads where threads allows;
// gone says what each finished job comes to (true: no further job is handed out). With
// workers, the first half of the members and the second are handed out in turn: members
// come directory by directory, and two renames in one directory wait for each other.
template <typename Wants, typename Gone>
bool over_members(const std::vector<StagedMember>& members, unsigned threads, Naming& naming,
                  plat::Pipeline<NameJob>::Work work, Wants wants, Gone gone) noexcept {
    const auto pipeline = try_make<plat::Pipeline<NameJob>>(threads, work, &naming);
    if (!pipeline) return false;
    plat::Pipeline<NameJob>& p = *pipeline;
    bool stopped = false;
    const auto take = [&] {
        const NameJob& j = p.take();
        stopped = gone(j) || stopped;
    };
    const size_t n = members.size(), half = (n + 1) / 2;
    for (size_t i = 0; i < n; ++i) {
        const StagedMember& m = members[p.workers() > 1 ? (i % 2 == 0 ? i / 2 : half + i / 2) : i];
        if (!wants(m)) continue;
        if (p.full()) take();
        if (stopped) break;
        NameJob& j = p.next();
        j.m = &m;
        p.give();
    }
    while (!p.empty()) take();
    return true;
}

// Every directory the package makes, in member order, before anything is staged: each
// file is then staged beside its name, and named by a rename within its directory.
// False with st set at the first that fails.
bool make_ways(const std::vector<StagedMember>& members, session::Status& st) noexcept {
    for (const StagedMember& m : members) {
        const extract::Extraction x = extract::commit_way(m);
        if (extract::stops_expansion(x.outcome)) {
            st.add(x.status);
            return false;
        }
    }
    return true;
}

// Every member given its name; false with st set and stopped naming the first member
// (in member order) that failed. Each is one rename of a name of its own: the members'
// undo and a recovery read how far each got from the disk alone, so the renames run side
// by side where the platform's names are exact. Where names fold (case, short names) two
// members' names may be one file, and the renames keep member order, as the package
// gives it.
bool commit_all(const std::vector<StagedMember>& members, const char* tag, plat::WholeFileScope& scope,
                const StagedMember*& stopped, session::Status& st) noexcept {
    Naming naming{tag, &scope};
    session::Status first;
    const bool ran = over_members(
        members, plat::names_fold_case() ? 1 : plat::writing_threads(), naming, &name_job,
        [](const StagedMember& m) { return stages(m); },
        [&](const NameJob& j) {
            if (!extract::stops_expansion(j.x.outcome)) return false;
            if (!stopped || j.m < stopped) {
                first = j.x.status;
                stopped = j.m;
            }
            return true;
        });
    if (stopped) st.add(first);
    if (!ran && !members.empty()) {
        fail(st, win32::kNotEnoughMemory, "%s", kNoMemory);
        stopped = &members.front();
    }
    return !stopped;
}

// Every backup let go, side by side (each its own name of ours); true when none is left.
bool finish_all(const std::vector<StagedMember>& members, const char* tag) noexcept {
    Naming naming{tag, nullptr};
    bool finished = true;
    const bool ran = over_members(
        members, plat::writing_threads(), naming, &finish_job,
        [](const StagedMember& m) { return m.kind == Kind::Replace; },
        [&](const NameJob& j) {
            finished = finished && j.finished;
            return false;
        });
    return ran && finished;
}

// Every member taken back, the last first; true when nothing of the call is left.
bool undo_all(const std::vector<StagedMember>& members, const char* tag, bool committing,
              plat::WholeFileScope& scope) noexcept {
    bool ok = true;
    for (size_t i = members.size(); i-- > 0;)
        if (!extract::undo_staged(members[i], tag, committing, &scope)) ok = false;
    return ok;
}

// The tag in the names of this call's staged files and backups: four hex digits from
// the process and the time, so that two calls into nested targets do not meet.
void make_tag(char* out, size_t size) noexcept {
    const unsigned mixed = static_cast<unsigned>(plat::process_id()) * 2654435761u ^
                           static_cast<unsigned>(std::time(nullptr));
    std::snprintf(out, size, "%04x", (mixed ^ (mixed >> 16)) & 0xFFFFu);
}

}  // namespace

bool whole_package_asked() noexcept {
    char value[64];
    const plat::EnvValue e = plat::live_env(kWholeVar, value, sizeof value);
    if (e == plat::EnvValue::Unset) return false;
    if (e == plat::EnvValue::TooLong) return true;  // neither empty nor "0"
    const char* p = value;
    while (*p == ' ' || *p == '\t') ++p;
    size_t n = std::strlen(p);
    while (n > 0 && (p[n - 1] == ' ' || p[n - 1] == '\t')) --n;
    return n > 0 && !(n == 1 && p[0] == '0');
}

void expand_whole(tar::TarContext* c, const char* package, const char* target, const ExpandObserver* observer,
                  WholeExpansion& w, session::Status& st) noexcept {
    Plan plan;
    std::string text;
    std::vector<StagedMember> members;
    char tag[8];
    make_tag(tag, sizeof tag);
    try {
        if (!plan_package(c, package, plan, st)) {
            std::snprintf(w.outcome, sizeof w.outcome, "refused before anything was written");
            return;
        }
        plan.settle_names();
        members.reserve(plan.steps.size());
        for (const Step& s : plan.steps) members.push_back(s.m);
        text = journal_text(tag, members);
    } catch (const std::bad_alloc&) {
        fail(st, win32::kNotEnoughMemory, "%s", kNoMemory);
        std::snprintf(w.outcome, sizeof w.outcome, "refused before anything was written (no memory)");
        return;
    }
    w.written = plan.written;
    w.kept = plan.kept;

    plat::JournalFile journal;
    const plat::CallResult created = journal.create(kJournalName, text.data(), text.size());
    if (!created.ok()) {
        if (created.error == plat::kEEXIST)
            fail(st, win32::kSharingViolation, kUnderWay, shown(target));
        else
            fail_with_error(st, kNoJournal, shown(target), created.error);
        std::snprintf(w.outcome, sizeof w.outcome, "not expanded: no journal could be written");
        return;
    }
    // Every member is staged before any takes its name: one flush between the two makes
    // every replacement durable before the first rename over an old file (and the new
    // files with it). A package that replaces nothing is not flushed, as new files are not
    // in the default mode: a sync of everything it wrote would cost more than the writing.
    plat::WholeFileScope scope(plat::WholeFileScope::Durability::Batched);
    scope.expect_replacements();
    // What went wrong, and whether everything this call changed could be taken back.
    const auto give_up = [&](bool committing, const char* what) {
        const bool undone = undo_all(members, tag, committing, scope);
        if (undone) (void)journal.remove();
        std::snprintf(w.outcome, sizeof w.outcome, "%s: %s", what,
                      undone ? "everything it changed undone, the target as it was"
                             : "not everything it changed could be undone; the journal stays for the next expansion");
    };
    if (!make_ways(members, st)) {
        give_up(false, "stopped while making its directories");
        return;
    }
    if (!stage_all(plan, tag, tar::TarPackageSize(c), observer, scope, w.workers, st)) {
        give_up(false, "stopped while staging");
        return;
    }
    bool replaces = false;
    for (const StagedMember& m : members) replaces = replaces || m.kind == Kind::Replace;
    if (const int e = replaces ? scope.flush() : 0) {
        // The failure of the first member whose name waited for it.
        for (const StagedMember& m : members) {
            if (!stages(m)) continue;
            extract::Extraction x;
            extract::fail_step(x, extract::text::kWriteFile, m.name, e);
            st.add(x.status);
            break;
        }
        give_up(false, "stopped before the first name");
        return;
    }
    // Every member staged: from here on the journal tells how far the names got.
    plat::CallResult marked = journal.mark(journal_state_offset(), static_cast<char>(JournalState::Committing));
    if (!marked.ok()) {
        fail_with_error(st, kNoJournal, shown(target), marked.error);
        give_up(false, "stopped before the first name");
        return;
    }
    const StagedMember* stopped = nullptr;
    if (!commit_all(members, tag, scope, stopped, st)) {
        char what[tar::kNameSize + 32];
        std::snprintf(what, sizeof what, "stopped at member \"%s\"", stopped->name);
        give_up(true, what);
        return;
    }
    marked = journal.mark(journal_state_offset(), static_cast<char>(JournalState::Committed));
    if (!marked.ok()) {
        fail_with_error(st, kNoJournal, shown(target), marked.error);
        give_up(true, "stopped after the last name");
        return;
    }
    const bool finished = finish_all(members, tag);
    if (finished) (void)journal.remove();
    std::snprintf(w.outcome, sizeof w.outcome, "%s",
                  finished ? "every member given its name"
                           : "every member given its name; a backup could not be let go, the journal stays for the next "
                             "expansion");
}

Recovery recover_journal(const char* target, session::Status& st) noexcept {
    plat::JournalFile journal;
    int64_t size = 0;
    const char* why = nullptr;
    int error = 0;
    switch (journal.open_existing(kJournalName, &size, &why, &error)) {
        case plat::JournalFile::Found::Absent:
            return Recovery::Nothing;
        case plat::JournalFile::Found::Held:
            session::note("an expansion into \"%s\" is under way in another process: its journal is left alone",
                          shown(target));
            return Recovery::UnderWay;
        case plat::JournalFile::Found::Refused:
            unusable(st, win32::kAccessDenied, target, why);
            return Recovery::Failed;
        case plat::JournalFile::Found::Failed:
            unusable(st, session::code_from_crt(error), target, plat::error_text_or_null(error));
            return Recovery::Failed;
        case plat::JournalFile::Found::Opened:
            break;
    }
    Journal j;
    try {
        std::string text;
        bool whole = size > 0 && size <= kLargestJournal;
        if (whole) text.resize(static_cast<size_t>(size));
        whole = whole && journal.read(&text[0], text.size()).ok() && parse_journal(text, &j);
        if (!whole) {
            unusable(st, win32::kInvalidData, target, "damaged");
            return Recovery::Failed;
        }
        plat::WholeFileScope scope;
        bool ok = true;
        switch (j.state) {
            case JournalState::Staging:
                ok = undo_all(j.members, j.tag, false, scope);
                break;
            case JournalState::Committing:
                ok = undo_all(j.members, j.tag, true, scope);
                break;
            case JournalState::Committed:
                for (const StagedMember& m : j.members)
                    if (!extract::finish_staged(m, j.tag, true)) ok = false;
                break;
        }
        if (!ok) {
            fail(st, win32::kGenFailure, kNotUndone, shown(target));
            return Recovery::Failed;
        }
    } catch (const std::bad_alloc&) {
        fail(st, win32::kNotEnoughMemory, "%s", kNoMemory);
        return Recovery::Failed;
    }
    (void)journal.remove();
    const bool finished = j.state == JournalState::Committed;
    session::note("an expansion into \"%s\" ended early, %s: %s (%llu member(s))", shown(target),
                  j.state == JournalState::Staging      ? "while staging"
                  : j.state == JournalState::Committing ? "while giving the members their names"
                                                        : "after its last name",
                  finished ? "finished, its backups let go" : "undone, the target as it was before it",
                  static_cast<unsigned long long>(j.members.size()));
    return finished ? Recovery::Finished : Recovery::Undone;
}

bool recover_before(const char* target, bool whole, session::Status& st) noexcept {
    const Recovery r = recover_journal(target, st);
    if (r == Recovery::Failed) return false;
    if (r != Recovery::UnderWay || !whole) return true;
    fail(st, win32::kSharingViolation, kUnderWay, shown(target));
    return false;
}

Recovery RecoverTarget(const char* target) noexcept {
    session::Status st;
    if (!target) {
        st.add(win32::kInvalidParameter);
        session::report(st);
        return Recovery::Failed;
    }
    if (const int e = plat::change_dir(target)) {
        fail_with_error(st, "ERROR: cannot enter \"%s\". rc=%d %s", target, e);
        session::report(st);
        return Recovery::Failed;
    }
    const Recovery r = recover_journal(target, st);
    session::report(st);
    return r;
}

}  // namespace qm::packages
