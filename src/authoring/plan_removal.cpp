// The plan of a removal: the removal's own walk over the package, told to change nothing.
#include "authoring/author.h"
#include "authoring/author_walk.h"
#include "platform/host.h"

namespace qm::authoring {

namespace {

struct Collect {
    RemovalPlanReport* report;
    static void step(void* self, const packages::RemovalStep& s) noexcept {
        RemovalPlanReport& r = *static_cast<Collect*>(self)->report;
        try {
            r.steps.push_back({s.name, s.verdict.action, single_line(s.verdict.reason)});
        } catch (...) {
            r.error = "out of memory";
        }
        r.result += s.verdict.keeps_file;
        if (r.last_error == 0) r.last_error = s.verdict.code;
        r.box = r.box || s.verdict.action == packages::RemovalAction::Refuse;
    }
};

}  // namespace

RemovalPlanReport plan_removal(const char* package, const char* target) {
    RemovalPlanReport r;
    tar::TarContextPtr c = open_to_read(package, &r.error);
    if (!c) return r;
    r.readable = true;
    Collect collect{&r};
    const packages::RemovalWalk w = packages::remove_members(c.get(), target, false, {&Collect::step, &collect});
    // A damaged or nameless header ends the walk as a failure of the call.
    const bool damaged = w.end.kind == tar::Ending::Kind::Damaged || w.end.kind == tar::Ending::Kind::Nameless;
    if (r.last_error == 0 && damaged) r.last_error = plat::win32::kInvalidData;
    if (w.out_of_memory) r.error = "out of memory";
    return r;
}

}  // namespace qm::authoring
