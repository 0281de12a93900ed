// The entry probes over real INI files: the first number of each series without a value.
#include <gtest/gtest.h>

#include <string>

#include "common/temp_dir.h"
#include "config/probes.h"

using qm::test::TempDir;

namespace {

struct ProbeCase {
    const char* what;
    const char* program_section;  // the lines of [program]
    int ico;
    int dis;
};

class Probes : public ::testing::TestWithParam<ProbeCase> {};

TEST_P(Probes, FirstFreeNumberOfEachSeries) {
    const ProbeCase& c = GetParam();
    TempDir t;
    qm::test::write_file(t / "group.ini",
                         std::string("[other]\r\nico1=x\r\ndis1=x\r\n[program]\r\n") + c.program_section);
    const std::string path = (t / "group.ini").string();
    EXPECT_EQ(qm::config::GetLastIconEntry(path.c_str()), c.ico) << c.what;
    EXPECT_EQ(qm::config::GetLastDisEntry(path.c_str()), c.dis) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Series, Probes,
    ::testing::Values(
        ProbeCase{"empty section", "", 1, 1},
        ProbeCase{"five icons", "ico1=a\r\nico2=b\r\nico3=c\r\nico4=d\r\nico5=e\r\n", 6, 1},
        ProbeCase{"empty value is a gap", "ico1=a\r\nico2=\r\nico3=c\r\n", 2, 1},
        ProbeCase{"missing key is a gap", "ico1=a\r\nico3=c\r\n", 2, 1},
        ProbeCase{"series independent", "dis1=a\r\ndis2=b\r\ndis3=c\r\n", 1, 4},
        ProbeCase{"value longer than nine characters is taken", "ico1=0123456789abcdef\r\n", 2, 1},
        ProbeCase{"empty quotes are empty", "ico1=\"\"\r\nDIS1=x\r\n", 1, 2},
        ProbeCase{"key without = is free", "ico1\r\n", 1, 1},
        ProbeCase{"no leading zeros", "ico01=a\r\n", 1, 1}),
    [](const ::testing::TestParamInfo<ProbeCase>& i) { return "case" + std::to_string(i.index); });

TEST(ProbesFile, MissingFileGivesOne) {
    TempDir t;
    const std::string path = (t / "absent.ini").string();
    EXPECT_EQ(qm::config::GetLastIconEntry(path.c_str()), 1);
    EXPECT_EQ(qm::config::GetLastDisEntry(path.c_str()), 1);
}

TEST(ProbesFile, AllTakenGivesThousandAndTheLastGapIsFound) {
    TempDir t;
    std::string all = "[program]\r\n", but_last = all;
    for (int n = 1; n <= 999; ++n) {
        all += "ico" + std::to_string(n) + "=i\r\n";
        if (n < 999) but_last += "dis" + std::to_string(n) + "=d\r\n";
    }
    qm::test::write_file(t / "all.ini", all);
    qm::test::write_file(t / "last.ini", but_last);
    EXPECT_EQ(qm::config::GetLastIconEntry((t / "all.ini").string().c_str()), 1000);
    EXPECT_EQ(qm::config::GetLastDisEntry((t / "last.ini").string().c_str()), 999);
}

}  // namespace
