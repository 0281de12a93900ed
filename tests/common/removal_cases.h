// Prepared targets for removing a package: each case a small package, the target as an
// expansion of it left it and then as the user changed it, and the removal's expected
// rows (the file members in order, then the directories, each after the ones inside
// it) with its result. The judging is here too, so that the native tests (the operation
// and the library's plan) and the Windows tests (the DLL and quillmar.exe plan --remove)
// judge alike: the whole tree around the target afterwards must be what it was before
// less exactly what the rows say goes.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <system_error>
#include <vector>

#include "common/plan_cases.h"
#include "common/tar_builder.h"
#include "common/temp_dir.h"

namespace qm::test {

// One row of a removal: a member's name or a directory's path (ending in "/"), and its action.
struct RemovalRow {
    std::string member;
    std::string action;
};

struct RemovalCase {
    const char* what;
    std::vector<PlanMember> members;
    void (*change)(const std::filesystem::path& target);  // what the user did after the install
    std::vector<RemovalRow> rows;                         // RemovePackage counts the files kept
    bool needs_link = false;  // the case makes a symbolic link, which Wine 8 cannot make
};

// A file the way an expansion leaves it: the member's bytes and time, writable.
inline void as_installed(const std::filesystem::path& p, const PlanMember& m) {
    write_file(p, m.data);
    set_mtime(p, m.mtime);
}

inline const std::vector<RemovalCase>& removal_cases() {
    namespace fs = std::filesystem;
    static const std::vector<RemovalCase> cases = {
        {"unchanged files and the directories they lie in",
         {{"bin/", "", '5'}, {"bin/a.dat", "a"}, {"etc/dorva/devices/r.mfs", "m"}},
         [](const fs::path&) {},
         {{"bin/a.dat", "remove"}, {"etc/dorva/devices/r.mfs", "remove"}, {"etc/dorva/devices/", "remove-dir"},
          {"etc/dorva/", "remove-dir"}, {"etc/", "remove-dir"}, {"bin/", "remove-dir"}}},
        {"changed bytes of the same size", {{"f.txt", "abc"}},
         [](const fs::path& t) { as_installed(t / "f.txt", {"f.txt", "xyz"}); }, {{"f.txt", "keep-changed"}}},
        {"changed size", {{"f.txt", "abc"}}, [](const fs::path& t) { as_installed(t / "f.txt", {"f.txt", "abcd"}); },
         {{"f.txt", "keep-changed"}}},
        {"changed time only", {{"f.txt", "abc"}}, [](const fs::path& t) { set_mtime(t / "f.txt", kPlanTime + 60); },
         {{"f.txt", "keep-changed"}}},
        {"missing", {{"gone.txt", "g"}, {"here.txt", "h"}}, [](const fs::path& t) { fs::remove(t / "gone.txt"); },
         {{"gone.txt", "missing"}, {"here.txt", "remove"}}},
        {"a read-only file", {{"ro.txt", "r"}},
         [](const fs::path& t) {
             fs::permissions(t / "ro.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                             fs::perm_options::remove);
         },
         {{"ro.txt", "keep-changed"}}},
        {"a directory at a file's name", {{"f", "x"}},
         [](const fs::path& t) {
             fs::remove(t / "f");
             fs::create_directory(t / "f");
         },
         {{"f", "keep-changed"}}},
        // The file behind a link has the member's bytes and time: only the link decides.
        {"a link at the name", {{"f.txt", "abc"}},
         [](const fs::path& t) {
             as_installed(t.parent_path() / "behind.txt", {"f.txt", "abc"});
             fs::remove(t / "f.txt");
             fs::create_symlink(t.parent_path() / "behind.txt", t / "f.txt");
         },
         {{"f.txt", "keep-link"}}, true},
        {"a link on the way", {{"d/", "", '5'}, {"d/f", "f"}},
         [](const fs::path& t) {
             fs::rename(t / "d", t.parent_path() / "elsewhere");
             fs::create_directory_symlink(t.parent_path() / "elsewhere", t / "d");
         },
         {{"d/f", "keep-link"}, {"d/", "keep-link"}}, true},
        {"a directory the user added to", {{"d/", "", '5'}, {"d/f", "f"}},
         [](const fs::path& t) { write_file(t / "d/mine.txt", "mine"); }, {{"d/f", "remove"}, {"d/", "keep-dir"}}},
        {"directories left empty, none of them a member", {{"a/b/c/f", "f"}}, [](const fs::path&) {},
         {{"a/b/c/f", "remove"}, {"a/b/c/", "remove-dir"}, {"a/b/", "remove-dir"}, {"a/", "remove-dir"}}},
        {"one name twice, the second older", {{"twice", "first"}, {"twice", "second", '0', kPlanTime - 1}},
         [](const fs::path&) {}, {{"twice", "remove"}, {"twice", "superseded"}}},
        {"one name twice, the second of the same time", {{"twice", "first"}, {"twice", "second"}},
         [](const fs::path&) {}, {{"twice", "superseded"}, {"twice", "remove"}}},
        // The file outside the target has the member's bytes and time: it is never looked at.
        {"an unsafe member, and one an expansion never reached", {{"ok.txt", "o"}, {"../evil.txt", "e"}, {"later", "l"}},
         [](const fs::path& t) { as_installed(t.parent_path() / "evil.txt", {"../evil.txt", "e"}); },
         {{"ok.txt", "remove"}, {"../evil.txt", "refuse"}, {"later", "missing"}}},
        {"a type the reader refuses", {{"ok.txt", "o"}, {"link", "", '2'}}, [](const fs::path&) {},
         {{"ok.txt", "remove"}, {"link", "refuse"}}},
    };
    return cases;
}

inline TarBuilder removal_package(const RemovalCase& k) { return package_of(k.members); }

// target as an expansion of the case's package leaves it (up to the first member it
// refuses), then as the user changed it.
inline void prepare_removal(const RemovalCase& k, const std::filesystem::path& target) {
    namespace fs = std::filesystem;
    fs::create_directories(target);
    std::map<std::string, int64_t> written;
    for (const PlanMember& m : k.members) {
        if (m.name.find("..") != std::string::npos || m.type == '2') break;
        if (m.type == '5') {
            fs::create_directories(target / m.name);
            continue;
        }
        const auto it = written.find(m.name);
        if (it != written.end() && m.mtime < it->second) continue;  // the newer file on disk stays
        as_installed(target / m.name, m);
        written[m.name] = m.mtime;
    }
    k.change(target);
}

// Everything below root as it stands: each path (generic, relative) with what it is: a
// link, a directory, or a file's bytes, time and whether it is read-only.
inline std::map<std::string, std::string> tree_state(const std::filesystem::path& root) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> out;
    std::error_code ec, none;
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        const fs::path& p = it->path();
        const bool ro = (fs::status(p, none).permissions() & fs::perms::owner_write) == fs::perms::none;
        out[fs::relative(p, root).generic_string()] =
            fs::is_symlink(fs::symlink_status(p)) ? "<link>"
            : fs::is_directory(p)                 ? "<dir>"
                                                  : read_file(p) + "@" + std::to_string(get_mtime(p)) + (ro ? " read-only" : "");
    }
    return out;
}

// The key tree_state gives a row's name under "target".
inline std::string removal_key(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    std::string key = (std::filesystem::path("target") / name).lexically_normal().generic_string();
    while (!key.empty() && key.back() == '/') key.pop_back();
    return key;
}

// A removal's (or its plan's) rows against what a real removal did to the tree around
// the target (before and after, as tree_state of the target's parent) with its result
// and the boxes it showed. The disagreements; none when all is borne out.
inline std::vector<std::string> removal_disagreements(const RemovalCase& k, const std::vector<PlanRow>& rows,
                                                      const std::map<std::string, std::string>& before,
                                                      const std::map<std::string, std::string>& after, int result,
                                                      const std::vector<std::string>& boxes) {
    std::vector<std::string> out;
    const auto say = [&](const std::string& what) { out.push_back(std::string(k.what) + ": " + what); };
    bool same = rows.size() == k.rows.size();
    for (size_t i = 0; same && i < rows.size(); ++i)
        same = rows[i].member == k.rows[i].member && rows[i].action == k.rows[i].action;
    if (!same) {
        std::string got;
        for (const PlanRow& r : rows) got += " " + r.member + "=" + r.action;
        say("rows" + got);
    }
    std::map<std::string, std::string> expected = before;
    int kept = 0;
    std::vector<std::string> refusals;
    for (const PlanRow& r : rows) {
        const bool directory = !r.member.empty() && r.member.back() == '/';
        if ((r.action == "remove" || r.action == "remove-dir") && !expected.erase(removal_key(r.member)))
            say(r.member + " is to be removed but was not there");
        if (!directory && (r.action == "keep-changed" || r.action == "keep-link" || r.action == "fail")) ++kept;
        if (r.action == "refuse") refusals.push_back(r.reason);
    }
    for (const auto& [path, what] : after)
        if (!expected.count(path)) say(path + " appeared");
    for (const auto& [path, what] : expected) {
        const auto it = after.find(path);
        if (it == after.end()) say(path + " is gone, which no row removes");
        else if (it->second != what) say(path + " changed: " + it->second + " was " + what);
    }
    if (result != kept) say("the result is " + std::to_string(result) + " for " + std::to_string(kept) + " kept");
    // One box, the first refusal's, as an expansion of the package shows one (the table's
    // own rows give no reason to compare it with).
    if (boxes.size() != (refusals.empty() ? 0u : 1u) ||
        (!boxes.empty() && !refusals[0].empty() && one_line(boxes[0]) != refusals[0]))
        say(std::to_string(boxes.size()) + " boxes, the first \"" + (boxes.empty() ? "" : one_line(boxes[0])) +
            "\", for " + std::to_string(refusals.size()) + " refusals");
    return out;
}

}  // namespace qm::test
