// The body reader: un-stuffing and the terminating line, however the stream is split.
#include <gtest/gtest.h>

#include "body_fixture.h"

namespace tolmail::testing {
namespace {

std::string ReadAll(pop3::DotReader& reader)
{
    std::string out;
    while (reader.read(out)) {
    }
    return out;
}

const std::string kAwkwardBody =
    ".\r\n"            // a line that is a lone dot
    "..two dots\r\n"   // begins with two dots
    "a.\r\n.b\r\n"     // dots elsewhere and first
    "x\n.y\r\n"        // a lone LF does not start a line
    ".\r.\r\n"         // dot, CR, not LF
    "\r\n.\r\n\r\n"    // a dot line between empty ones
    "end without dots\r\n";

TEST(DotReader, EverySplitInTwoAndThreeGivesTheSameText)
{
    const std::string wire = Stuffed(kAwkwardBody);
    for (size_t i = 0; i <= wire.size(); ++i) {
        for (size_t j = i; j <= wire.size(); ++j) {
            pop3::DotReader reader = ReaderOver(SplitAt(wire, {i, j}));
            ASSERT_EQ(ReadAll(reader), kAwkwardBody) << "cut at " << i << " and " << j;
            ASSERT_TRUE(reader.ended());
            ASSERT_FALSE(reader.failed());
        }
    }
}

TEST(DotReader, EmptyBodyEndsAtOnceEvenOneByteAtATime)
{
    pop3::DotReader whole = ReaderOver({".\r\n"});
    EXPECT_EQ(ReadAll(whole), "");
    EXPECT_TRUE(whole.ended());
    pop3::DotReader bytes = ReaderOver({".", "\r", "\n"});
    EXPECT_EQ(ReadAll(bytes), "");
    EXPECT_TRUE(bytes.ended());
}

TEST(DotReader, SilenceBeforeTheEndIsAFailureAndDrainStopsThere)
{
    size_t taken = 0;
    pop3::DotReader reader = ReaderOver({"some text\r\n", "more"}, &taken);
    reader.drain();
    EXPECT_TRUE(reader.failed());
    EXPECT_FALSE(reader.ended());
    EXPECT_EQ(taken, 2u);
}

TEST(DotReader, DrainReadsUpToTheTerminatingLineAndNoFurther)
{
    size_t taken = 0;
    pop3::DotReader reader = ReaderOver({"abc\r\n..", "x\r\n.\r", "\n", "+OK next reply\r\n"}, &taken);
    reader.drain();
    EXPECT_TRUE(reader.ended());
    EXPECT_EQ(taken, 3u);
    std::string more;
    EXPECT_FALSE(reader.read(more));
}

} // namespace
} // namespace tolmail::testing
