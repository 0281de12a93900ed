#include "packages/scripted_answers.h"

#include <cstdio>
#include <cstring>

#include "packages/package_list.h"
#include "platform/stand_in/memory_list_box.h"
#include "session/session.h"

namespace qm::packages {

namespace {

constexpr size_t kAnswerSize = 32768;  // the platform's limit for a variable's value

class ScriptedWindow final : public plat::DialogWindow {
public:
    void set_caption(const char*) noexcept override {}
    void center_on_screen() noexcept override {}
    void end(int result) noexcept override {
        if (!ended_) result_ = result;
        ended_ = true;
    }
    int result() const noexcept { return result_; }

private:
    int result_ = 0;
    bool ended_ = false;
};

// The next ";"-separated item of text (split in place), blanks around it dropped; null
// at the end.
char* next_item(char*& text) noexcept {
    while (text && *text) {
        char* item = text;
        char* semi = std::strchr(text, ';');
        if (semi) {
            *semi = '\0';
            text = semi + 1;
        } else {
            text = nullptr;
        }
        while (*item == ' ' || *item == '\t') ++item;
        size_t n = std::strlen(item);
        while (n > 0 && (item[n - 1] == ' ' || item[n - 1] == '\t')) item[--n] = '\0';
        if (n > 0) return item;
    }
    return nullptr;
}

bool equal_ignoring_case(const char* a, const char* b) noexcept {
    for (; *a && *b; ++a, ++b) {
        char x = *a, y = *b;
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return *a == *b;
}

// "all", with blanks around it as a name may have them.
bool is_all(const char* text) noexcept {
    while (*text == ' ' || *text == '\t') ++text;
    size_t n = std::strlen(text);
    while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
    if (n != 3) return false;
    const char word[4] = {text[0], text[1], text[2], '\0'};
    return equal_ignoring_case(word, "all");
}

// The variable's answer, whole, in out: null when there is one, else why there is none
// (then the dialog is cancelled). A value longer than the library holds is refused as a
// whole, as if unset: cut short, one name would select another.
const char* read_answer(const char* var, char* out, size_t size) noexcept {
    switch (plat::live_env(var, out, size)) {
    case plat::EnvValue::Set:
        return out[0] != '\0' ? nullptr : "is not set";
    case plat::EnvValue::TooLong:
        static_assert(kAnswerSize == 32768, "the text below names the limit");
        return "is longer than the 32767 characters the library holds: taken as unset";
    case plat::EnvValue::Unset:
        break;
    }
    return "is not set";
}

// Adds "name" to the names not offered (size bytes, len used); when it no longer fits, the
// names are counted instead, so thousands of them make one line, not thousands.
void add_unknown(char* out, size_t size, size_t& len, int& left_out, const char* name) noexcept {
    const int w = std::snprintf(out + len, size - len, "%s\"%s\"", len ? ", " : "", name);
    if (left_out == 0 && w > 0 && static_cast<size_t>(w) < size - len - 32) {
        len += static_cast<size_t>(w);
        return;
    }
    out[len] = '\0';
    ++left_out;
}

}  // namespace

int AnswerListDialog(plat::ListDialogLogic& dialog, int ok_id, int cancel_id) noexcept {
    plat::MemoryListBox list;
    ScriptedWindow window;
    dialog.open(list, window);
    char answer[kAnswerSize];  // the call's own: no other call, on any thread, shares it
    if (const char* none = read_answer(session::kSelectVar, answer, sizeof answer)) {
        session::note("list dialog answered Cancel: %s %s (%d item(s) offered)", session::kSelectVar, none,
                      list.count());
        dialog.command(cancel_id, list, window);
        return window.result();
    }
    if (is_all(answer)) {
        list.select_all(true);
    } else {
        char unknown[3072] = "";
        size_t len = 0;
        int unknown_count = 0, left_out = 0;
        char* rest = answer;
        while (char* name = next_item(rest)) {
            int found = -1;
            for (int i = 0; i < list.count() && found < 0; ++i)
                if (equal_ignoring_case(list.item(i), name)) found = i;
            if (found >= 0) {
                list.set_selected(found, true);
            } else {
                ++unknown_count;
                add_unknown(unknown, sizeof unknown, len, left_out, name);
            }
        }
        char more[32] = "";
        if (left_out > 0) std::snprintf(more, sizeof more, " and %d more", left_out);
        if (unknown_count > 0)
            session::note("%s names %d item(s) the list dialog does not offer, ignored: %s%s", session::kSelectVar,
                          unknown_count, unknown, more);
    }
    const int chosen = list.selected_count();
    if (chosen <= 0) {
        session::note("list dialog answered Cancel: %s chose none of the %d item(s) offered", session::kSelectVar,
                      list.count());
        dialog.command(cancel_id, list, window);
        return window.result();
    }
    char names[4096] = "";
    size_t used = 0;
    for (int i = 0; i < list.count() && used + 1 < sizeof names; ++i) {
        if (!list.selected(i)) continue;
        const int w = std::snprintf(names + used, sizeof names - used, "%s%s", used ? ";" : "", list.item(i));
        if (w < 0) break;
        used += static_cast<size_t>(w);
    }
    session::note("list dialog answered OK by %s: %d of %d item(s): %s", session::kSelectVar, chosen, list.count(),
                  names);
    dialog.command(ok_id, list, window);
    return window.result();
}

int AnswerPackageFiles() noexcept {
    char answer[kAnswerSize];  // the call's own: no other call, on any thread, shares it
    if (const char* none = read_answer(session::kPackagesVar, answer, sizeof answer)) {
        session::note("file-open dialog answered Cancel: %s %s", session::kPackagesVar, none);
        return 0;
    }
    // The list changes only when at least one path fits it, as after the dialog.
    const PackageListTable before = PackageList;
    PackageList.count = 0;
    PackageList.cursor = 0;
    char* rest = answer;
    while (char* path = next_item(rest)) {
        if (!append_package_entry("%s", path))
            session::note("%s: \"%s\" does not fit the package list: left out", session::kPackagesVar, path);
    }
    if (PackageList.count == 0) {
        PackageList = before;
        session::note("file-open dialog answered Cancel: nothing in %s fits the package list", session::kPackagesVar);
        return 0;
    }
    session::note("file-open dialog answered OK by %s: %d package(s)", session::kPackagesVar,
                  static_cast<int>(PackageList.count));
    return 1;
}

}  // namespace qm::packages
