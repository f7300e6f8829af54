// Maildir text has Unix line ends: CR LF becomes LF however the message is cut into
// reads, and no other byte changes.
#include <gtest/gtest.h>

#include "maildir.h"

namespace tolmail::cli {
namespace {

TEST(UnixLineEnds, OnlyCrLfChangesWhereverTheStreamIsCut)
{
    const struct {
        std::string in, out;
    } cases[] = {
        {"a\r\nb\r\n", "a\nb\n"},
        {"\r\n\r\n", "\n\n"},
        {"lone\rcr\r", "lone\rcr\r"},      // a CR without LF is text
        {"a\r\r\nb", "a\r\nb"},             // only the CR right before the LF goes
        {"a\n\rb\n", "a\n\rb\n"},           // LF CR is not a line end to convert
        {"\r", "\r"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.in));
        // Every cut into three pieces, empty pieces included.
        for (size_t first = 0; first <= c.in.size(); ++first) {
            for (size_t second = first; second <= c.in.size(); ++second) {
                UnixLineEnds lineEnds;
                std::string out = lineEnds.convert(std::string_view(c.in).substr(0, first));
                out += lineEnds.convert(std::string_view(c.in).substr(first, second - first));
                out += lineEnds.convert(std::string_view(c.in).substr(second));
                out += lineEnds.finish();
                ASSERT_EQ(out, c.out) << "cut at " << first << " and " << second;
            }
        }
    }
}

} // namespace
} // namespace tolmail::cli
