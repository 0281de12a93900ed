// What the checker, the plan and verify share: a package opened for reading (never for
// installing), the plan's walk that decides every member as an expansion would, and the
// reader's texts as one line.
#pragma once

#include <map>
#include <string>

#include "extract/extract.h"
#include "tar/tar.h"
#include "tar/walk.h"

namespace qm::authoring {

// The package at path, loaded with its first header current; null with *error set when
// there is nothing to walk.
tar::TarContextPtr open_to_read(const char* path, std::string* error);

// A message without the line end some of them carry.
std::string single_line(const char* text);

// A path as one key, as the platform names one file: "\" and "/" alike, doubled and
// trailing separators dropped.
std::string key_of(const char* path);

// The target's path for a member name.
std::string under_target(const std::string& target, const char* name);

// The directory a name leads into ("a/b", "a/b/" and "a\\b": "a").
std::string parent_directory(const char* name);

// The target as a plan sees it: what is on disk (or nothing at all, for the checker,
// which has no target), overlaid with what the members planned so far would have made.
class Picture {
public:
    // A target that holds nothing: every directory a name relies on without making it is
    // assumed there, and named (PlannedStep::assumed_directory).
    Picture() = default;
    explicit Picture(std::string target) : target_(std::move(target)), real_(true) {}

    extract::PathProbe probe() noexcept { return extract::PathProbe{&Picture::at, this}; }
    bool assumes_directories() const noexcept { return !real_; }
    // A directory at path (and on its way there), with the time it was last written: 0
    // for one a target must have, the time of the plan for one the expansion makes (a
    // file member of its name later is older, and kept out).
    void directory(const std::string& path, int64_t mtime = 0);
    // What a verdict, reached against d, leaves behind once extraction has acted on it.
    void record(const tar::TarEntry& e, const extract::OnDisk& d, const extract::Verdict& v);

private:
    static extract::DiskEntry at(void* self, const char* path) noexcept;
    std::string target_;
    bool real_ = false;
    std::map<std::string, extract::DiskEntry> made_;
};

// One member as the plan decides it.
struct PlannedStep {
    const tar::TarEntry* entry = nullptr;
    extract::Outcome outcome = extract::Outcome::Write;
    extract::OnDisk disk;
    extract::Verdict verdict;
    std::string message;            // Refuse and Fail: the text the user would be shown, one line
    std::string stop;               // NotReached: the member at which the expansion stops
    std::string assumed_directory;  // the directory a target that holds nothing must have for it
    bool reader_refused = false;    // the header's type stopped the reader's walk
};

// Decides each member of the opened package c against picture in order, as an
// expansion would, and hands it to on_step; members after the one that stops the
// expansion come as NotReached, and so does (or as Refuse) a header the reader refuses.
template <typename OnStep>
tar::Ending plan_walk(tar::TarContext* c, Picture& picture, OnStep&& on_step) {
    std::string stop;
    const tar::Ending end = tar::walk_package(c, [&](const tar::TarEntry& e) {
        PlannedStep s;
        s.entry = &e;
        if (!stop.empty()) {
            s.outcome = extract::Outcome::NotReached;
            s.stop = stop;
            on_step(s);
            return true;
        }
        s.disk = extract::look_up_member(e, picture.probe());
        s.verdict = extract::decide_member(e, s.disk);
        if (s.verdict.needs_parent && picture.assumes_directories()) {
            s.assumed_directory = parent_directory(e.name);
            picture.directory(s.assumed_directory);
            s.disk = extract::look_up_member(e, picture.probe());
            s.verdict = extract::decide_member(e, s.disk);
        }
        s.outcome = s.verdict.outcome;
        picture.record(e, s.disk, s.verdict);
        if (extract::stops_expansion(s.outcome)) {
            s.message = single_line(s.verdict.message);
            stop = e.name;
        }
        on_step(s);
        return true;
    });
    if (end.stopped()) {
        // The reader refuses the header's type: the walk, and the expansion, stop there.
        const tar::TarEntry refused = tar::TarStoppedAt(c);
        PlannedStep s;
        s.entry = &refused;
        s.reader_refused = true;
        s.outcome = stop.empty() ? extract::Outcome::Refuse : extract::Outcome::NotReached;
        s.message = single_line(tar::TarMessage(c));
        s.stop = stop;
        on_step(s);
    }
    return end;
}

}  // namespace qm::authoring
