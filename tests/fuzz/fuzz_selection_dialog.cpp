// The list dialog's logic over an in-memory list box holding any names, driven by any
// sequence of clicks: no crash, no read or write beyond the hundred slots and indices,
// the list box kept in its sorted order, the core package's first item removed, and on
// OK exactly the first hundred selected names that fit a slot, in list order.
//
// Input: one byte with the number of commands n, then n two-byte commands (what, item),
// then the names separated by line feeds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "packages/selection_dialog.h"
#include "platform/stand_in/memory_list_box.h"

using namespace qm::packages;
using qm::plat::MemoryListBox;

namespace {

class Window final : public qm::plat::DialogWindow {
public:
    void set_caption(const char* text) noexcept override { caption = text; }
    void center_on_screen() noexcept override {}
    void end(int r) noexcept override {
        ended = true;
        result = r;
    }
    std::string caption = "Device Installation";
    bool ended = false;
    int result = -99;
};

bool core_prefix(const char* t) {
    static const char kCore[] = "kynms.pkg";
    for (size_t i = 0; i < sizeof kCore - 1; ++i) {
        char c = t[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != kCore[i]) return false;
    }
    return true;
}

int sign(int v) { return (v > 0) - (v < 0); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t ncmd = data[0];
    const size_t names_at = 2 + 2 * ncmd - 1;
    if (names_at > size) return 0;
    const uint8_t* cmds = data + 1;
    const uint8_t mode = data[names_at - 1];

    std::vector<std::string> names;
    std::string cur;
    for (size_t i = names_at; i < size; ++i) {
        if (data[i] == '\n') {
            names.push_back(cur.c_str());
            cur.clear();
        } else {
            cur.push_back(static_cast<char>(data[i]));
        }
    }
    names.push_back(cur.c_str());

    // The order the list box keeps must be a consistent one.
    for (size_t i = 0; i + 1 < names.size(); ++i) {
        const char* x = names[i].c_str();
        const char* y = names[i + 1].c_str();
        if (qm::plat::list_box_collate(x, x) != 0) abort();
        if (sign(qm::plat::list_box_collate(x, y)) != -sign(qm::plat::list_box_collate(y, x))) abort();
    }

    // The names stand for what the directory search found; no search runs here.
    std::memset(&PackageList, 0, sizeof PackageList);
    for (int i = 0; i < 7; ++i) append_package_entry("earlier%d", i);
    PackageList.cursor = 7;
    std::memset(SelectionPattern, 0, sizeof SelectionPattern);
    SelectionMode = mode & 1;

    MemoryListBox list;
    int cores = 0;
    for (const std::string& n : names) {
        if (list.add(n.c_str()) < 0) abort();
        cores += core_prefix(n.c_str()) ? 1 : 0;
    }
    Window window;
    PackageSelectionDialog dialog;
    dialog.open(list, window);
    if (PackageList.count != 0 || PackageList.cursor != 7) abort();
    if (list.count() != static_cast<int>(names.size()) - (cores > 0 ? 1 : 0)) abort();
    if (window.caption != (SelectionMode == 0 ? "Uninstall Package" : "Device Installation")) abort();
    for (int i = 0; i + 1 < list.count(); ++i)
        if (qm::plat::list_box_collate(list.item(i), list.item(i + 1)) > 0) abort();

    for (size_t k = 0; k < ncmd && !window.ended; ++k) {
        const uint8_t what = cmds[2 * k], item = cmds[2 * k + 1];
        const int count = list.count();
        switch (what % 8) {
            case 0:
            case 1:
            case 2:  // the user clicks an item (with Ctrl)
                if (count > 0) list.set_selected(item % count, !list.selected(item % count));
                break;
            case 3: {  // the user drags over a run of items (with Shift)
                if (count > 0)
                    for (int i = item % count; i < count && i < item % count + item; ++i) list.set_selected(i, true);
                break;
            }
            case 4:
                dialog.command(IDC_SELECT_ALL, list, window);
                break;
            case 5:
                dialog.command(IDC_UNSELECT_ALL, list, window);
                break;
            case 6:
                dialog.command(item & 1 ? IDC_OK : IDC_CANCEL, list, window);
                break;
            default:
                dialog.command(item * 7 + 3, list, window);  // other ids and notifications
                break;
        }
    }
    if (!window.ended) dialog.command(IDC_OK, list, window);

    // What OK must have taken: the first hundred selected items in list order, those
    // that fit a slot.
    std::vector<std::string> want;
    int selected_seen = 0;
    for (int i = 0; i < list.count() && selected_seen < MAX_PACKAGES; ++i) {
        if (!list.selected(i)) continue;
        ++selected_seen;
        if (std::strlen(list.item(i)) < static_cast<size_t>(PACKAGE_NAME_SIZE)) want.push_back(list.item(i));
    }
    if (window.result == 0) {
        if (PackageList.count != 0) abort();
        return 0;
    }
    if (window.result != 1 || PackageList.count != static_cast<int>(want.size()) || want.empty()) abort();
    for (size_t i = 0; i < want.size(); ++i)
        if (want[i] != PackageList.entries[i]) abort();
    return 0;
}
