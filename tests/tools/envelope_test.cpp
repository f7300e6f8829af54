// The envelope read from a message's own header: address lists as people and mail
// programs write them, and the copy that leaves the Bcc fields behind.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "envelope.h"

using tolmail::cli::AddressesIn;
using tolmail::cli::CopyMessage;
using tolmail::cli::HeaderAddresses;
using Addresses = std::vector<std::string>;

TEST(Envelope, AddressListsGiveTheirAddressesOnly)
{
    const struct {
        const char* body;
        Addresses addresses;
    } cases[] = {
        {R"("Doe, John" <john@x.test>, jane@x.test)", {"john@x.test", "jane@x.test"}},
        {"jane@x.test (Jane, the boss), ann@x.test", {"jane@x.test", "ann@x.test"}},
        {"Fred (a <not@this.test>, (nested) one) <fred@x.test>", {"fred@x.test"}},
        {R"("say \"hi, there\"" <g@x.test>)", {"g@x.test"}},
        {R"("odd <name@y.test>" <e@x.test>)", {"e@x.test"}},
        {"undisclosed-recipients:;", {}},
        {R"(Team: a@x.test, "B, b" <b@x.test>; c@x.test)", {"a@x.test", "b@x.test", "c@x.test"}},
        {"Empty group:; , d@x.test", {"d@x.test"}},
        {"<@relay.test,@other.test:routed@x.test>", {"routed@x.test"}},
        {R"("quoted local"@x.test)", {R"("quoted local"@x.test)"}},
        {" a@x.test ,, b@x.test ,", {"a@x.test", "b@x.test"}},
        {"  ", {}},
        // Words without an address stay one entry, for the component to refuse.
        {"Bob Smith, x@y.test", {"Bob Smith", "x@y.test"}},
        {R"(Unclosed "quote, x@y.test)", {R"(Unclosed "quote, x@y.test)"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(AddressesIn(c.body), c.addresses) << c.body;
}

TEST(Envelope, CopyLeavesEveryBccFieldBehindAndTheBodyAlone)
{
    const std::string message = "From: \"Doe, Ann\" <ann@x.test>\r\n"
                                "To: bob@x.test,\r\n"
                                "  \"Smith, Carl\" <carl@x.test>\r\n"
                                "BCC: hidden@x.test,\r\n"
                                "\tsecret@x.test\r\n"
                                "Subject: Bcc: in a subject is no field\r\n"
                                "cc : dora@x.test\r\n"
                                "bcc: last@x.test\r\n"
                                "\r\n"
                                "Bcc: body@x.test\r\n"
                                "To: body@x.test\r\n";
    const std::string kept = "From: \"Doe, Ann\" <ann@x.test>\r\n"
                             "To: bob@x.test,\r\n"
                             "  \"Smith, Carl\" <carl@x.test>\r\n"
                             "Subject: Bcc: in a subject is no field\r\n"
                             "cc : dora@x.test\r\n"
                             "\r\n"
                             "Bcc: body@x.test\r\n"
                             "To: body@x.test\r\n";
    for (const bool dropBcc : {true, false}) {
        SCOPED_TRACE(dropBcc ? "Bcc dropped" : "copied whole");
        std::string input = message;
        std::FILE* in = ::fmemopen(input.data(), input.size(), "rb");
        char* output = nullptr;
        size_t size = 0;
        std::FILE* out = ::open_memstream(&output, &size);
        ASSERT_TRUE(in && out);
        HeaderAddresses found;
        EXPECT_TRUE(CopyMessage(in, out, dropBcc, found));
        std::fclose(in);
        std::fclose(out);
        EXPECT_EQ(std::string(output, size), dropBcc ? kept : message);
        std::free(output);
        EXPECT_EQ(found.from, "ann@x.test");
        EXPECT_EQ(found.to, (Addresses{"bob@x.test", "carl@x.test"}));
        EXPECT_EQ(found.cc, (Addresses{"dora@x.test"}));
        EXPECT_EQ(found.bcc, (Addresses{"hidden@x.test", "secret@x.test", "last@x.test"}));
    }
}

TEST(Envelope, AMessageThatIsAllHeaderStillGivesItsLastField)
{
    std::string input = "To: a@x.test\nCc: b@x.test";
    std::FILE* in = ::fmemopen(input.data(), input.size(), "rb");
    char* output = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&output, &size);
    HeaderAddresses found;
    EXPECT_TRUE(CopyMessage(in, out, true, found));
    std::fclose(in);
    std::fclose(out);
    EXPECT_EQ(std::string(output, size), input);
    std::free(output);
    EXPECT_EQ(found.cc, Addresses{"b@x.test"});
}
