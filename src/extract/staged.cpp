// A whole package's members given their names, and taken back. Each step is one rename
// or one mkdir, so that whatever ends the process, the disk shows how far a member got
// (whatever order the members' steps ran in):
// its staged file is there until it has its name, and a replaced file's backup from the
// moment the new one may have it.
#include "extract/staged.h"

#include <cstdio>
#include <cstring>

#include "extract/messages.h"
#include "platform/errors.h"
#include "platform/fs.h"

namespace qm::extract {

namespace {

using Kind = StagedMember::Kind;

bool compose(const StagedMember& m, const char* tag, const char* suffix, char* out, size_t size) noexcept {
    const int n = m.aside_dir > 0 ? std::snprintf(out, size, "%.*s/%s%s.%x%s", static_cast<int>(m.aside_dir), m.name,
                                                  kStagedPrefix, tag, static_cast<unsigned>(m.index), suffix)
                                  : std::snprintf(out, size, "%s%s.%x%s", kStagedPrefix, tag,
                                                  static_cast<unsigned>(m.index), suffix);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool there(const char* path) noexcept {
    plat::PathStat st;
    return plat::path_lstat(path, &st) == 0;
}

// The directories on the way from made_from on, in order.
bool make_way(const StagedMember& m, Extraction& x) noexcept {
    if (m.made_from < 0) return true;
    bool ok = true;
    for_each_way_component(m.name, false, [&](const char* path, const char*, int index) {
        if (index < m.made_from) return true;
        if (const int e = make_dir_once(path)) {
            fail_step(x, text::kMkdir, path, e);
            ok = false;
        }
        return ok;
    });
    return ok;
}

// The directories on the way made from made_from on, the deepest first, each while it
// is empty (one that holds what others put there stays, and so do those above it).
bool undo_way(const StagedMember& m) noexcept {
    if (m.made_from < 0) return true;
    char deepest[kNameSize] = "";
    size_t ends[kNameSize / 2];
    int count = 0;
    for_each_way_component(m.name, false, [&](const char* path, const char*, int index) {
        if (index >= m.made_from && count < static_cast<int>(sizeof ends / sizeof ends[0])) {
            ends[count++] = std::strlen(path);
            std::snprintf(deepest, sizeof deepest, "%s", path);
        }
        return true;
    });
    for (int i = count - 1; i >= 0; --i) {
        deepest[ends[i]] = '\0';
        const int e = plat::remove_dir(deepest);
        if (e == plat::kENOTEMPTY) return true;
        if (e != 0 && e != plat::kENOENT) return false;
    }
    return true;
}

bool has_staged_file(const StagedMember& m) noexcept { return m.kind == Kind::NewFile || m.kind == Kind::Replace; }

// Whether a link stands on the member's way now: nothing is removed or renamed through
// one (a journal's names are a later call's to act on, and the way may have changed).
bool link_on_way(const StagedMember& m) noexcept {
    bool link = false;
    for_each_way_component(m.name, m.kind == Kind::Directory, [&](const char* path, const char*, int) {
        plat::PathStat st;
        link = plat::path_lstat(path, &st) == 0 && st.is_link;
        return !link;
    });
    return link;
}

}  // namespace

bool staged_path(const StagedMember& m, const char* tag, char* out, size_t size) noexcept {
    return compose(m, tag, "", out, size);
}

bool backup_path(const StagedMember& m, const char* tag, char* out, size_t size) noexcept {
    return compose(m, tag, ".old", out, size);
}

Extraction commit_way(const StagedMember& m) noexcept {
    Extraction x;
    switch (m.kind) {
        case Kind::Way:
        case Kind::NewFile:
            make_way(m, x);
            return x;
        case Kind::Directory:
            x.outcome = Outcome::Directory;
            if (const int e = make_dir_once(m.name)) fail_step(x, text::kExtractDir, m.name, e);
            return x;
        case Kind::None:
        case Kind::Replace:
            return x;
    }
    return x;
}

Extraction commit_name(const StagedMember& m, const char* tag, plat::WholeFileScope* scope) noexcept {
    Extraction x;
    char staged[kNameSize + 64], backup[kNameSize + 64];
    switch (m.kind) {
        case Kind::None:
            x.outcome = Outcome::KeepNewer;
            return x;
        case Kind::Way:
            return x;
        case Kind::Directory:
            x.outcome = Outcome::Directory;
            return x;
        case Kind::NewFile: {
            if (!staged_path(m, tag, staged, sizeof staged)) {
                fail_step(x, text::kCreateFile, m.name, plat::kENAMETOOLONG);
                return x;
            }
            const plat::CallResult r = plat::place_aside(staged, m.name, scope);
            if (!r.ok()) fail_step(x, text::kCreateFile, m.name, r.error);
            return x;
        }
        case Kind::Replace: {
            x.outcome = Outcome::Replace;
            if (!staged_path(m, tag, staged, sizeof staged) || !backup_path(m, tag, backup, sizeof backup)) {
                fail_step(x, text::kCreateFile, m.name, plat::kENAMETOOLONG);
                return x;
            }
            // Every extracted file ends up writable, as the runtime's steps leave it.
            plat::WholeFileEnd end;
            end.mode_kind = plat::WholeFileEnd::Mode::Runtime;
            end.mode = 0666;
            const plat::CallResult r = plat::place_aside_replacing(staged, m.name, backup, end, scope);
            if (!r.ok()) fail_step(x, r.step == plat::FileStep::Mode ? text::kChmod : text::kCreateFile, m.name, r.error);
            return x;
        }
    }
    return x;
}

bool undo_staged(const StagedMember& m, const char* tag, bool committing, plat::WholeFileScope* scope) noexcept {
    char staged[kNameSize + 64], backup[kNameSize + 64];
    if (m.kind == Kind::None) return true;
    if ((has_staged_file(m) && !staged_path(m, tag, staged, sizeof staged)) || link_on_way(m)) return false;
    if (!committing) {
        // Before any name: its staged file, and the directories made for it (each while
        // empty; they were made before anything was staged).
        const bool removed = !has_staged_file(m) || plat::remove_ours(staged).ok();
        if (m.kind == Kind::Directory) {
            const int e = plat::remove_dir(m.name);
            return removed && (e == 0 || e == plat::kENOENT || e == plat::kENOTEMPTY);
        }
        return (m.kind == Kind::Replace || undo_way(m)) && removed;
    }
    switch (m.kind) {
        case Kind::None:
            return true;
        case Kind::Way:
            return undo_way(m);
        case Kind::Directory: {
            const int e = plat::remove_dir(m.name);
            return e == 0 || e == plat::kENOENT || e == plat::kENOTEMPTY;
        }
        case Kind::NewFile: {
            // Its staged file there: never placed, and what has the name is not its own.
            bool ok = true;
            if (there(staged)) {
                ok = plat::remove_ours(staged).ok();
            } else {
                plat::PathStat st;
                if (plat::path_lstat(m.name, &st) == 0 && !st.is_dir && !st.is_link) ok = plat::remove_ours(m.name).ok();
            }
            return undo_way(m) && ok;
        }
        case Kind::Replace: {
            if (!backup_path(m, tag, backup, sizeof backup)) return false;
            const bool restored = plat::restore_backup(backup, m.name, m.read_only, scope).ok();
            return plat::remove_ours(staged).ok() && restored;
        }
    }
    return true;
}

bool finish_staged(const StagedMember& m, const char* tag, bool look_at_way) noexcept {
    if (m.kind != Kind::Replace) return true;
    char backup[kNameSize + 64];
    return backup_path(m, tag, backup, sizeof backup) && !(look_at_way && link_on_way(m)) &&
           plat::remove_ours(backup).ok();
}

}  // namespace qm::extract
