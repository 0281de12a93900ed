#include <algorithm>
#include <cstring>
#include <string>

#include "cli.h"
#include "platform/notify.h"
#include "session/session.h"

namespace qm::cli {

namespace {

constexpr size_t kMaxCommands = 64;
const Command* g_commands[kMaxCommands];
size_t g_count = 0;
bool g_sorted = false;
bool g_failed = false;

// Registration order is the order of static initialisation, which no one chooses.
void sort_once() noexcept {
    if (g_sorted) return;
    std::sort(g_commands, g_commands + g_count,
              [](const Command* a, const Command* b) { return std::strcmp(a->name, b->name) < 0; });
    g_sorted = true;
}

}  // namespace

const Option kOptions[] = {
    {"help [COMMAND]", "describe every command, or one (as COMMAND --help does)"},
    {"-h, --help", "describe every command"},
    {"-V, --version", "print the version"},
};
const size_t kOptionCount = sizeof kOptions / sizeof kOptions[0];
const Option kVariables[] = {
    {"QUILLMAR_UNATTENDED", "1 (any value but empty or 0) never asks anyone; without a terminal the tool "
                            "does so by itself."},
    {"QUILLMAR_LOG", "the log every command adds its line to; unset, an unattended command writes to "
                     "quillmar.log in the temporary folder."},
    {"QUILLMAR_SELECT", "the answer to the package selection list: all, or names separated by ;."},
    {"QUILLMAR_PACKAGES", "the answer to the package file choice: paths separated by ;."},
    {"QUILLMAR_THREADS", "how many threads write the files of an expansion or a copy: a number from 1 "
                         "(the calling thread alone) to 16, blanks around it dropped; unset or anything "
                         "else, the processors the process may use, at most 4."},
    {"QUILLMAR_WHOLE_PACKAGE", "1 (any value but empty or 0, blanks around it dropped) expands a package whole "
                               "or not at all, as expand --whole does."},
    {"NMSROOT", "the folder of the install log kyinstall.log, where the copy command notes each "
                "file it refused (the current directory when unset)."},
};
const size_t kVariableCount = sizeof kVariables / sizeof kVariables[0];
const char kVersion[] = QM_VERSION;
const char kExitStatus[] =
    "0 done, 1 the library reported a failure, 2 bad usage, "
    "3 nothing chosen or found (select, pick, reinstall-list).";

Registrar::Registrar(const Command& c) noexcept {
    if (g_count < kMaxCommands) g_commands[g_count++] = &c;
    g_sorted = false;
}

size_t command_count() noexcept { return g_count; }

const Command& command_at(size_t i) noexcept {
    sort_once();
    return *g_commands[i];
}

const Command* find_command(const char* name) noexcept {
    for (size_t i = 0; i < g_count; ++i)
        if (!std::strcmp(g_commands[i]->name, name)) return g_commands[i];
    return nullptr;
}

void print_usage(std::FILE* out) {
    std::fprintf(out, "usage: quillmar COMMAND [ARGS]\n\ncommands:\n");
    for (size_t i = 0; i < command_count(); ++i) {
        const Command& c = command_at(i);
        std::fprintf(out, "  %-16s %-28s %s\n", c.name, c.args, c.summary);
    }
    std::fprintf(out, "\noptions:\n");
    for (size_t i = 0; i < kOptionCount; ++i)
        std::fprintf(out, "  %-16s %s\n", kOptions[i].names, kOptions[i].summary);
    std::fprintf(out, "\nExit status: %s\n", kExitStatus);
    std::fprintf(out, "\nenvironment:\n");
    for (size_t i = 0; i < kVariableCount; ++i)
        std::fprintf(out, "  %-20s %s\n", kVariables[i].names, kVariables[i].summary);
}

void print_command_usage(std::FILE* out, const Command& c) {
    std::fprintf(out, "usage: quillmar %s %s\n  %s\n", c.name, c.args, c.summary);
}

void stderr_notifier(const char* text) noexcept {
    g_failed = true;
    std::string line = text;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::fprintf(stderr, "%s\n", shown(line, stderr).c_str());
}

std::string shown(const std::string& text, FILE* stream) {
    static const bool out_terminal = plat::stdout_is_terminal(), err_terminal = plat::stderr_is_terminal();
    if (!(stream == stdout ? out_terminal : err_terminal)) return text;
    std::string escaped(text.size() * 4 + 1, '\0');  // each byte at most "<XX>"
    session::escape_controls(text.c_str(), &escaped[0], escaped.size());
    escaped.resize(std::strlen(escaped.c_str()));
    return escaped;
}

bool failure_reported() noexcept { return g_failed; }

bool stderr_is_terminal() noexcept { return plat::stderr_is_terminal(); }

}  // namespace qm::cli
