// The header walk: numeric fields, checksums, block arithmetic, the end of the archive
// and the messages of a package that cannot be loaded.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/tar_builder.h"
#include "common/temp_dir.h"
#include "platform/errors.h"
#include "tar/tar.h"

using namespace qm::tar;
using qm::test::Member;
using qm::test::TarBuilder;
using qm::test::TempDir;

namespace {

struct OctalCase {
    const char* text;
    int width;
    int64_t expected;
};

class ReadOctal : public ::testing::TestWithParam<OctalCase> {};

TEST_P(ReadOctal, DecodesField) {
    const OctalCase& c = GetParam();
    unsigned char buf[16];
    std::memset(buf, 0x7f, sizeof buf);  // nothing past the width may be looked at
    std::memcpy(buf, c.text, static_cast<size_t>(c.width));
    EXPECT_EQ(TarReadOctal(c.width, buf), c.expected) << "field '" << std::string(c.text, c.width) << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Fields, ReadOctal,
    ::testing::Values(OctalCase{"0000644\0", 8, 420}, OctalCase{"   644 \0", 8, 420},
                      OctalCase{"\0\0\0\0\0\0\0\0", 8, 0}, OctalCase{"        ", 8, -1},
                      OctalCase{"06x4\0\0\0\0", 8, -1}, OctalCase{"77777777", 8, 077777777},
                      OctalCase{"77777777777 ", 12, 077777777777LL},
                      OctalCase{"777777777777", 12, 0777777777777LL},
                      OctalCase{"\t\n0644\0\0", 8, 420}, OctalCase{"0000009\0", 8, 9 /* digits count as themselves */}));

std::string load(const TarBuilder& b, TempDir& t, const char* name = "p.pkg") {
    qm::test::write_bytes(t / name, b.bytes());
    return (t / name).string();
}

TEST(TarOpen, RefusesFilesShorterThanOneBlock) {
    TempDir t;
    for (size_t size : {0u, 1u, 511u}) {
        qm::test::write_file(t / "small.pkg", std::string(size, 'x'));
        TarContextPtr c = TarCreate();
        EXPECT_EQ(TarOpen(c.get(), "small.pkg"), TarLoad::TooSmall);
        EXPECT_EQ(std::string(TarMessage(c.get())),
                  "Error: file \"small.pkg\" is too small. Size is " + std::to_string(size) + " bytes.");
    }
}

TEST(TarOpen, MissingFileNamesPathErrorNumberAndText) {
    TempDir t;
    TarContextPtr c = TarCreate();
    EXPECT_EQ(TarOpen(c.get(), "absent.pkg"), TarLoad::Missing);
    EXPECT_STREQ(TarMessage(c.get()), "open:\"absent.pkg\" failed:(2) No such file or directory");
}

TEST(TarOpen, BlankFirstBlockFailsSilently) {
    TempDir t;
    qm::test::write_file(t / "z.pkg", std::string(512, '\0'));
    TarContextPtr c = TarCreate();
    EXPECT_EQ(TarOpen(c.get(), "z.pkg"), TarLoad::NoHeader);
    EXPECT_STREQ(TarMessage(c.get()), "");
}

TEST(TarOpen, RefusedFirstTypeGivesWarningAtOffsetZero) {
    TempDir t;
    Member m;
    m.name = "link";
    m.type = '1';
    TarBuilder b;
    b.add(m).end();
    std::string path = load(b, t);
    TarContextPtr c = TarCreate();
    EXPECT_EQ(TarOpen(c.get(), path.c_str()), TarLoad::RefusedType);
    EXPECT_EQ(std::string(TarMessage(c.get())),
              "WARNING:\"" + path + "\" has invalid file type. offset:0");
}

TEST(TarOpen, RefusedLaterTypeNamesItsBlockOffset) {
    TempDir t;
    Member m;
    m.name = "sym";
    m.type = '2';
    TarBuilder b;
    b.file("a", std::string(600, 'a')).add(m).end();
    load(b, t);
    TarContextPtr c = TarCreate();
    ASSERT_EQ(TarOpen(c.get(), "p.pkg"), TarLoad::Loaded);
    EXPECT_EQ(TarNext(c.get()), TarStep::Stopped);
    EXPECT_STREQ(TarMessage(c.get()), "WARNING:\"p.pkg\" has invalid file type. offset:1536");
    EXPECT_EQ(TarWhyEnded(c.get()).offset, 1536);
}

struct ChecksumCase {
    const char* what;
    bool signed_sum;
    int delta;
    TarLoad expected_open;
};

class Checksum : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(Checksum, AcceptsSignedAndUnsignedSums) {
    const ChecksumCase& k = GetParam();
    TempDir t;
    Member m;
    m.name = "caf\xc3\xa9.txt";  // bytes of 128 and more make the two sums differ
    m.data = "x";
    m.signed_checksum = k.signed_sum;
    m.checksum_delta = k.delta;
    TarBuilder b;
    b.add(m).end();
    load(b, t);
    TarContextPtr c = TarCreate();
    EXPECT_EQ(TarOpen(c.get(), "p.pkg"), k.expected_open) << k.what;
    EXPECT_STREQ(TarMessage(c.get()), "") << k.what;
}

INSTANTIATE_TEST_SUITE_P(Sums, Checksum,
                         ::testing::Values(ChecksumCase{"unsigned", false, 0, TarLoad::Loaded},
                                           ChecksumCase{"signed", true, 0, TarLoad::Loaded},
                                           ChecksumCase{"off by one", false, 1, TarLoad::NoHeader},
                                           ChecksumCase{"signed off by one", true, -1, TarLoad::NoHeader}));

TEST(Checksum, ZeroBlockWithDigitsInChecksumIsBlank) {
    TempDir t;
    TarHeaderBlock block;
    std::memset(&block, 0, sizeof block);
    std::memcpy(block.chksum, "0000400\0", 8);
    EXPECT_EQ(TarVerifyChecksum(block), TarChecksum::Blank);
    const std::string bytes(reinterpret_cast<const char*>(&block), sizeof block);
    qm::test::write_file(t / "p.pkg", bytes + std::string(512, '\0'));
    TarContextPtr c = TarCreate();
    EXPECT_EQ(TarOpen(c.get(), "p.pkg"), TarLoad::NoHeader);
    EXPECT_STREQ(TarMessage(c.get()), "");
}

class BlockArithmetic : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(BlockArithmetic, MovesHeaderPlusDataBlocks) {
    const int size = GetParam().first;
    const int blocks = GetParam().second;
    TempDir t;
    TarBuilder b;
    b.file("first", std::string(static_cast<size_t>(size), 'd')).file("second", "s").end();
    load(b, t);
    TarContextPtr c = TarCreate();
    ASSERT_EQ(TarOpen(c.get(), "p.pkg"), TarLoad::Loaded);
    const int64_t before = TarCurrent(c.get()).offset;
    ASSERT_EQ(TarNext(c.get()), TarStep::Member);
    EXPECT_EQ(TarCurrent(c.get()).offset - before, blocks * 512);
    EXPECT_STREQ(TarCurrent(c.get()).name, "second");
}

INSTANTIATE_TEST_SUITE_P(Sizes, BlockArithmetic,
                         ::testing::Values(std::make_pair(0, 1), std::make_pair(1, 2),
                                           std::make_pair(167, 2), std::make_pair(512, 2),
                                           std::make_pair(513, 3), std::make_pair(679, 3),
                                           std::make_pair(1024, 3), std::make_pair(1025, 4)));

TEST(Walk, NameOfAllHundredBytesIsKeptWhole) {
    TempDir t;
    const std::string name(100, 'n');
    TarBuilder b;
    b.file(name, "x").end();
    load(b, t);
    TarContextPtr c = TarCreate();
    ASSERT_EQ(TarOpen(c.get(), "p.pkg"), TarLoad::Loaded);
    EXPECT_EQ(std::string(TarCurrent(c.get()).name), name);
}

TEST(Walk, UstarPrefixJoinsTheWholePath) {
    TempDir t;
    Member m;
    m.prefix = "very/long/directory";
    m.name = "file.txt";
    m.posix_magic = true;
    m.data = "p";
    Member gnu = m;
    gnu.posix_magic = false;  // GNU headers keep the name field alone
    TarBuilder b;
    b.add(m).add(gnu).end();
    load(b, t);
    TarContextPtr c = TarCreate();
    ASSERT_EQ(TarOpen(c.get(), "p.pkg"), TarLoad::Loaded);
    EXPECT_STREQ(TarCurrent(c.get()).name, "very/long/directory/file.txt");
    ASSERT_EQ(TarNext(c.get()), TarStep::Member);
    EXPECT_STREQ(TarCurrent(c.get()).name, "file.txt");
}

TEST(Walk, LastMemberEndingAtEndOfFileEndsSilently) {
    TempDir t;
    TarBuilder b;
    b.file("a", "1").file("b", std::string(512, 'b'));  // no zero blocks at all
    load(b, t);
    TarContextPtr c = TarCreate();
    ASSERT_EQ(TarOpen(c.get(), "p.pkg"), TarLoad::Loaded);
    ASSERT_EQ(TarNext(c.get()), TarStep::Member);
    EXPECT_STREQ(TarCurrent(c.get()).name, "b") << "a member to work on";
    EXPECT_EQ(TarNext(c.get()), TarStep::End);
    EXPECT_STREQ(TarMessage(c.get()), "");
    EXPECT_STREQ(TarCurrent(c.get()).name, "") << "nothing left to work on";
    EXPECT_EQ(TarWhyEnded(c.get()).kind, Ending::Kind::PackageEnd);
}

TEST(Walk, CursorExactlyOneBlockBeforeEndIsNotAtEnd) {
    TempDir t;
    TarBuilder b;
    b.file("a", "");  // one header block
    b.file("b", "");
    load(b, t);
    TarContextPtr c = TarCreate();
    ASSERT_EQ(TarOpen(c.get(), "p.pkg"), TarLoad::Loaded);
    ASSERT_EQ(TarNext(c.get()), TarStep::Member);
    EXPECT_EQ(TarCurrent(c.get()).offset + 512, TarPackageSize(c.get()));
    EXPECT_STREQ(TarCurrent(c.get()).name, "b") << "a member to work on";
}

TEST(Walk, HugeSizeNeverMovesCursorOutsideImage) {
    TempDir t;
    for (const char* field : {"77777777777", "-1", "           "}) {
        Member m;
        m.name = "big";
        m.size_field = field;
        TarBuilder b;
        b.add(m).file("next", "n").end();
        load(b, t);
        TarContextPtr c = TarCreate();
        ASSERT_EQ(TarOpen(c.get(), "p.pkg"), TarLoad::Loaded) << field;
        int steps = 0;
        while (TarNext(c.get()) == TarStep::Member && steps < 10) ++steps;
        EXPECT_LE(TarWhyEnded(c.get()).offset, TarPackageSize(c.get())) << field;
        EXPECT_STREQ(TarCurrent(c.get()).name, "") << field;
    }
}

TEST(ErrorText, RuntimeTableHasFortyThreeMessages) {
    EXPECT_STREQ(qm::plat::error_text(2), "No such file or directory");
    EXPECT_STREQ(qm::plat::error_text(13), "Permission denied");
    EXPECT_STREQ(qm::plat::error_text(17), "File exists");
    EXPECT_STREQ(qm::plat::error_text(42), "Illegal byte sequence");
    EXPECT_EQ(qm::plat::error_text(43), nullptr);
    EXPECT_EQ(qm::plat::error_text(-1), nullptr);
}

TEST(Message, LongPathIsCutToFitTheBuffer) {
    TempDir t;
    const std::string path(600, 'q');
    TarContextPtr c = TarCreate();
    EXPECT_NE(TarOpen(c.get(), path.c_str()), TarLoad::Loaded);
    EXPECT_EQ(std::strlen(TarMessage(c.get())), 255u);
    EXPECT_EQ(std::string(TarMessage(c.get())).rfind("open:\"qqq", 0), 0u);
}

}  // namespace
