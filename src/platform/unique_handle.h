// RAII ownership of one platform handle, with a policy that says what "no handle"
// looks like and how to close one (the pattern WIL uses for Win32 handles).
#pragma once

#include <utility>

namespace qm::plat {

template <typename Traits>
class unique_handle {
public:
    using pointer = typename Traits::pointer;

    unique_handle() noexcept : value_(Traits::invalid()) {}
    explicit unique_handle(pointer value) noexcept : value_(value) {}
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_handle() { reset(); }

    explicit operator bool() const noexcept { return Traits::is_valid(value_); }
    pointer get() const noexcept { return value_; }

    pointer release() noexcept {
        pointer v = value_;
        value_ = Traits::invalid();
        return v;
    }
    // Closes the handle now; returns what the close reported (true when nothing was open).
    bool reset(pointer value = Traits::invalid()) noexcept {
        bool ok = true;
        if (Traits::is_valid(value_)) ok = Traits::close(value_);
        value_ = value;
        return ok;
    }

private:
    pointer value_;
};

}  // namespace qm::plat
