// A list box held in memory, with the platform list box's semantics: sorted insertion in
// the order a sorted Windows list box keeps (letters without regard to case, punctuation
// before digits before letters, hyphens and apostrophes counting only between texts that
// are otherwise equal), case-insensitive prefix search from the top, extended selection.
// The terminal host of the list dialog shows one; tests drive the dialog logic with one.
// Portable, like everything in stand_in/: what stands in for a platform object where a
// side has none (POSIX has no list box) or a test wants one it can see into.
#pragma once

#include <string>
#include <vector>

#include "platform/dialogs.h"

namespace qm::plat {

// The order of a sorted platform list box: negative, zero or positive as a sorts
// before, together with or after b. Texts equal here keep the place the insertion's
// binary search finds, as on the platform.
int list_box_collate(const char* a, const char* b) noexcept;

class MemoryListBox final : public ListBox {
public:
    int add(const char* text) noexcept override;
    int find_prefix(const char* prefix) noexcept override;
    void remove(int index) noexcept override;
    int selected_count() noexcept override;
    int selected_items(int32_t* out, int max) noexcept override;
    bool text(int index, char* out, size_t size) noexcept override;
    void select_all(bool on) noexcept override;

    // What the user does with the mouse, and what a host shows.
    int count() const noexcept { return static_cast<int>(items_.size()); }
    const char* item(int index) const noexcept;  // null when there is no such item
    bool selected(int index) const noexcept;
    void set_selected(int index, bool on) noexcept;

private:
    struct Item {
        std::string text;
        bool selected = false;
    };
    bool valid(int index) const noexcept { return index >= 0 && index < count(); }
    std::vector<Item> items_;
};

}  // namespace qm::plat
