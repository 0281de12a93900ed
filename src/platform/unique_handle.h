// RAII ownership of one platform handle (the pattern WIL uses for Win32 handles): one
// template, and one line per kind naming its type, how it closes and what "none" is.
// The kinds every side has are here; each side names its own in platform/side.h.
#pragma once

#include <cstdio>
#include <utility>

namespace qm::plat {

template <typename T, bool (*Close)(T) noexcept, T (*None)() noexcept>
class unique_any {
public:
    using pointer = T;

    unique_any() noexcept : value_(None()) {}
    explicit unique_any(T value) noexcept : value_(value) {}
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    unique_any(unique_any&& other) noexcept : value_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~unique_any() { reset(); }

    explicit operator bool() const noexcept { return value_ != None(); }
    T get() const noexcept { return value_; }

    T release() noexcept {
        T v = value_;
        value_ = None();
        return v;
    }
    // Closes the handle now; returns what the close reported (true when nothing was open).
    bool reset(T value = None()) noexcept {
        bool ok = true;
        if (value_ != None()) ok = Close(value_);
        value_ = value;
        return ok;
    }

private:
    T value_;
};

// A descriptor of the system (POSIX) or of the C runtime (Windows).
bool close_descriptor(int fd) noexcept;
constexpr int no_descriptor() noexcept { return -1; }
using unique_fd = unique_any<int, close_descriptor, no_descriptor>;

// A C stdio stream.
inline bool close_stream(std::FILE* f) noexcept { return std::fclose(f) == 0; }
constexpr std::FILE* no_stream() noexcept { return nullptr; }
using unique_stream = unique_any<std::FILE*, close_stream, no_stream>;

}  // namespace qm::plat
