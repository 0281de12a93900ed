#include "platform/host.h"

#include <cstring>

namespace qm::plat {

bool log_refused(const char* refused, const char** why) noexcept {
    if (refused && why) *why = refused;
    return refused != nullptr;
}

void make_log_line(const char* text, size_t len, const char* end, LogLine* line) noexcept {
    const size_t end_len = std::strlen(end);
    if (len > sizeof line->bytes - end_len) len = sizeof line->bytes - end_len;
    std::memcpy(line->bytes, text, len);
    std::memcpy(line->bytes + len, end, end_len);
    line->len = len + end_len;
}

}  // namespace qm::plat
