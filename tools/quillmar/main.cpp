#include <algorithm>
#include <cstdio>
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
bool g_failed = false;

// Where the DLL shows its "Error" box, the tool prints the same text on stderr.
void stderr_notifier(const char* text) noexcept {
    g_failed = true;
    std::string line = text;
    if (!line.empty() && line.back() == '\n') line.pop_back();
    std::fprintf(stderr, "%s\n", shown(line, stderr).c_str());
}

void usage(FILE* out) {
    std::sort(g_commands, g_commands + g_count,
              [](const Command* a, const Command* b) { return std::strcmp(a->name, b->name) < 0; });
    std::fprintf(out, "usage: quillmar COMMAND [ARGS]\n\ncommands:\n");
    for (size_t i = 0; i < g_count; ++i)
        std::fprintf(out, "  %-16s %-28s %s\n", g_commands[i]->name, g_commands[i]->args,
                     g_commands[i]->summary);
    std::fprintf(out, "\n'quillmar COMMAND --help' describes one command.\n"
                      "Exit status: 0 done, 1 the library reported a failure, 2 bad usage,\n"
                      "3 nothing chosen or found (select, pick, reinstall-list).\n");
}

}  // namespace

Registrar::Registrar(const Command& c) noexcept {
    if (g_count < kMaxCommands) g_commands[g_count++] = &c;
}

bool failure_reported() noexcept { return g_failed; }

bool stderr_is_terminal() noexcept { return plat::stderr_is_terminal(); }

std::string shown(const std::string& text, FILE* stream) {
    static const bool out_terminal = plat::stdout_is_terminal(), err_terminal = plat::stderr_is_terminal();
    if (!(stream == stdout ? out_terminal : err_terminal)) return text;
    std::string escaped(text.size() * 4 + 1, '\0');  // each byte at most "<XX>"
    session::escape_controls(text.c_str(), &escaped[0], escaped.size());
    escaped.resize(std::strlen(escaped.c_str()));
    return escaped;
}

}  // namespace qm::cli

int main(int argc, char** argv) {
    using namespace qm::cli;
    qm::plat::set_notifier(stderr_notifier);
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        usage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    for (size_t i = 0; i < g_count; ++i) {
        const Command& c = *g_commands[i];
        if (std::strcmp(c.name, argv[1]) != 0) continue;
        const int n = argc - 2;
        if (n >= 1 && (!std::strcmp(argv[2], "--help") || !std::strcmp(argv[2], "-h"))) {
            std::printf("usage: quillmar %s %s\n  %s\n", c.name, c.args, c.summary);
            return 0;
        }
        if (n < c.min_args || n > c.max_args) {
            std::fprintf(stderr, "usage: quillmar %s %s\n", c.name, c.args);
            return 2;
        }
        // The command is one call of the session: without a terminal nobody can answer a
        // prompt, so the tool runs unattended by itself; the log hears of it as of an export.
        char line[1024] = "";
        size_t used = 0;
        for (int a = 1; a < argc && used + 1 < sizeof line; ++a) {
            const int w = std::snprintf(line + used, sizeof line - used, "%s%s", a > 1 ? " " : "", argv[a]);
            if (w < 0) break;
            used += static_cast<size_t>(w);
        }
        const qm::session::Call call("quillmar", line);
        const int rc = c.run(n, argv + 2);
        return call.result(rc != 0 ? rc : failure_reported() ? 1 : 0);
    }
    std::fprintf(stderr, "quillmar: unknown command '%s'\n", argv[1]);
    usage(stderr);
    return 2;
}
