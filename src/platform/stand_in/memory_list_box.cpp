#include "platform/stand_in/memory_list_box.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace qm::plat {

namespace {

unsigned char fold(unsigned char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Hyphen and apostrophe only break ties (word sort).
bool tie_only(unsigned char c) noexcept { return c == '-' || c == '\''; }

// Punctuation and symbols in code order, then the mathematical symbols, then digits,
// then letters; bytes beyond ASCII last, in code order.
int weight(unsigned char c) noexcept {
    c = fold(c);
    if (c >= 'a' && c <= 'z') return 0x300 + c;
    if (c >= '0' && c <= '9') return 0x200 + c;
    if (c == '+' || c == '<' || c == '=' || c == '>') return 0x100 + c;
    if (c >= 0x80) return 0x400 + c;
    return c;
}

int sign(int v) noexcept { return (v > 0) - (v < 0); }

// Among texts equal in their other characters: the one without hyphens and apostrophes
// first; then, at the first difference, the mark further to the right first, and an
// apostrophe before a hyphen at the same place.
int compare_marks(const unsigned char* a, const unsigned char* b) noexcept {
    size_t i = 0, j = 0;
    while (true) {
        while (a[i] && !tie_only(a[i])) ++i;
        while (b[j] && !tie_only(b[j])) ++j;
        if (!a[i] || !b[j]) return sign(static_cast<int>(a[i] != 0) - static_cast<int>(b[j] != 0));
        if (i != j) return i > j ? -1 : 1;
        if (a[i] != b[j]) return a[i] == '\'' ? -1 : 1;
        ++i;
        ++j;
    }
}

}  // namespace

int list_box_collate(const char* a, const char* b) noexcept {
    auto ua = reinterpret_cast<const unsigned char*>(a);
    auto ub = reinterpret_cast<const unsigned char*>(b);
    size_t i = 0, j = 0;
    while (true) {
        while (ua[i] && tie_only(ua[i])) ++i;
        while (ub[j] && tie_only(ub[j])) ++j;
        if (!ua[i] || !ub[j]) {
            if (ua[i] || ub[j]) return ua[i] ? 1 : -1;
            break;
        }
        const int d = weight(ua[i]) - weight(ub[j]);
        if (d != 0) return sign(d);
        ++i;
        ++j;
    }
    return compare_marks(ua, ub);
}

int MemoryListBox::add(const char* text) noexcept {
    // The platform's binary search: an equal item found on the way takes the new one in
    // front of it.
    int lo = 0, hi = count() - 1;
    while (lo <= hi) {
        const int mid = (lo + hi) / 2;
        const int r = list_box_collate(items_[static_cast<size_t>(mid)].text.c_str(), text);
        if (r == 0) {
            lo = mid;
            break;
        }
        if (r > 0)
            hi = mid - 1;
        else
            lo = mid + 1;
    }
    try {
        items_.insert(items_.begin() + lo, Item{text, false});
    } catch (const std::bad_alloc&) {
        return -2;  // LB_ERRSPACE
    }
    return lo;
}

int MemoryListBox::find_prefix(const char* prefix) noexcept {
    const size_t n = std::strlen(prefix);
    if (n == 0) return kError;
    for (int i = 0; i < count(); ++i) {
        const std::string& t = items_[static_cast<size_t>(i)].text;
        if (t.size() < n) continue;
        bool same = true;
        for (size_t k = 0; k < n && same; ++k)
            same = fold(static_cast<unsigned char>(t[k])) == fold(static_cast<unsigned char>(prefix[k]));
        if (same) return i;
    }
    return kError;
}

void MemoryListBox::remove(int index) noexcept {
    if (valid(index)) items_.erase(items_.begin() + index);
}

int MemoryListBox::selected_count() noexcept {
    int n = 0;
    for (const Item& it : items_) n += it.selected ? 1 : 0;
    return n;
}

int MemoryListBox::selected_items(int32_t* out, int max) noexcept {
    int n = 0;
    for (int i = 0; i < count() && n < max; ++i)
        if (items_[static_cast<size_t>(i)].selected) out[n++] = i;
    return n;
}

bool MemoryListBox::text(int index, char* out, size_t size) noexcept {
    if (size == 0) return false;
    out[0] = '\0';
    if (!valid(index)) return false;
    const std::string& t = items_[static_cast<size_t>(index)].text;
    if (t.size() >= size) return false;
    std::memcpy(out, t.c_str(), t.size() + 1);
    return true;
}

void MemoryListBox::select_all(bool on) noexcept {
    for (Item& it : items_) it.selected = on;
}

const char* MemoryListBox::item(int index) const noexcept {
    return valid(index) ? items_[static_cast<size_t>(index)].text.c_str() : nullptr;
}

bool MemoryListBox::selected(int index) const noexcept {
    return valid(index) && items_[static_cast<size_t>(index)].selected;
}

void MemoryListBox::set_selected(int index, bool on) noexcept {
    if (valid(index)) items_[static_cast<size_t>(index)].selected = on;
}

}  // namespace qm::plat
