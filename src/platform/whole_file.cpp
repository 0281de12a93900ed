#include "platform/whole_file.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/dirsearch.h"
#include "platform/errors.h"
#include "platform/fault.h"
#include "platform/whole_file_internal.h"

namespace qm::plat {

namespace {

const char* base_name(const char* path) noexcept {
    const char* base = path;
    for (const char* q = path; *q; ++q)
        if (*q == '\\' || *q == '/' || (*q == ':' && q == path + 1)) base = q + 1;
    return base;
}

// FNV-1a of a file name: short whatever the name's length, so a temporary fits beside a
// name at the file system's limit, and the same for every write of it.
uint32_t name_hash(const char* name) noexcept {
    uint32_t h = 2166136261u;
    for (const char* q = name; *q; ++q) h = (h ^ static_cast<unsigned char>(*q)) * 16777619u;
    return h;
}

// The file name whose old content a backup name found in a directory holds, or null when
// the name is none of our backups.
const char* backed_up_name(const char* found) noexcept {
    char hex[9];
    if (std::strncmp(found, ".qm", 3) != 0 || std::strlen(found) < 14 || found[11] != '~' || found[12] != '~') return nullptr;
    std::memcpy(hex, found + 3, 8);
    hex[8] = '\0';
    char* end = nullptr;
    const unsigned long h = std::strtoul(hex, &end, 16);
    if (end != hex + 8) return nullptr;
    return h == name_hash(found + 13) ? found + 13 : nullptr;
}

// How many stages in a row may find their names free before a scope stops looking.
constexpr int kLookRun = 64;

}  // namespace

WholeFileScope::WholeFileScope(Durability durability) noexcept : durability_(durability) {}

void WholeFileScope::expect_replacements() noexcept {
    if (batched()) looks_left_.store(kLookRun, std::memory_order_relaxed);
}

bool WholeFileScope::expects_replacements() const noexcept {
    return batched() && looks_left_.load(std::memory_order_relaxed) > 0;
}

void WholeFileScope::name_seen(bool taken) noexcept {
    if (!batched()) return;
    if (taken)
        looks_left_.store(kLookRun, std::memory_order_relaxed);
    else
        looks_left_.fetch_sub(1, std::memory_order_relaxed);
}

void WholeFileScope::sweep_once(const char* path) noexcept {
    const size_t dir_len = static_cast<size_t>(base_name(path) - path);
    uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (size_t i = 0; i < dir_len; ++i) h = (h ^ static_cast<unsigned char>(path[i])) * 1099511628211ull;
    // Held through the sweep: a write into the directory that another thread begins
    // meanwhile waits until the directory is clean, so its own temporary is never swept.
    const std::lock_guard<std::mutex> hold(mutex_);
    try {
        if (!swept_.insert(h).second) return;
    } catch (...) {
        // No room to remember it: swept again next time, which costs time only.
    }
    char pattern[4200], found[4400], installed[4400];
    const int np = std::snprintf(pattern, sizeof pattern, "%.*s.qm*~*", static_cast<int>(dir_len), path);
    if (np < 0 || static_cast<size_t>(np) >= sizeof pattern) return;
    DirSearch s;
    if (!s.first(pattern).ok()) return;
    do {
        if (s.is_dir()) continue;
        const int n = std::snprintf(found, sizeof found, "%.*s%s", static_cast<int>(dir_len), path, s.name());
        if (n <= 0 || static_cast<size_t>(n) >= sizeof found) continue;
        if (const char* name = backed_up_name(s.name())) {
            const int m = std::snprintf(installed, sizeof installed, "%.*s%s", static_cast<int>(dir_len), path, name);
            if (m > 0 && static_cast<size_t>(m) < sizeof installed) (void)whole_file_settle_backup(found, installed);
        } else {
            (void)whole_file_remove_stale(found);
        }
    } while (s.next());
}

CallResult WholeFile::stage(const WholeFileEnd& end) noexcept {
    if (!handles_.file) return failed_with(FileStep::Write, kEBADF);
    end_ = end;
    // Where the scope expects replacements, the name is looked at here, on the thread
    // that stages: a file that will likely replace one is readied as a replacement now
    // (its identity, its flush) rather than when it is named, in order.
    if (intent_ == Intent::New && !aside_ && scope_ && scope_->expects_replacements()) {
        name_taken_ = look_kept_ = look_at_name();
        scope_->name_seen(name_taken_);
    }
    const CallResult r = settle(intent_ == Intent::Replace || name_taken_);
    staged_ = r.ok();
    return r;
}

int WholeFile::naming_fault() noexcept {
    // A second try (after the name was found taken) is the same attempt to name the file.
    const bool first = !tried_;
    tried_ = true;
    return first ? fault::check(fault::Op::Rename) : 0;
}

CallResult WholeFile::publish() noexcept {
    if (!staged_) return failed_with(FileStep::Place, kEBADF);
    // Staged aside, the file has its name already: nothing is renamed until place_aside.
    if (aside_) return keep_aside();
    // Readied as a replacement: the caller's look-up decides without a try that would fail.
    if (intent_ == Intent::New && name_taken_) return failed_with(FileStep::Place, kEEXIST);
    const CallResult r = intent_ == Intent::Replace ? name_replacing() : name_new();
    if (r.error == kEEXIST && r.step == FileStep::Place && scope_) scope_->name_seen(true);
    return r;
}

int WholeFile::look_since_stage(PathStat* out, bool kept_serves) noexcept {
    const bool kept = kept_serves && look_kept_ && kept_look(out);
    look_kept_ = false;
    return kept ? 0 : look(out);
}

CallResult WholeFile::publish_replacing() noexcept {
    if (!holds_content()) return failed_with(FileStep::Place, kEBADF);
    // Now a replacement: what it replaces decides its owner, group and mode (POSIX) or
    // its attributes (Windows), and it is flushed as every replacement is.
    const CallResult r = settle(true);
    return r.ok() ? name_replacing() : r;
}

CallResult WholeFile::commit(const WholeFileEnd& end) noexcept {
    const CallResult r = stage(end);
    return r.ok() ? publish() : r;
}

CallResult WholeFile::fail(FileStep step, int error) noexcept {
    discard();
    return failed_with(step, error);
}

int WholeFile::start(Intent intent, WholeFileScope* scope) noexcept {
    discard();
    intent_ = intent;
    name_taken_ = look_kept_ = false;
    side_ = WholeFileState{};
    scope_ = scope;
    return fault::check(fault::Op::Create);
}

int WholeFile::begin(const char* path, Intent intent, WholeFileScope* scope, bool no_links_on_the_way) noexcept {
    if (int e = start(intent, scope)) return e;
    const int e = open_side(path, intent, scope, no_links_on_the_way);
    // An injected failure counts successful creates only, so that a test can name the
    // member whose create fails however often a name is tried.
    if (e != 0) fault::refund(fault::Op::Create);
    return e;
}

int WholeFile::begin_aside(const char* path, const char* aside, Intent intent, WholeFileScope* scope) noexcept {
    if (int e = start(intent, scope)) return e;
    const int e = open_aside(path, aside, scope);
    if (e != 0) fault::refund(fault::Op::Create);
    return e;
}

CallResult FileCopy::stage(const char* from, const char* to, WholeFileScope* scope) noexcept {
    out_.discard();
    const CallResult r = stage_side(from, to, scope);
    if (!r.ok()) out_.discard();
    return r;
}

CallResult FileCopy::publish() noexcept {
    const CallResult r = out_.publish();
    if (!r.ok()) out_.discard();
    return r;
}

CallResult copy_file_replace(const char* from, const char* to, WholeFileScope* scope) noexcept {
    FileCopy copy;
    const CallResult r = copy.stage(from, to, scope);
    return r.ok() ? copy.publish() : r;
}

bool whole_file_temp_name(const char* path, unsigned k, char* out, size_t size) noexcept {
    const char* base = base_name(path);
    const unsigned h = name_hash(base);
    const int dir_len = static_cast<int>(base - path);
    const int n = k == 0 ? std::snprintf(out, size, "%.*s.qm%08x~", dir_len, path, h)
                         : std::snprintf(out, size, "%.*s.qm%08x~%u", dir_len, path, h, k);
    return n > 0 && static_cast<size_t>(n) < size;
}

bool whole_file_backup_name(const char* path, char* out, size_t size) noexcept {
    const char* base = base_name(path);
    constexpr size_t kLongestName = 255;  // the file systems' limit for one name
    if (std::strlen(base) + 13 > kLongestName) return false;
    const int n = std::snprintf(out, size, "%.*s.qm%08x~~%s", static_cast<int>(base - path), path,
                                static_cast<unsigned>(name_hash(base)), base);
    return n > 0 && static_cast<size_t>(n) < size;
}

}  // namespace qm::plat
