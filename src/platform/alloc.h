// Allocation that reports failure as null instead of throwing: no exception may cross
// the library's boundary, and every caller has a message for "out of memory".
#pragma once

#include <memory>
#include <new>
#include <utility>

#include "platform/fault.h"

namespace qm {

template <typename T, typename... Args>
std::unique_ptr<T> try_make(Args&&... args) noexcept {
    if (plat::fault::check(plat::fault::Op::Alloc) != 0) return nullptr;
    try {
        return std::make_unique<T>(std::forward<Args>(args)...);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

template <typename T>
std::unique_ptr<T[]> try_make_array(size_t n) noexcept {
    if (plat::fault::check(plat::fault::Op::Alloc) != 0) return nullptr;
    try {
        return std::make_unique<T[]>(n);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

}  // namespace qm
