// "call": runs a sequence of export calls in one process, as an install script would,
// so that what one call leaves (the package list, the environment, the current
// directory) is there for the next. Every export can be called by its own name.
//
//   quillmar call GetReInstallPackageList /opt/nms -- GetFirstFile -- GetNextFile
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "boundary/exports_table.h"
#include "cli.h"
#include "config/gateway.h"
#include "config/probes.h"
#include "config/tcl_launcher.h"
#include "fileutil/file_ops.h"
#include "fileutil/guarded_copy.h"
#include "packages/expand.h"
#include "packages/package_list.h"
#include "packages/reinstall.h"
#include "packages/remove.h"
#include "packages/selection_dialog.h"

namespace qm::cli {
namespace {

using Args = std::vector<const char*>;

int number(const char* s) { return static_cast<int>(std::strtol(s, nullptr, 0)); }

// What one call returned: a 32-bit result, or a text (possibly null).
struct Outcome {
    long value = 0;
    bool is_text = false;
    const char* text = nullptr;
};

Outcome outcome(int r) { return {r, false, nullptr}; }
Outcome outcome(const char* t) { return {0, true, t}; }

// A window owner is always null here; every other parameter is the next word given.
template <typename P>
constexpr bool given = !std::is_same_v<P, void*>;

template <typename P>
P argument(const Args& a, size_t i) {
    if constexpr (std::is_same_v<P, void*>)
        return nullptr;
    else if constexpr (std::is_same_v<P, int>)
        return number(a[i]);
    else
        return a[i];
}

// Calls an operation of the export's signature with the words given for it.
template <typename Signature>
struct Call;
template <typename R, typename... P>
struct Call<R(P...)> {
    static constexpr int args = (0 + ... + int(given<P>));

    // Which word the parameter at index takes: the given parameters before it.
    static constexpr size_t word(size_t index) {
        constexpr bool is_given[] = {given<P>..., false};
        size_t n = 0;
        for (size_t j = 0; j < index; ++j) n += is_given[j];
        return n;
    }

    template <typename Op, size_t... I>
    static Outcome run(Op op, const Args& a, std::index_sequence<I...>) {
        return outcome(op(argument<P>(a, word(I))...));
    }
    template <typename Op>
    static Outcome run(Op op, const Args& a) {
        return run(op, a, std::index_sequence_for<P...>{});
    }
};

struct Export {
    const char* name;
    int args;
    const char* synopsis;
    Outcome (*call)(const Args& a);
};

// Each export calls the operation of the same name in its subsystem.
#define QM_CLI_EXPORT(ordinal, name, convention, subsystem, result, types, count, synopsis)  \
    {#name, Call<result types>::args, synopsis, [](const Args& a) {                           \
         return Call<result types>::run([](auto... v) { return ::qm::subsystem::name(v...); }, a); \
     }},
const Export kExports[] = {QM_EXPORT_TABLE(QM_CLI_EXPORT)};
#undef QM_CLI_EXPORT

const Export* find(const char* name) {
    for (const Export& e : kExports)
        if (std::strcmp(e.name, name) == 0) return &e;
    return nullptr;
}

int run_call(int argc, char** argv) {
    // Split at "--" into calls; check them all before running any.
    std::vector<Args> calls(1);
    for (int i = 0; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) {
            calls.emplace_back();
        } else {
            calls.back().push_back(argv[i]);
        }
    }
    for (const Args& c : calls) {
        const Export* e = c.empty() ? nullptr : find(c[0]);
        if (!e) {
            std::fprintf(stderr, "quillmar call: %s is not an export; exports:\n", c.empty() ? "(nothing)" : c[0]);
            for (const Export& x : kExports) std::fprintf(stderr, "  %s %s\n", x.name, x.synopsis);
            return 2;
        }
        if (static_cast<int>(c.size()) - 1 != e->args) {
            std::fprintf(stderr, "quillmar call: %s %s\n", e->name, e->synopsis);
            return 2;
        }
    }
    for (const Args& c : calls) {
        const Export* e = find(c[0]);
        const Args args(c.begin() + 1, c.end());
        std::printf("%s(", e->name);
        for (size_t i = 0; i < args.size(); ++i) std::printf("%s\"%s\"", i ? ", " : "", args[i]);
        const Outcome r = e->call(args);
        if (!r.is_text)
            std::printf(") = %ld\n", r.value);
        else if (r.text)
            std::printf(") = \"%s\"\n", r.text);
        else
            std::printf(") = NULL\n");
        std::fflush(stdout);
    }
    return 0;
}

const Command kCall{"call", "EXPORT [ARG...] [-- EXPORT [ARG...]]...",
                    "call exports in sequence in one process, as a script does (the window owner is null)",
                    1, 1000, run_call};
const Registrar r(kCall);

}  // namespace
}  // namespace qm::cli
