// Names in the order a sorted list box of the platform keeps them (seen under Wine's
// list box): the DLL's dialog must show them so, and the in-memory list box must keep
// the same order.
#pragma once

#include <string>
#include <vector>

namespace qm::test {

inline const std::vector<std::string>& sorted_package_names() {
    static const std::vector<std::string> names = {
        "[x].pkg", "_x.pkg", "~x.pkg",  "1x.pkg",  "a c.pkg", "a.pkg",   "a_c.pkg", "a~b.pkg", "a+b.pkg", "a=b.pkg",
        "a1.pkg",  "a10.pkg", "a2.pkg", "ab.pkg",  "ac.pkg",  "a'c.pkg", "a-c.pkg", "B.pkg",   "c.pkg"};
    return names;
}

}  // namespace qm::test
