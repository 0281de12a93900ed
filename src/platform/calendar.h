// A time as a calendar date and time of day, as the C runtime's localtime and gmtime
// give it, without their shared static result.
#pragma once

#include <ctime>

namespace qm::plat {

// In the local time zone; false when the runtime cannot represent t.
bool local_calendar(std::time_t t, std::tm* out) noexcept;
// In UTC; false when the runtime cannot represent t.
bool utc_calendar(std::time_t t, std::tm* out) noexcept;

}  // namespace qm::plat
