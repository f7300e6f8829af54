// Runs under Wine: charset conversion on the system's code pages (the labels mail uses,
// the supersets, what a code page cannot hold), the module path, and the public socket
// header beside winsock2.h in either order.
#include <optional>
#include <string>

#include "check.h"
#include "platform/charset.h"
#include "platform/module_path.h"
#include "platform/win32/windows_api.h"

using windows_test::check;
using namespace tolmail::platform;

// Each in a translation unit of its own, with the headers in opposite orders.
int TcpAfterWinsock();
int UdpBeforeWinsock();

namespace {

std::string Shown(const std::optional<std::string>& text) { return text ? "\"" + *text + "\"" : "nothing"; }

void readsTheLabelsMailUses()
{
    struct Case {
        const char* charset;
        std::string bytes, utf8;
    };
    const Case cases[] = {
        {"ISO-8859-2", "\xb1", "\xc4\x85"},
        {"latin9", "\xa4", "\xe2\x82\xac"},
        {"x-cp1252", "\x93q\x94", "\xe2\x80\x9cq\xe2\x80\x9d"},
        {"KOI8-R", "\xf0\xd2", "\xd0\x9f\xd1\x80"},
        {"x-sjis", "\x93\xfa\x96\x7b", "\xe6\x97\xa5\xe6\x9c\xac"},
        {"Shift_JIS", "\x87\x40", "\xe2\x91\xa0"},  // a Windows-only row: the superset is used
        {"ISO-2022-JP", "\x1b$BF|K\\\x1b(B", "\xe6\x97\xa5\xe6\x9c\xac"},
        {"gb2312", "\xd6\xd0\xce\xc4", "\xe4\xb8\xad\xe6\x96\x87"},
        {"big5", "\xa4\xa4", "\xe4\xb8\xad"},
        {"ks_c_5601-1987", "\xc7\xd1", "\xed\x95\x9c"},
        {"UTF-16LE", std::string("A\0", 2), "A"},
        {"UTF-16", std::string("\xff\xfe" "A\0", 4), "A"},
        {"UTF-16BE", std::string("\0A\0", 3), std::string("A\0", 2)},  // a cut-off unit stays a byte
        {"utf-8", "a\xe9z", "a\xc3\xa9z"},
        {"x-no-such-charset", "\xe9", "\xc3\xa9"},
        // Invalid in a known charset: that byte as Latin-1, the rest converted.
        {"Shift_JIS", "\x93\xfa\x81", "\xe6\x97\xa5\xc2\x81"},
    };
    for (const Case& c : cases) {
        const std::string got = ToUtf8(c.charset, c.bytes);
        check(got == c.utf8, std::string("ToUtf8 ") + c.charset + " gives " + Shown(got));
    }
}

void writesOnlyWhatTheCharsetHolds()
{
    struct Case {
        const char* charset;
        std::string utf8;
        std::optional<std::string> bytes;
    };
    const Case cases[] = {
        {"ISO-8859-1", "caf\xc3\xa9", "caf\xe9"},
        {"windows-1252", "\xe2\x82\xac", "\x80"},
        {"windows-1252", "\xc4\x81", std::nullopt},  // best fit would write a plain "a"
        {"ISO-8859-1", "\xe6\x97\xa5", std::nullopt},
        {"Shift_JIS", "\xe6\x97\xa5", "\x93\xfa"},
        {"ISO-2022-JP", "\xe6\x97\xa5", "\x1b$BF|\x1b(B"},  // ends back in ASCII
        {"ISO-2022-JP", "a\xe6\x97\xa5" "b\xe6\x9c\xac", "a\x1b$BF|\x1b(Bb\x1b$BK\\\x1b(B"},
        {"ISO-2022-JP", "\xef\xbd\xb1", std::nullopt},  // half-width katakana: not in the charset
        {"ISO-2022-JP", "\xd8\xb9", std::nullopt},         // Arabic: read back, it differs
        {"us-ascii", "caf\xc3\xa9", std::nullopt},
        {"no-such-charset", "a", std::nullopt},
        {"ISO-8859-1", "\xe9", std::nullopt},  // not UTF-8 to begin with
    };
    for (const Case& c : cases) {
        const std::optional<std::string> got = FromUtf8(c.charset, c.utf8);
        check(got == c.bytes, std::string("FromUtf8 ") + c.charset + " gives " + Shown(got));
    }
}

/// GB18030's four-byte forms, where the system has the code page (Wine reads GB2312 and
/// GBK with the narrower 936 instead).
void readsAllOfGb18030()
{
    if (!IsValidCodePage(54936)) {
        std::printf("SKIP GB18030: no code page 54936 here\n");
        return;
    }
    check(ToUtf8("GB18030", "\x81\x30\x81\x30") == "\xc2\x80", "ToUtf8 GB18030 four-byte form");
    check(FromUtf8("GB2312", "\xf0\x9f\x98\x80") == std::string("\x94\x39\xfc\x36"),
          "FromUtf8 GB2312 holds all of Unicode");
}

void findsItsOwnFile()
{
    const std::string path = ModulePath();
    check(path.size() > 4 && path.substr(path.size() - 4) == ".exe" && path.find(':') == 1,
          "ModulePath is this program's absolute path: " + path);
}

} // namespace

int main()
{
    readsTheLabelsMailUses();
    writesOnlyWhatTheCharsetHolds();
    readsAllOfGb18030();
    findsItsOwnFile();
    check(TcpAfterWinsock() == 6, "IpProto::Tcp after winsock2.h");
    check(UdpBeforeWinsock() == 17, "IpProto::Udp before winsock2.h");
    return windows_test::finish();
}
