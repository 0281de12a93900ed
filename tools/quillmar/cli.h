// The command-line tool: one sub-command per operation, each registered by the file
// that implements it, so an area adds commands without touching the others.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

namespace qm::cli {

struct Command {
    const char* name;
    const char* args;     // the argument synopsis, for --help
    const char* summary;  // one line
    int min_args;
    int max_args;
    int (*run)(int argc, char** argv);  // argv[0] is the first argument after the name
};

struct Registrar {
    explicit Registrar(const Command& c) noexcept;
};

// True once the library reported a failure to the user during this run.
bool failure_reported() noexcept;

// True when standard error is a terminal (progress is shown only there).
bool stderr_is_terminal() noexcept;

// text as it may be written to stream: on a terminal with every control character
// shown as <XX> (a name from a package must not move the cursor or recolour the screen),
// elsewhere as it is.
std::string shown(const std::string& text, FILE* stream);

// Prints the package checker's findings; 0 when there are none, 1 otherwise.
int print_findings(const std::vector<std::string>& findings);

}  // namespace qm::cli
