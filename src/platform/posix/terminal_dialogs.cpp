#include "platform/posix/terminal_dialogs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "platform/dialog_ids.h"
#include "platform/dirsearch.h"
#include "platform/posix/paths.h"
#include "platform/stand_in/memory_list_box.h"
#include "platform/unique_handle.h"

namespace qm::plat {

namespace {

void show(FILE* out, const char* caption, const MemoryListBox& list) noexcept {
    std::fprintf(out, "\n%s\n", caption);
    if (list.count() == 0) std::fprintf(out, "  (nothing to choose)\n");
    for (int i = 0; i < list.count(); ++i)
        std::fprintf(out, "  %3d [%c] %s\n", i + 1, list.selected(i) ? 'x' : ' ', list.item(i));
}

// Applies a line of item numbers ("3", "1 4", "2-5", commas allowed) as toggles. False,
// with nothing changed, when a word is not an item number or range.
bool toggle(char* line, MemoryListBox& list) noexcept {
    // Two passes: check every word first, so a mistyped line changes nothing.
    for (int pass = 0; pass < 2; ++pass) {
        const char* p = line;
        while (*p) {
            while (*p == ' ' || *p == ',' || *p == '\t') ++p;
            if (!*p) break;
            char* end = nullptr;
            const long a = std::strtol(p, &end, 10);
            long b = a;
            if (end == p) return false;
            if (*end == '-') {
                const char* q = end + 1;
                b = std::strtol(q, &end, 10);
                if (end == q) return false;
            }
            if (*end && *end != ' ' && *end != ',' && *end != '\t') return false;
            if (a < 1 || b < a || b > list.count()) return false;
            if (pass == 1)
                for (long i = a - 1; i < b; ++i)
                    list.set_selected(static_cast<int>(i), !list.selected(static_cast<int>(i)));
            p = end;
        }
    }
    return true;
}

void trim(char* s) noexcept {
    size_t n = std::strlen(s);
    while (n > 0 && std::isspace(static_cast<unsigned char>(s[n - 1]))) s[--n] = '\0';
    size_t i = 0;
    while (s[i] && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (i) std::memmove(s, s + i, n - i + 1);
}

// Shows the list and reads answers until one is a button: the button's id. Toggles are
// applied on the way.
int ask(FILE* in, FILE* out, const char* caption, const char* ok, MemoryListBox& list) noexcept {
    while (true) {
        show(out, caption, list);
        std::fprintf(out, "Numbers toggle items, \"all\" selects all, \"none\" unselects all,\n"
                          "Enter: %s, \"q\": Cancel > ", ok);
        std::fflush(out);
        char line[1024];
        if (!std::fgets(line, sizeof line, in)) {
            std::fprintf(out, "\n");
            return IDC_CANCEL;
        }
        if (!std::strchr(line, '\n')) {  // drop the rest of an overlong line
            int c;
            while ((c = std::fgetc(in)) != EOF && c != '\n') {
            }
        }
        trim(line);
        if (line[0] == '\0') return IDC_OK;
        if (!std::strcmp(line, "q") || !std::strcmp(line, "Q")) return IDC_CANCEL;
        if (!std::strcmp(line, "all")) return IDC_SELECT_ALL;
        if (!std::strcmp(line, "none")) return IDC_UNSELECT_ALL;
        if (!toggle(line, list)) std::fprintf(out, "Not an item number: %s\n", line);
    }
}

class TerminalWindow final : public DialogWindow {
public:
    void set_caption(const char* text) noexcept override {
        std::snprintf(caption_, sizeof caption_, "%s", text);
    }
    void center_on_screen() noexcept override {}
    void end(int result) noexcept override {
        ended_ = true;
        result_ = result;
    }
    const char* caption() const noexcept { return caption_; }
    bool ended() const noexcept { return ended_; }
    int result() const noexcept { return result_; }

private:
    char caption_[256] = "Device Installation";  // the template's caption
    bool ended_ = false;
    int result_ = 0;
};

using Stream = unique_stream;

// The controlling terminal, for reading and for writing; both empty without one.
struct Terminal {
    Stream in, out;
    CallResult opened;  // why there is none
    Terminal() noexcept {
        unique_fd fd(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
        if (!fd) {
            opened = failed_now(FileStep::Open);
            return;
        }
        unique_fd fd2(::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0));
        // Each stream owns its descriptor once it exists.
        in.reset(::fdopen(fd.get(), "r"));
        if (in) fd.release();
        if (fd2) {
            out.reset(::fdopen(fd2.get(), "w"));
            if (out) fd2.release();
        }
    }
    bool ok() const noexcept { return in && out; }
};

}  // namespace

int run_list_dialog_on(FILE* in, FILE* out, ListDialogLogic& logic) noexcept {
    MemoryListBox list;
    TerminalWindow window;
    logic.open(list, window);
    while (!window.ended()) logic.command(ask(in, out, window.caption(), "OK", list), list, window);
    return window.result();
}

bool choose_package_files_on(FILE* in, FILE* out, const char* dir, char* selection, size_t size) noexcept {
    if (size == 0) return false;
    // The selection text separates names by spaces; a space inside one cannot be told apart.
    if (std::strchr(dir, ' ')) {
        std::fprintf(out, "The current directory's path contains a space; no package can be chosen here.\n");
        return false;
    }
    MemoryListBox list;
    DirSearch search;
    if (search.first("*.pkg").ok()) {
        do {
            if (!search.is_dir() && !std::strchr(search.name(), ' ')) list.add(search.name());
        } while (search.next());
    }
    char caption[300];
    std::snprintf(caption, sizeof caption, "Select Package (%s)", dir);
    while (true) {
        const int id = ask(in, out, caption, "Open", list);
        if (id == IDC_SELECT_ALL || id == IDC_UNSELECT_ALL) {
            list.select_all(id == IDC_SELECT_ALL);
            continue;
        }
        if (id == IDC_CANCEL || list.selected_count() == 0) return false;
        break;
    }
    const size_t dlen = std::strlen(dir);
    const char* sep = (dlen > 0 && dir[dlen - 1] == '/') ? "" : "/";
    size_t used = 0;
    int n = 0;
    if (list.selected_count() == 1) {
        int32_t only = 0;
        list.selected_items(&only, 1);
        n = std::snprintf(selection, size, "%s%s%s", dir, sep, list.item(only));
        used = n < 0 ? size : static_cast<size_t>(n);
    } else {
        n = std::snprintf(selection, size, "%s", dir);
        used = n < 0 ? size : static_cast<size_t>(n);
        for (int i = 0; i < list.count() && used < size; ++i) {
            if (!list.selected(i)) continue;
            n = std::snprintf(selection + used, size - used, " %s", list.item(i));
            used = n < 0 ? size : used + static_cast<size_t>(n);
        }
    }
    if (used >= size) {
        std::fprintf(out, "Too many files chosen at once.\n");
        return false;
    }
    return true;
}

ListDialogAnswer show_list_dialog(void*, ListDialogLogic& logic) noexcept {
    Terminal tty;
    // No terminal: the dialog cannot be shown.
    if (!tty.ok()) return {-1, tty.opened.ok() ? failed_with(FileStep::Open, kEBADF) : tty.opened};
    return {run_list_dialog_on(tty.in.get(), tty.out.get(), logic), CallResult{}};
}

bool choose_package_files(void*, char* selection, size_t size) noexcept {
    Terminal tty;
    if (!tty.ok()) return false;
    char dir[4096];
    if (!::getcwd(dir, sizeof dir)) return false;
    return choose_package_files_on(tty.in.get(), tty.out.get(), dir, selection, size);
}

}  // namespace qm::plat
