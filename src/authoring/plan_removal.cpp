// The plan of a removal: the removal's own walk over the package, told to change nothing.
#include "authoring/author.h"
#include "authoring/author_walk.h"
#include "session/status.h"
#include "tar/tar.h"

namespace qm::authoring {

namespace {

struct Collect {
    RemovalPlanReport* report;
    session::Status status;  // what the removal would report
    static void step(void* self, const packages::RemovalStep& s) noexcept {
        auto* collect = static_cast<Collect*>(self);
        RemovalPlanReport& r = *collect->report;
        try {
            r.steps.push_back({s.name, s.verdict.action, single_line(s.verdict.reason)});
        } catch (...) {
            r.error = "out of memory";
        }
        r.result += s.verdict.keeps_file;
        collect->status.add(packages::removal_status(s.verdict));
    }
};

}  // namespace

RemovalPlanReport plan_removal(const char* package, const char* target) {
    RemovalPlanReport r;
    tar::TarContextPtr c = open_to_read(package, &r.error);
    if (!c) return r;
    r.readable = true;
    Collect collect{&r, {}};
    const packages::RemovalWalk w = packages::remove_members(c.get(), target, false, {&Collect::step, &collect});
    char ended[tar::kNameSize + 96];
    packages::describe_removal_end(c.get(), w, ended, sizeof ended, collect.status);
    if (w.out_of_memory) r.error = "out of memory";
    r.last_error = collect.status.code;
    r.box = collect.status.message[0] != '\0';
    return r;
}

}  // namespace qm::authoring
