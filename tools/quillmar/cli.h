// The command-line tool: one sub-command per operation, each registered by the file
// that implements it, so an area adds commands without touching the others. The help
// text and the manual page are both made from the one table they register in.
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

// The registered commands, sorted by name.
size_t command_count() noexcept;
const Command& command_at(size_t i) noexcept;
const Command* find_command(const char* name) noexcept;

// What the tool itself answers to, beside the commands.
struct Option {
    const char* names;
    const char* summary;
};
extern const Option kOptions[];
extern const size_t kOptionCount;
// The environment variables the tool and the library read: a name and what it does.
extern const Option kVariables[];
extern const size_t kVariableCount;
extern const char kVersion[];     // the project's version
extern const char kExitStatus[];  // one paragraph

void print_usage(std::FILE* out);
void print_command_usage(std::FILE* out, const Command& c);

// Where the DLL shows its "Error" box, the tool prints the same text on stderr.
void stderr_notifier(const char* text) noexcept;

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
