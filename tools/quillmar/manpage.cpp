// Writes the manual page quillmar(1) at build time from the same command table and
// texts as `quillmar --help`, so the two cannot tell different stories.
//   quillmar_manpage OUTPUT
#include <cstdio>

#include "cli.h"
#include "platform/unique_handle.h"

namespace {

using namespace qm::cli;

// Text as roff reads it: a backslash or a minus sign would be taken for markup, and a
// line may not begin with a control character.
void put(std::FILE* out, const char* text) {
    if (*text == '.' || *text == '\'') std::fputs("\\&", out);
    for (const char* p = text; *p; ++p) {
        if (*p == '\\') std::fputs("\\e", out);
        else if (*p == '-') std::fputs("\\-", out);
        else std::fputc(*p, out);
    }
}

void tagged(std::FILE* out, const char* bold, const char* italic, const char* text) {
    std::fputs(".TP\n\\fB", out);
    put(out, bold);
    std::fputs("\\fR", out);
    if (*italic) {
        std::fputs(" \\fI", out);
        put(out, italic);
        std::fputs("\\fR", out);
    }
    std::fputs("\n", out);
    put(out, text);
    std::fputs("\n", out);
}

struct Variable {
    const char* name;
    const char* text;
};
const Variable kVariables[] = {
    {"QUILLMAR_UNATTENDED", "1 (any value but empty or 0) never asks anyone; without a terminal the tool "
                            "does so by itself."},
    {"QUILLMAR_LOG", "the log every command adds its line to; unset, an unattended command writes to "
                     "quillmar.log in the temporary folder."},
    {"QUILLMAR_SELECT", "the answer to the package selection list: all, or names separated by ;."},
    {"QUILLMAR_PACKAGES", "the answer to the package file choice: paths separated by ;."},
    {"QUILLMAR_WHOLE_PACKAGE", "1 (any value but empty or 0, blanks around it dropped) expands a package whole "
                               "or not at all, as expand --whole does."},
    {"NMSROOT", "the folder of the install log kyinstall.log, where the copy command notes each "
                "file it refused (the current directory when unset)."},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillmar_manpage OUTPUT\n");
        return 2;
    }
    const qm::plat::unique_stream file(std::fopen(argv[1], "w"));
    std::FILE* out = file.get();
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    std::fprintf(out, ".TH QUILLMAR 1 \"\" \"quillmar %s\" \"User Commands\"\n", kVersion);
    std::fputs(".SH NAME\nquillmar \\- install, inspect and author device packages\n"
               ".SH SYNOPSIS\n\\fBquillmar\\fR \\fICOMMAND\\fR [\\fIARGS\\fR]\n.br\n"
               "\\fBquillmar help\\fR [\\fICOMMAND\\fR]\n.br\n\\fBquillmar \\-\\-version\\fR\n"
               ".SH DESCRIPTION\n\\fBquillmar\\fR runs the operations of the device-package library "
               "from a shell, the same code an install script reaches through the library's exports: "
               "it expands packages without ever replacing a newer file, reads and builds the package "
               "lists, copies with the timestamp guard, and checks, plans, packs and verifies packages "
               "for their authors. Every command is one call of the library's session: with "
               "\\fBQUILLMAR_LOG\\fR set it leaves one line in the log.\n.SH COMMANDS\n",
               out);
    for (size_t i = 0; i < command_count(); ++i) {
        const Command& c = command_at(i);
        tagged(out, c.name, c.args, c.summary);
    }
    std::fputs(".SH OPTIONS\n", out);
    for (size_t i = 0; i < kOptionCount; ++i) tagged(out, kOptions[i].names, "", kOptions[i].summary);
    std::fputs(".SH EXIT STATUS\n", out);
    put(out, kExitStatus);
    std::fputs("\n.SH ENVIRONMENT\n", out);
    for (const Variable& v : kVariables) tagged(out, v.name, "", v.text);
    std::fflush(out);
    if (std::ferror(out)) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
