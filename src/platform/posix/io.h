// Descriptor helpers shared by the POSIX file code.
#pragma once

#include <cstddef>

namespace qm::plat {

// Writes all of data to fd, through interruptions and short writes; each write first
// meets the injected write faults. 0 or the error number.
int write_fully(int fd, const void* data, size_t size) noexcept;

}  // namespace qm::plat
