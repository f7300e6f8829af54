// Charset conversion with the system's code pages (MultiByteToWideChar and
// WideCharToMultiByte). The canonical names are the ones every build uses; a table gives
// each the code page that holds it, the Windows supersets where mail's labels name the
// narrower standard sets.
#include "platform/charset.h"
#include "platform/charset_text.h"

#include <string>
#include <vector>

#include "platform/win32/windows_api.h"

namespace tolmail::platform {

namespace {

using namespace charset_text;

struct CodePage {
    const char* name;  // canonical, as CanonicalCharset gives it
    UINT toUtf8;       // read with this one
    UINT fromUtf8;     // written with this one
    UINT narrower = 0;  // where the system lacks those: a subset that serves the common text
};

constexpr UINT kIso2022JpWide = 50222;  // reads the half-width katakana shifts too
constexpr UINT kIso2022Jp = 50220;      // writes only what every reader takes
constexpr UINT kShiftJis = 932;         // holds JIS X 0208, for ISO-2022-JP by hand

constexpr CodePage kCodePages[] = {
    {"ISO-8859-1", 28591, 28591},   {"ISO-8859-2", 28592, 28592},   {"ISO-8859-3", 28593, 28593},
    {"ISO-8859-4", 28594, 28594},   {"ISO-8859-5", 28595, 28595},   {"ISO-8859-6", 28596, 28596},
    {"ISO-8859-7", 28597, 28597},   {"ISO-8859-8", 28598, 28598},   {"ISO-8859-9", 28599, 28599},
    {"ISO-8859-13", 28603, 28603},  {"ISO-8859-15", 28605, 28605},  {"WINDOWS-1250", 1250, 1250},
    {"WINDOWS-1251", 1251, 1251},   {"WINDOWS-1252", 1252, 1252},   {"WINDOWS-1253", 1253, 1253},
    {"WINDOWS-1254", 1254, 1254},   {"WINDOWS-1255", 1255, 1255},   {"WINDOWS-1256", 1256, 1256},
    {"WINDOWS-1257", 1257, 1257},   {"WINDOWS-1258", 1258, 1258},   {"CP874", 874, 874},
    {"TIS-620", 874, 874},          {"KOI8-R", 20866, 20866},       {"KOI8-U", 21866, 21866},
    {"CP437", 437, 437},            {"IBM437", 437, 437},           {"CP850", 850, 850},
    {"IBM850", 850, 850},           {"CP866", 866, 866},            {"IBM866", 866, 866},
    {"MACINTOSH", 10000, 10000},    {"CP932", 932, 932},            {"EUC-JP", 20932, 20932},
    {"ISO-2022-JP-2", kIso2022JpWide, kIso2022Jp},                  {"ISO-2022-JP-1", kIso2022JpWide, kIso2022Jp},
    {"GB18030", 54936, 54936, 936},      {"HZ-GB-2312", 52936, 52936},   {"CP950", 950, 950},
    {"CP949", 949, 949},            {"ISO-2022-KR", 50225, 50225},  {"UTF-7", CP_UTF7, CP_UTF7},
};

/// The code pages that take no flags and report no default character: ISO-2022, HZ,
/// GB18030 and UTF-7. What they cannot hold shows only when the text is read back.
bool FlagsRefused(UINT page)
{
    return (page >= 50220 && page <= 50229) || page == 52936 || page == 54936 || page == CP_UTF7;
}

/// The code page for `canonical`, 0 when there is none on this system.
UINT Lookup(const std::string& canonical, bool toUtf8)
{
    for (const CodePage& entry : kCodePages) {
        if (canonical == entry.name) {
            const UINT page = toUtf8 ? entry.toUtf8 : entry.fromUtf8;
            if (IsValidCodePage(page))
                return page;
            return entry.narrower != 0 && IsValidCodePage(entry.narrower) ? entry.narrower : 0;
        }
    }
    return 0;
}

bool IsIso2022Jp(const std::string& canonical) { return StartsWith(canonical, "ISO-2022-JP"); }

int Length(std::string_view text) { return static_cast<int>(text.size()); }

/// `bytes` in code page `page` as UTF-16; nothing when a byte sequence is invalid there
/// (stateful code pages cannot tell, and give replacement characters).
std::optional<std::wstring> Widen(UINT page, std::string_view bytes)
{
    if (bytes.empty())
        return std::wstring();
    const DWORD flags = FlagsRefused(page) ? 0 : MB_ERR_INVALID_CHARS;
    const int size = MultiByteToWideChar(page, flags, bytes.data(), Length(bytes), nullptr, 0);
    if (size <= 0)
        return std::nullopt;
    std::wstring wide(static_cast<size_t>(size), L'\0');
    if (MultiByteToWideChar(page, flags, bytes.data(), Length(bytes), wide.data(), size) != size)
        return std::nullopt;
    return wide;
}

/// UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf8Of(std::wstring_view wide)
{
    if (wide.empty())
        return {};
    const int count = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide.data(), count, out.data(), size, nullptr, nullptr);
    return out;
}

/// UTF-16 in either byte order, by hand: the system converts it only for managed code.
/// A BOM chooses the order of plain "UTF-16"; without one it is big-endian.
std::string Utf16ToUtf8(const std::string& canonical, std::string_view bytes)
{
    bool little = canonical == "UTF-16LE";
    if (canonical == "UTF-16" && bytes.size() >= 2) {
        const auto first = static_cast<unsigned char>(bytes[0]), second = static_cast<unsigned char>(bytes[1]);
        if ((first == 0xFF && second == 0xFE) || (first == 0xFE && second == 0xFF)) {
            little = first == 0xFF;
            bytes.remove_prefix(2);
        }
    }
    std::wstring wide;
    wide.reserve(bytes.size() / 2);
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        const auto high = static_cast<unsigned char>(bytes[little ? at + 1 : at]);
        const auto low = static_cast<unsigned char>(bytes[little ? at : at + 1]);
        wide += static_cast<wchar_t>(high << 8 | low);
    }
    std::string out = Utf8Of(wide);
    if (bytes.size() % 2 != 0)
        AppendLatin1(out, static_cast<unsigned char>(bytes.back()));  // a cut-off unit
    return out;
}

/// Converts piece by piece after the whole text was refused: at each place the shortest
/// run of up to four bytes that forms a character, else the byte alone as Latin-1.
std::string ConvertAround(UINT page, std::string_view bytes)
{
    constexpr size_t kLongestCharacter = 4;  // GB18030's four-byte forms
    std::string out;
    out.reserve(bytes.size() * 2);
    for (size_t at = 0; at < bytes.size();) {
        size_t taken = 0;
        for (size_t length = 1; length <= kLongestCharacter && at + length <= bytes.size(); ++length) {
            if (const std::optional<std::wstring> wide = Widen(page, bytes.substr(at, length))) {
                out += Utf8Of(*wide);
                taken = length;
                break;
            }
        }
        if (taken == 0) {
            AppendLatin1(out, static_cast<unsigned char>(bytes[at]));
            taken = 1;
        }
        at += taken;
    }
    return out;
}

// ISO-2022-JP by hand, for systems without its code pages: ASCII, JIS-Roman and the
// two-byte JIS X 0208 set, which Shift_JIS holds with its bytes rearranged.

/// JIS X 0208 row and cell bytes (0x21-0x7E) as Shift_JIS.
void JisToShiftJis(unsigned char j1, unsigned char j2, std::string& out)
{
    out += static_cast<char>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0));
    out += static_cast<char>(j2 + ((j1 & 1) ? (j2 >= 0x60 ? 0x20 : 0x1F) : 0x7E));
}

std::string Iso2022JpToUtf8(std::string_view bytes)
{
    std::string out;
    bool twoByte = false;
    size_t at = 0;
    const auto escapeAt = [&](std::string_view sequence) { return bytes.substr(at, sequence.size()) == sequence; };
    while (at < bytes.size()) {
        if (escapeAt("\x1b$B") || escapeAt("\x1b$@")) {
            twoByte = true, at += 3;
            continue;
        }
        if (escapeAt("\x1b(B") || escapeAt("\x1b(J")) {
            twoByte = false, at += 3;
            continue;
        }
        const auto j1 = static_cast<unsigned char>(bytes[at]);
        if (twoByte && j1 >= 0x21 && j1 <= 0x7E && at + 1 < bytes.size()) {
            const auto j2 = static_cast<unsigned char>(bytes[at + 1]);
            std::string shiftJis;
            if (j2 >= 0x21 && j2 <= 0x7E) {
                JisToShiftJis(j1, j2, shiftJis);
                if (const std::optional<std::wstring> wide = Widen(kShiftJis, shiftJis)) {
                    out += Utf8Of(*wide);
                    at += 2;
                    continue;
                }
            }
        }
        // Outside the sets, or a pair no character has: the byte as it came.
        AppendLatin1(out, j1);
        ++at;
    }
    return out;
}

/// UTF-16 as ISO-2022-JP by hand, ending in ASCII; nothing when a character is outside
/// ASCII and JIS X 0208 (half-width katakana included, which the charset does not have).
std::optional<std::string> Iso2022JpFromWide(const std::wstring& wide)
{
    std::string out;
    bool twoByte = false;
    for (const wchar_t c : wide) {
        if (c < 0x80) {
            if (twoByte)
                out += "\x1b(B", twoByte = false;
            out += static_cast<char>(c);
            continue;
        }
        char bytes[2];
        BOOL usedDefault = FALSE;
        if (WideCharToMultiByte(kShiftJis, WC_NO_BEST_FIT_CHARS, &c, 1, bytes, 2, nullptr, &usedDefault) != 2 ||
            usedDefault)
            return std::nullopt;
        const auto s1 = static_cast<unsigned char>(bytes[0]), s2 = static_cast<unsigned char>(bytes[1]);
        const int adjust = s2 < 0x9F ? 1 : 0;
        const int j1 = ((s1 - (s1 < 0xA0 ? 0x70 : 0xB0)) << 1) - adjust;
        const int j2 = s2 - (adjust ? (s2 > 0x7F ? 0x20 : 0x1F) : 0x7E);
        if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E)
            return std::nullopt;  // a vendor row beyond the 94 of the standard
        if (!twoByte)
            out += "\x1b$B", twoByte = true;
        out += static_cast<char>(j1);
        out += static_cast<char>(j2);
    }
    if (twoByte)
        out += "\x1b(B";
    return out;
}

} // namespace

std::string ToUtf8(std::string_view charset, std::string_view bytes)
{
    const std::string canonical = CanonicalCharset(charset);
    if (!AsciiOpaque(canonical) && PlainAscii(bytes))
        return std::string(bytes);
    if (canonical == "UTF-8" || canonical == "US-ASCII")
        return RepairUtf8(bytes);
    if (canonical == "ISO-8859-1" || canonical.empty())
        return Latin1ToUtf8(bytes);
    if (StartsWith(canonical, "UTF-16"))
        return Utf16ToUtf8(canonical, bytes);
    const UINT page = Lookup(canonical, true);
    if (page == 0 && IsIso2022Jp(canonical) && IsValidCodePage(kShiftJis))
        return Iso2022JpToUtf8(bytes);
    if (page == 0)
        return Latin1ToUtf8(bytes);
    if (const std::optional<std::wstring> wide = Widen(page, bytes))
        return Utf8Of(*wide);
    return ConvertAround(page, bytes);
}

std::optional<std::string> FromUtf8(std::string_view charset, std::string_view utf8)
{
    const std::string canonical = CanonicalCharset(charset);
    if (canonical.empty() || !IsUtf8(utf8))
        return std::nullopt;
    if (canonical == "UTF-8")
        return std::string(utf8);
    if (canonical == "US-ASCII")
        return PlainAscii(utf8) ? std::optional<std::string>(utf8) : std::nullopt;
    const UINT page = Lookup(canonical, false);
    const bool byHand = page == 0 && IsIso2022Jp(canonical) && IsValidCodePage(kShiftJis);
    if (page == 0 && !byHand)
        return std::nullopt;
    if (!AsciiOpaque(canonical) && PlainAscii(utf8))
        return std::string(utf8);
    const std::optional<std::wstring> wide = Widen(CP_UTF8, utf8);
    if (!wide)
        return std::nullopt;
    if (byHand)
        return Iso2022JpFromWide(*wide);
    const int count = static_cast<int>(wide->size());
    const bool noFlags = FlagsRefused(page);
    // Best fit would write "a" for "a with ring" and call it done.
    const DWORD flags = noFlags ? 0 : WC_NO_BEST_FIT_CHARS;
    BOOL usedDefault = FALSE;
    BOOL* const defaultSeen = noFlags ? nullptr : &usedDefault;
    const int size = WideCharToMultiByte(page, flags, wide->data(), count, nullptr, 0, nullptr, defaultSeen);
    if (size <= 0 || usedDefault)
        return std::nullopt;
    std::string out(static_cast<size_t>(size), '\0');
    if (WideCharToMultiByte(page, flags, wide->data(), count, out.data(), size, nullptr, defaultSeen) != size ||
        usedDefault)
        return std::nullopt;
    // The code pages that cannot report a default character are judged by reading back.
    if (noFlags && Widen(Lookup(canonical, true), out) != wide)
        return std::nullopt;
    return out;
}

} // namespace tolmail::platform
