#include "packages/scripted_answers.h"

#include <cstdio>
#include <cstring>

#include "packages/package_list.h"
#include "platform/stand_in/memory_list_box.h"
#include "session/session.h"

namespace qm::packages {

namespace {

namespace win32 = plat::win32;

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

}  // namespace

int AnswerListDialog(plat::ListDialogLogic& dialog, int ok_id, int cancel_id) noexcept {
    plat::MemoryListBox list;
    ScriptedWindow window;
    dialog.open(list, window);
    static char answer[kAnswerSize];
    if (!plat::live_env(session::kSelectVar, answer, sizeof answer) || answer[0] == '\0') {
        session::note("list dialog answered Cancel: %s is not set (%d item(s) offered)", session::kSelectVar,
                      list.count());
        dialog.command(cancel_id, list, window);
        session::fail(win32::kCancelled);
        return window.result();
    }
    if (equal_ignoring_case(answer, "all")) {
        list.select_all(true);
    } else {
        char* rest = answer;
        while (char* name = next_item(rest)) {
            int found = -1;
            for (int i = 0; i < list.count() && found < 0; ++i)
                if (equal_ignoring_case(list.item(i), name)) found = i;
            if (found >= 0)
                list.set_selected(found, true);
            else
                session::note("%s names \"%s\", which the list dialog does not offer: ignored", session::kSelectVar, name);
        }
    }
    const int chosen = list.selected_count();
    if (chosen <= 0) {
        session::note("list dialog answered Cancel: %s chose none of the %d item(s) offered", session::kSelectVar,
                      list.count());
        dialog.command(cancel_id, list, window);
        session::fail(win32::kCancelled);
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
    if (window.result() != 1) session::fail(win32::kCancelled);
    return window.result();
}

int AnswerPackageFiles() noexcept {
    static char answer[kAnswerSize];
    if (!plat::live_env(session::kPackagesVar, answer, sizeof answer) || answer[0] == '\0') {
        session::note("file-open dialog answered Cancel: %s is not set", session::kPackagesVar);
        session::fail(win32::kCancelled);
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
        session::fail(win32::kCancelled);
        return 0;
    }
    session::note("file-open dialog answered OK by %s: %d package(s)", session::kPackagesVar,
                  static_cast<int>(PackageList.count));
    return 1;
}

}  // namespace qm::packages
