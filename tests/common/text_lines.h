// A line feed as the platform's text streams write it to disk.
#pragma once

#include <string>

namespace qm::test {

#ifdef _WIN32
inline const std::string kNl = "\r\n";
#else
inline const std::string kNl = "\n";
#endif

}  // namespace qm::test
