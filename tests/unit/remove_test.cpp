// RemovePackage: each prepared target of the removal table planned and then removed, the
// plan changing nothing and the removal bearing out every row of it, its result and its
// last error; and nothing removed when the target cannot be entered.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "authoring/author.h"
#include "common/as_export.h"
#include "common/capture.h"
#include "common/removal_cases.h"
#include "common/temp_dir.h"
#include "packages/remove.h"
#include "platform/host.h"

using namespace qm::packages;
using qm::test::TempDir;
namespace fs = std::filesystem;
namespace win32 = qm::plat::win32;

namespace {

TEST(Remove, EveryRowOfThePlanIsBorneOutByTheRemoval) {
    for (const qm::test::RemovalCase& k : qm::test::removal_cases()) {
#ifdef _WIN32
        if (k.needs_link) {
            std::printf("[ note ] %s: no link can be made here (Wine 8)\n", k.what);
            continue;
        }
#endif
        TempDir t;
        const fs::path target = t / "target";
        qm::test::prepare_removal(k, target);
        qm::test::write_bytes(t / "p.pkg", qm::test::removal_package(k).bytes());
        const std::string package = (t / "p.pkg").string();
        const auto before = qm::test::tree_state(t.path());

        const qm::authoring::RemovalPlanReport plan = qm::authoring::plan_removal(package.c_str(), target.string().c_str());
        ASSERT_TRUE(plan.readable) << k.what << ": " << plan.error;
        EXPECT_EQ(qm::test::tree_state(t.path()), before) << k.what << ": the plan changed the tree";
        std::vector<qm::test::PlanRow> rows;
        for (const qm::authoring::PlannedRemoval& s : plan.steps)
            rows.push_back({s.name, removal_action_name(s.action), s.reason});

        qm::test::NotifyCapture cap;
        int result = 0;
        const unsigned long code = qm::test::last_error_of(
            "RemovePackage", [&] { result = RemovePackage(package.c_str(), target.string().c_str()); });
        EXPECT_EQ(code, plan.last_error) << k.what;
        EXPECT_EQ(result, plan.result) << k.what;
        fs::current_path(t.path());
        for (const std::string& d :
             qm::test::removal_disagreements(k, rows, before, qm::test::tree_state(t.path()), result, cap.shown()))
            ADD_FAILURE() << d;
    }
}

// A target that cannot be entered: nothing is removed, not even from the current
// directory, which holds the package's files as it installed them.
TEST(Remove, NothingIsRemovedFromWhereverTheCurrentDirectoryIs) {
    TempDir t;
    const qm::test::RemovalCase& k = qm::test::removal_cases().front();
    qm::test::prepare_removal(k, t / "target");
    qm::test::write_bytes(t / "p.pkg", qm::test::removal_package(k).bytes());
    fs::current_path(t / "target");
    const auto before = qm::test::tree_state(t.path());
    int result = 0;
    const unsigned long code = qm::test::last_error_of("RemovePackage", [&] {
        result = RemovePackage((t / "p.pkg").string().c_str(), (t / "none").string().c_str());
    });
    EXPECT_EQ(result, -1);
    EXPECT_EQ(code, win32::kFileNotFound);
    EXPECT_EQ(qm::test::tree_state(t.path()), before);
}

}  // namespace
