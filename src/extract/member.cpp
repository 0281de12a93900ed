// Every file goes through the platform's whole-file write: under a member's name there
// is only ever what was there or the complete member (data, mode, time), whatever stops
// the expansion, and a replaced file keeps its identity. No member is ever written
// through a link: the way is looked at before anything is created on it, a link at the
// name is replaced, one on the way refuses the member.
#include "extract/member.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "extract/messages.h"
#include "platform/errors.h"
#include "platform/fs.h"

namespace qm::extract {

namespace {

// How often a name found taken at the commit sends a member back to the look-up: once
// for what was there, once more for another writer taking it meanwhile.
constexpr int kLooks = 2;

using tar::TarEntry;
using tar::TarFormat;

// chmod with the member's mode, then the reset to normal attributes: every extracted
// file ends up writable.
plat::WholeFileEnd member_end(const TarEntry& e) noexcept {
    plat::WholeFileEnd end;
    end.mode_kind = plat::WholeFileEnd::Mode::Runtime;
    end.mode = e.status.mode;
    end.times_kind = plat::WholeFileEnd::Times::Seconds;
    end.seconds = e.status.mtime;
    return end;
}

// Whether the look-up can tell why an exclusive create failed: something at the name or
// on its way. Anything else (no room, no right) would meet the next create as well.
bool look_up_explains(int create_error) noexcept {
    return create_error == plat::kEEXIST || create_error == plat::kENOENT || create_error == plat::kENOTDIR ||
           create_error == plat::kEISDIR || create_error == plat::kENAMETOOLONG;
}

}  // namespace

bool RecentNames::repeats(const char* name) noexcept {
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (const char* p = name; *p; ++p) {
        char ch = *p == '\\' ? '/' : *p;
        if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch + 32);
        h = (h ^ static_cast<unsigned char>(ch)) * 1099511628211ull;
    }
    bool seen = false;
    for (unsigned i = 0; i < held_; ++i) seen = seen || hashes_[i] == h;
    hashes_[next_] = h;
    next_ = (next_ + 1) % kNames;
    if (held_ < kNames) ++held_;
    return seen;
}

void MemberWrite::decide(const TarEntry& e, const PathProbe& probe, WayCache& way) noexcept {
    static const OnDisk kNothingLooked;
    out_.discard();
    stage_look_serves_ = false;
    entry_ = e;
    change_ = MemberChange{};
    staged_ = plat::CallResult{};
    create_error_ = 0;
    looked_through_write_ = false;
    // The header alone refuses or accepts; what is to be created is decided on its way.
    verdict_ = decide_member(entry_, kNothingLooked);
    disk_.looked = disk_.way_looked = false;
    if (verdict_.outcome == Outcome::Write || verdict_.outcome == Outcome::Directory) {
        look_up_way(entry_, probe, way, disk_);
        verdict_ = decide_member(entry_, disk_);
    }
    state_ = State::Decided;
}

bool MemberWrite::stages_ahead() const noexcept {
    return state_ == State::Decided && verdict_.outcome == Outcome::Write && !verdict_.make_dirs;
}

void MemberWrite::stage(plat::WholeFileScope* scope) noexcept {
    // Staged or committed before (a member done again alone): from its verdict once more.
    if (state_ == State::Staged || state_ == State::Committed) {
        drop();
        change_ = MemberChange{};
        create_error_ = 0;
        state_ = State::Decided;
    }
    if (stages_ahead()) stage_new(scope);
}

// A new file, complete (data, mode, time) under no name.
void MemberWrite::stage_new(plat::WholeFileScope* scope) noexcept {
    state_ = State::Staged;
    stage_content(out_.begin(entry_.name, plat::WholeFile::Intent::New, scope, true));
}

// The member's data and end state onto the file begun (begun: what its begin answered).
void MemberWrite::stage_content(int begun) noexcept {
    if (begun) {
        staged_ = plat::failed_with(plat::FileStep::Create, begun);
        return;
    }
    if (entry_.status.size > 0) {
        if (const int e = out_.write(entry_.data, static_cast<size_t>(entry_.status.size))) {
            out_.discard();
            staged_ = plat::failed_with(plat::FileStep::Write, e);
            return;
        }
    }
    staged_ = out_.stage(member_end(entry_));
}

void MemberWrite::stage_aside(const TarEntry& e, const char* aside, bool replacing, const plat::OwnerLook& owner,
                              plat::WholeFileScope* scope) noexcept {
    out_.discard();
    entry_ = e;
    change_ = MemberChange{};
    verdict_ = Verdict{};
    verdict_.outcome = replacing ? Outcome::Replace : Outcome::Write;
    state_ = State::Staged;
    const auto intent = replacing ? plat::WholeFile::Intent::Replace : plat::WholeFile::Intent::New;
    const int begun = out_.begin_aside(entry_.name, aside, intent, scope);
    // The plan's look at the name serves the replacement: no second look per file.
    if (begun == 0 && replacing) out_.found_at_name(owner);
    stage_content(begun);
    // Published aside, the file keeps the name of ours it was made under.
    if (staged_.ok()) staged_ = out_.publish();
}

Extraction MemberWrite::staged_outcome() noexcept {
    Extraction x;
    x.outcome = verdict_.outcome;
    failed_at(x, staged_);
    return x;
}

bool MemberWrite::no_room() const noexcept {
    return state_ == State::Staged && staged_.code == plat::win32::kDiskFull;
}

void MemberWrite::drop() noexcept {
    out_.discard();
    staged_ = plat::CallResult{};
    if (state_ == State::Staged) state_ = State::Decided;
}

Extraction MemberWrite::commit(plat::WholeFileScope* scope) noexcept {
    Extraction x;
    for (int looks = 0; act(scope, x, looks < kLooks) == Round::LookAgain; ++looks) look_again();
    state_ = State::Committed;
    return x;
}

namespace {

// A member staged where its write proved the way (every directory there, no link): the
// name is looked at relative to the directory the write holds, the way not walked again.
struct StagedView {
    const TarEntry* entry;
    plat::WholeFile* write;
    bool stage_look_serves;
};

DiskEntry staged_probe(void* context, const char* path) noexcept {
    auto& v = *static_cast<StagedView*>(context);
    DiskEntry d;
    if (std::strcmp(path, v.entry->name) != 0) {
        d.kind = DiskKind::Directory;
        return d;
    }
    plat::PathStat st;
    const int e = v.write->look_since_stage(&st, v.stage_look_serves);
    return disk_entry(e, st);
}

}  // namespace

// The look-up at the name and on the way, and the verdict on what it found. Content a
// new file staged serves where the member now replaces what took its name.
void MemberWrite::look_again() noexcept {
    looked_through_write_ = out_.holds_content() && out_.way_proven() && !std::strchr(entry_.name, '\\');
    StagedView view{&entry_, &out_, stage_look_serves_};
    stage_look_serves_ = false;
    disk_ = look_up_member(entry_, looked_through_write_ ? PathProbe{&staged_probe, &view} : DiskProbe());
    verdict_ = decide_member(entry_, disk_);
    if (verdict_.outcome != Outcome::Replace || !out_.holds_content()) out_.discard();
    if (state_ == State::Staged && !out_.holds_content()) state_ = State::Decided;
}

bool MemberWrite::failed(Extraction& x, const char* format, const char* name, int error) noexcept {
    drop();
    fail_step(x, format, name, error);
    return false;
}

// Each failing step gives the message of the runtime call it stands for.
bool MemberWrite::failed_at(Extraction& x, const plat::CallResult& r) noexcept {
    switch (r.step) {
        case plat::FileStep::None: return true;
        case plat::FileStep::Mode: return failed(x, text::kSetMode, entry_.name, r.error);
        case plat::FileStep::Time: return failed(x, text::kSetTime, entry_.name, r.error);
        case plat::FileStep::Write: return failed(x, text::kWriteFile, entry_.name, r.error);
        default: return failed(x, text::kCreateFile, entry_.name, r.error);
    }
}

// The missing directories on the way to the name, from the first one the look found
// missing.
bool MemberWrite::make_way(Extraction& x) noexcept {
    change_.made_from = disk_.way_index;
    bool ok = true;
    for_each_way_component(entry_, [&](const char* path, const char*, int index) {
        if (index < disk_.way_index) return true;
        if (const int e = make_dir_once(path)) ok = failed(x, text::kMkdir, path, e);
        return ok;
    });
    return ok;
}

// A file about to be replaced is made writable first, as the runtime's step does; a
// link is not, since that would change what it points to.
bool MemberWrite::make_writable(Extraction& x) noexcept {
    if (disk_.at_name.kind == DiskKind::Link) return true;
    // Looked at through the staged write: made writable relative to the directory it
    // holds, from the mode that look found.
    const unsigned mode = entry_.status.mode | 0222u;
    if (const int e = looked_through_write_ && out_.holds_content() ? out_.make_writable(mode)
                                                                    : plat::change_mode(entry_.name, mode))
        return failed(x, text::kChmod, entry_.name, e);
    change_.made_writable = true;
    return true;
}

// One round of the commit: the verdict acted on. may_look: whether a name found taken
// (or a create the look-up explains) may still send the member back to the look-up.
MemberWrite::Round MemberWrite::act(plat::WholeFileScope* scope, Extraction& x, bool may_look) noexcept {
    x = Extraction{};
    x.outcome = verdict_.outcome;
    switch (verdict_.outcome) {
        case Outcome::Refuse:
        case Outcome::Fail:
            drop();
            x.status.code = verdict_.error != 0 ? session::code_from_crt(verdict_.error) : plat::win32::kInvalidData;
            std::snprintf(x.status.message, sizeof x.status.message, "%s", verdict_.message);
            return Round::Done;
        case Outcome::KeepNewer:
            drop();
            std::snprintf(x.status.message, sizeof x.status.message, "%s", verdict_.message);
            return Round::Done;
        case Outcome::NotReached:
            return Round::Done;
        case Outcome::Directory: {
            if (!verdict_.make_dirs) return Round::Done;
            // Assumed free, the name proves itself by the mkdir; looked at, another
            // expansion's directory made since is as good.
            const int e = disk_.looked ? make_dir_once(entry_.name) : plat::make_dir(entry_.name);
            if (e == 0) {
                change_.kind = MemberChange::Kind::Directory;
                return Round::Done;
            }
            if (!disk_.looked && may_look) return Round::LookAgain;
            failed(x, text::kExtractDir, entry_.name, e);
            return Round::Done;
        }
        case Outcome::Write:
            if (state_ != State::Staged) {
                if (verdict_.make_dirs && !make_way(x)) return Round::Done;
                if (create_error_) {
                    failed(x, text::kCreateFile, entry_.name, create_error_);
                    return Round::Done;
                }
                stage_new(scope);
            }
            if (staged_.step == plat::FileStep::Create && !disk_.looked && may_look) {
                // Something at the name or on its way: the look-up decides. Anything else
                // (no room, no right) meets the next create as well: the member's
                // failure, unless the look-up finds the name kept or refused.
                if (!look_up_explains(staged_.error)) create_error_ = staged_.error;
                return Round::LookAgain;
            }
            if (!staged_.ok()) {
                failed_at(x, staged_);
                return Round::Done;
            }
            return publish(x, may_look);
        case Outcome::Replace: {
            if (!make_writable(x)) return Round::Done;
            plat::CallResult r;
            if (out_.holds_content()) {
                r = out_.publish_replacing();
            } else if (create_error_) {
                failed(x, text::kCreateFile, entry_.name, create_error_);
                return Round::Done;
            } else if (const int e = out_.begin(entry_.name, plat::WholeFile::Intent::Replace, scope, true)) {
                failed(x, text::kCreateFile, entry_.name, e);
                return Round::Done;
            } else {
                const int w = entry_.status.size > 0
                                  ? out_.write(entry_.data, static_cast<size_t>(entry_.status.size))
                                  : 0;
                r = w ? plat::failed_with(plat::FileStep::Write, w) : out_.commit(member_end(entry_));
            }
            if (failed_at(x, r)) change_.kind = MemberChange::Kind::ReplacedFile;
            return Round::Done;
        }
    }
    return Round::Done;
}

// A staged new file given its name; a name taken meanwhile goes back to the look-up.
MemberWrite::Round MemberWrite::publish(Extraction& x, bool may_look) noexcept {
    x.outcome = Outcome::Write;
    const plat::CallResult r = out_.publish();
    if (r.error == plat::kEEXIST && r.step == plat::FileStep::Place && may_look) return Round::LookAgain;
    if (failed_at(x, r)) change_.kind = MemberChange::Kind::NewFile;
    return Round::Done;
}

Extraction TarExtract(const TarEntry& e, plat::WholeFileScope* scope) noexcept {
    MemberWrite m;
    WayCache way;
    m.decide(e, DiskProbe(), way);
    m.stage(scope);
    return m.commit(scope);
}

}  // namespace qm::extract
