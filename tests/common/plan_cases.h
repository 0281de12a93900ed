// Prepared targets for comparing a plan with a real expansion of the same target: each
// case a small package, what stands on the target before, and the plan's expected
// actions. The comparison itself is here too, so the native tests (the library's plan)
// and the Windows tests (quillmar.exe plan against the DLL's expansion) judge alike.
#pragma once

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/tar_builder.h"
#include "common/temp_dir.h"

namespace qm::test {

constexpr int64_t kPlanTime = 315630000;

struct PlanMember {
    std::string name;
    std::string data;       // a file's bytes
    char type = '0';        // '5' a directory, '2' a link (a type the reader refuses)
    int64_t mtime = kPlanTime;
};

struct PlanCase {
    const char* what;
    void (*prepare)(const std::filesystem::path& target);
    std::vector<PlanMember> members;
    std::vector<std::string> actions;  // the plan's, one per member
};

// One row of a plan, however it was obtained.
struct PlanRow {
    std::string member;
    std::string action;
    std::string reason;
};

inline void mine(const std::filesystem::path& p, int64_t mtime) {
    write_file(p, "mine");
    set_mtime(p, mtime);
}

inline const std::vector<PlanCase>& plan_cases() {
    namespace fs = std::filesystem;
    static const std::vector<PlanCase> cases = {
        {"new file", [](const fs::path&) {}, {{"new.txt", "n"}}, {"write"}},
        {"older file", [](const fs::path& t) { mine(t / "f.txt", kPlanTime - 60); }, {{"f.txt", "theirs"}},
         {"replace"}},
        {"file of the same time", [](const fs::path& t) { mine(t / "f.txt", kPlanTime); }, {{"f.txt", "theirs"}},
         {"replace"}},
        {"newer file", [](const fs::path& t) { mine(t / "f.txt", kPlanTime + 60); },
         {{"f.txt", "theirs"}, {"after.txt", "a"}}, {"keep-newer", "write"}},
        {"older read-only file",
         [](const fs::path& t) {
             mine(t / "ro.txt", kPlanTime - 60);
             fs::permissions(t / "ro.txt", fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                             fs::perm_options::remove);
         },
         {{"ro.txt", "theirs"}}, {"replace"}},
        {"a file where a directory is needed", [](const fs::path& t) { mine(t / "x/y", kPlanTime); },
         {{"x/y/z/f", "f"}, {"later", "l"}}, {"fail", "not-reached"}},
        {"a directory member over a file", [](const fs::path& t) { mine(t / "d", kPlanTime); },
         {{"d/", "", '5'}, {"later", "l"}}, {"fail", "not-reached"}},
        {"a one-slash name without its directory", [](const fs::path&) {}, {{"lib/x.dll", "x"}}, {"fail"}},
        {"directories the package makes itself", [](const fs::path&) {},
         {{"lib/", "", '5'}, {"lib/x.dll", "x"}, {"a/b/c/f", "f"}, {"a/b/g", "g"}}, {"directory", "write", "write", "write"}},
        {"an unsafe member, and a member after the stop", [](const fs::path&) {},
         {{"ok.txt", "o"}, {"../evil.txt", "e"}, {"later", "l"}}, {"write", "refuse", "not-reached"}},
        {"a type the reader refuses", [](const fs::path&) {},
         {{"ok.txt", "o"}, {"link", "", '2'}}, {"write", "refuse"}},
        {"one name twice, the second older", [](const fs::path&) {},
         {{"twice", "first"}, {"twice", "second", '0', kPlanTime - 1}}, {"write", "keep-newer"}},
        // A directory the expansion made has the time it was made: newer than the member.
        {"a directory member, then a file of its name", [](const fs::path&) {},
         {{"e/", "", '5'}, {"e", "x"}, {"later", "l"}}, {"directory", "keep-newer", "write"}},
        {"a directory made on a file's way, then a file of its name", [](const fs::path&) {},
         {{"k/l/m.txt", "m"}, {"k/l", "x"}, {"later", "l"}}, {"write", "keep-newer", "write"}},
        // "\" separates for the platform; extraction makes directories only at "/".
        {"a \\ name without its directory", [](const fs::path&) {}, {{"back\\slash", "b"}, {"later", "l"}},
         {"fail", "not-reached"}},
        {"a name of three \\ parts without its directories", [](const fs::path&) {}, {{"p\\q\\r", "r"}}, {"fail"}},
        {"\\ names whose directories the package makes", [](const fs::path&) {},
         {{"back/", "", '5'}, {"back\\slash", "b"}, {"p/", "", '5'}, {"p/q/", "", '5'}, {"p\\q\\r", "r"}},
         {"directory", "write", "directory", "directory", "write"}},
        {"a \\ inside the directories extraction makes", [](const fs::path&) {}, {{"x/y\\z/f", "f"}}, {"fail"}},
        {"a \\ directory member without its parent", [](const fs::path&) {}, {{"a\\b/", "", '5'}}, {"fail"}},
    };
    return cases;
}

inline TarBuilder package_of(const std::vector<PlanMember>& members) {
    TarBuilder b;
    for (const PlanMember& m : members) {
        Member member;
        member.name = m.name;
        member.data = m.data;
        member.type = m.type;
        member.mtime = m.mtime;
        b.add(member);
    }
    return b.end();
}

inline TarBuilder plan_package(const PlanCase& k) { return package_of(k.members); }

inline std::string one_line(std::string s) {
    while (!s.empty() && s.back() == '\n') s.pop_back();
    return s;
}

// What a real expansion left in target and showed (boxes) against the plan: every row
// must be borne out. Returns the disagreements, empty when there are none.
inline std::vector<std::string> disagreements(const PlanCase& k, const std::vector<PlanRow>& plan,
                                              const std::filesystem::path& target,
                                              const std::vector<std::string>& boxes) {
    namespace fs = std::filesystem;
    std::vector<std::string> out;
    const auto say = [&](const std::string& what) { out.push_back(std::string(k.what) + ": " + what); };
    if (plan.size() != k.members.size()) {
        say("the plan has " + std::to_string(plan.size()) + " rows for " + std::to_string(k.members.size()) +
            " members");
        return out;
    }
    size_t stops = 0;
    for (size_t i = 0; i < plan.size(); ++i) {
        const PlanRow& row = plan[i];
        const PlanMember& m = k.members[i];
        std::string on_disk = m.name;
        std::replace(on_disk.begin(), on_disk.end(), '\\', '/');
        const fs::path at = target / on_disk;
        if (row.member != m.name) say("row " + std::to_string(i) + " names " + row.member);
        if (row.action != k.actions[i]) say(m.name + " planned " + row.action + ", expected " + k.actions[i]);
        // Only the copy of a name that the expansion leaves last can be seen on disk.
        bool last = true;
        for (size_t j = i + 1; j < k.members.size(); ++j) last = last && k.members[j].name != m.name;
        std::error_code ec;
        if (row.action == "write" || row.action == "replace") {
            if (last && read_file(at) != m.data) say(m.name + " planned " + row.action + " but not written");
        } else if (row.action == "keep-newer") {
            // What was there before: the prepared file, the package's own earlier copy, or
            // a directory the package made.
            std::string before = "mine";
            for (size_t j = 0; j < i; ++j)
                if (k.members[j].name == m.name) before = k.members[j].data;
            if (!fs::is_directory(at, ec) && read_file(at) != before) say(m.name + " planned keep-newer but replaced");
        } else if (row.action == "directory") {
            if (!fs::is_directory(at, ec)) say(m.name + " planned directory but none made");
        } else if (row.action == "refuse" || row.action == "fail") {
            ++stops;
            if (boxes.empty() || one_line(boxes[0]) != row.reason)
                say(m.name + " planned \"" + row.reason + "\" but the box said \"" +
                    (boxes.empty() ? std::string("nothing") : one_line(boxes[0])) + "\"");
        } else if (row.action == "not-reached") {
            if (fs::exists(at, ec) && m.name.find("..") == std::string::npos) say(m.name + " reached after all");
        } else {
            say(m.name + ": unknown action " + row.action);
        }
    }
    if (boxes.size() != stops) say(std::to_string(boxes.size()) + " boxes shown, " + std::to_string(stops) + " planned");
    return out;
}

}  // namespace qm::test
