#include "platform/calendar.h"

namespace qm::plat {

bool local_calendar(std::time_t t, std::tm* out) noexcept { return localtime_r(&t, out) != nullptr; }
bool utc_calendar(std::time_t t, std::tm* out) noexcept { return gmtime_r(&t, out) != nullptr; }

}  // namespace qm::plat
