#include <cstdio>
#include <cstring>

#include "cli.h"
#include "platform/notify.h"
#include "session/session.h"

namespace {

using namespace qm::cli;

bool is(const char* arg, const char* a, const char* b) { return !std::strcmp(arg, a) || !std::strcmp(arg, b); }

int bad_usage(const char* what, const char* arg) {
    std::fprintf(stderr, "quillmar: unknown %s '%s'\n", what, arg);
    print_usage(stderr);
    return 2;
}

// "help" and "help COMMAND" answer as --help and COMMAND --help do.
int help(int argc, char** argv) {
    if (argc == 0) {
        print_usage(stdout);
        return 0;
    }
    if (argc > 1) {
        std::fprintf(stderr, "usage: quillmar help [COMMAND]\n");
        return 2;
    }
    const Command* c = find_command(argv[0]);
    if (!c) return bad_usage("command", argv[0]);
    print_command_usage(stdout, *c);
    return 0;
}

// The library has nowhere to say that it refused a log; the tool has its stderr.
void stderr_log_refusal(const char* text) noexcept { std::fprintf(stderr, "quillmar: %s\n", text); }

}  // namespace

int main(int argc, char** argv) {
    qm::plat::set_notifier(stderr_notifier);
    qm::session::set_log_refusal_sink(stderr_log_refusal);
    if (argc < 2) {
        print_usage(stderr);
        return 2;
    }
    if (is(argv[1], "--help", "-h")) return help(0, nullptr);
    if (is(argv[1], "--version", "-V")) {
        std::printf("quillmar %s\n", kVersion);
        return 0;
    }
    if (!std::strcmp(argv[1], "help")) return help(argc - 2, argv + 2);
    const Command* found = find_command(argv[1]);
    if (!found) return bad_usage(argv[1][0] == '-' ? "option" : "command", argv[1]);
    const Command& c = *found;
    const int n = argc - 2;
    if (n >= 1 && is(argv[2], "--help", "-h")) {
        print_command_usage(stdout, c);
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
