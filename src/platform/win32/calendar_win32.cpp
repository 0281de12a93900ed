#include "platform/calendar.h"

namespace qm::plat {

bool local_calendar(std::time_t t, std::tm* out) noexcept { return localtime_s(out, &t) == 0; }
bool utc_calendar(std::time_t t, std::tm* out) noexcept { return gmtime_s(out, &t) == 0; }

}  // namespace qm::plat
