// The Windows wildcard rule for one name, as the POSIX directory search applies it.
#include <gtest/gtest.h>

#include "platform/posix/wildcard.h"

namespace {

struct MatchCase {
    const char* pattern;
    const char* name;
    bool matches;
};
void PrintTo(const MatchCase& c, std::ostream* os) { *os << '"' << c.pattern << "\" ~ \"" << c.name << '"'; }

class WildcardTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(WildcardTest, Matches) {
    const MatchCase& c = GetParam();
    EXPECT_EQ(qm::plat::wildcard_match(c.pattern, c.name), c.matches)
        << "pattern \"" << c.pattern << "\", name \"" << c.name << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WildcardTest,
    ::testing::Values(
        // "*": any run, the empty one included
        MatchCase{"*", "anything.at.all", true}, MatchCase{"*", ".", true}, MatchCase{"*", "..", true},
        MatchCase{"a*", "a", true}, MatchCase{"*a", "bba", true}, MatchCase{"*a", "ab", false},
        MatchCase{"a*b*c", "axxbyyc", true}, MatchCase{"a*b*c", "axxbyy", false},
        MatchCase{"*abc*abd", "abcabcabd", true}, MatchCase{"**x", "x", true},
        // "?": exactly one character
        MatchCase{"?", "a", true}, MatchCase{"?", "ab", false}, MatchCase{"a?c", "abc", true},
        MatchCase{"a?c", "ac", false}, MatchCase{"???", "a.b", true},
        // letters without regard to case, everything else literally
        MatchCase{"*.txt", "README.TXT", true}, MatchCase{"Mixed.Pkg", "mIXED.pKG", true},
        MatchCase{"*.txt", "a.txt.bak", false}, MatchCase{"*.pkg", "x.pkgx", false},
        MatchCase{"[ab]", "[ab]", true}, MatchCase{"[ab]", "a", false}, MatchCase{"a b", "A B", true},
        // "*.*" is every name, and "name.*" also the name without any dot
        MatchCase{"*.*", "noextension", true}, MatchCase{"*.*", "a.b", true}, MatchCase{"*.*", ".", true},
        MatchCase{"name.*", "name", true}, MatchCase{"name.*", "name.txt", true},
        MatchCase{"name.*", "names", false}, MatchCase{"name.*", "other", false},
        MatchCase{".*", ".hidden", true}, MatchCase{"*.mfs", "router.mfs", true},
        // a "*" in the name is a character like any other (found by fuzzing)
        MatchCase{"*", "*r", true}, MatchCase{"*", "", true}, MatchCase{"x*", "*", false},
        // runaway backtracking would make this one slow, not wrong
        MatchCase{"*a*a*a*a*b", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaac", false}));

}  // namespace
