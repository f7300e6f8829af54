// Charset conversion with the C library's iconv. Descriptors are opened once per thread
// and charset, because opening one costs more than converting a header.
#include "platform/charset.h"
#include "platform/charset_text.h"

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

namespace tolmail::platform {

namespace {

using namespace charset_text;

const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

bool Named(const std::string& canonical, std::string_view name) { return canonical == name; }

/// This thread's open descriptors, by direction and charset. Unknown charsets are
/// remembered too, so a mailbox full of them does not ask the converter again each time.
class Converters {
public:
    Converters() = default;
    Converters(const Converters&) = delete;
    Converters& operator=(const Converters&) = delete;
    ~Converters()
    {
        for (Entry& entry : entries_)
            close(entry);
    }

    /// A descriptor reset to its initial state, or kNoConverter.
    iconv_t get(const std::string& canonical, bool toUtf8)
    {
        for (Entry& entry : entries_) {
            if (entry.toUtf8 == toUtf8 && entry.charset == canonical)
                return reset(entry.descriptor);
        }
        // A hostile mailbox may name any number of charsets: the table stays small.
        constexpr size_t kMostKept = 32;
        if (entries_.size() >= kMostKept) {
            close(entries_.front());
            entries_.erase(entries_.begin());
        }
        const iconv_t descriptor = toUtf8 ? iconv_open("UTF-8", canonical.c_str())
                                          : iconv_open(canonical.c_str(), "UTF-8");
        entries_.push_back({canonical, toUtf8, descriptor});
        return reset(descriptor);
    }

private:
    struct Entry {
        std::string charset;
        bool toUtf8;
        iconv_t descriptor;
    };

    static iconv_t reset(iconv_t descriptor)
    {
        if (descriptor != kNoConverter)
            iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
        return descriptor;
    }
    static void close(Entry& entry)
    {
        if (entry.descriptor != kNoConverter)
            iconv_close(entry.descriptor);
    }

    std::vector<Entry> entries_;
};

Converters& ThreadConverters()
{
    thread_local Converters converters;
    return converters;
}

enum class Step { Done, Invalid };

/// Converts as far as the input allows; on Invalid, `in` points at the offending byte.
Step Convert(iconv_t descriptor, const char*& in, size_t& left, std::string& out)
{
    char chunk[4096];
    while (left > 0) {
        char* next = chunk;
        size_t room = sizeof chunk;
        char* source = const_cast<char*>(in);  // iconv's historical signature; it only reads
        const size_t done = iconv(descriptor, &source, &left, &next, &room);
        const int why = errno;
        in = source;
        out.append(chunk, static_cast<size_t>(next - chunk));
        if (done != static_cast<size_t>(-1))
            return Step::Done;
        if (why != E2BIG)
            return Step::Invalid;
    }
    return Step::Done;
}

/// Writes what a stateful target needs to end in its initial state (ISO-2022-JP's
/// return to ASCII).
void EndShiftState(iconv_t descriptor, std::string& out)
{
    char chunk[64];
    char* next = chunk;
    size_t room = sizeof chunk;
    iconv(descriptor, nullptr, nullptr, &next, &room);
    out.append(chunk, static_cast<size_t>(next - chunk));
}

} // namespace

std::string ToUtf8(std::string_view charset, std::string_view bytes)
{
    const std::string canonical = CanonicalCharset(charset);
    if (!AsciiOpaque(canonical) && PlainAscii(bytes))
        return std::string(bytes);
    if (Named(canonical, "UTF-8") || Named(canonical, "US-ASCII"))
        return RepairUtf8(bytes);
    if (Named(canonical, "ISO-8859-1") || canonical.empty())
        return Latin1ToUtf8(bytes);
    const iconv_t descriptor = ThreadConverters().get(canonical, true);
    if (descriptor == kNoConverter)
        return Latin1ToUtf8(bytes);

    std::string out;
    out.reserve(bytes.size() * 2);
    const char* in = bytes.data();
    size_t left = bytes.size();
    while (Convert(descriptor, in, left, out) == Step::Invalid) {
        // An invalid or cut-off sequence: its first byte as it came, then on.
        AppendLatin1(out, static_cast<unsigned char>(*in));
        ++in;
        --left;
        iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

std::optional<std::string> FromUtf8(std::string_view charset, std::string_view utf8)
{
    const std::string canonical = CanonicalCharset(charset);
    if (canonical.empty() || !IsUtf8(utf8))
        return std::nullopt;
    if (Named(canonical, "UTF-8"))
        return std::string(utf8);
    if (Named(canonical, "US-ASCII"))
        return PlainAscii(utf8) ? std::optional<std::string>(utf8) : std::nullopt;
    // Older C libraries write past their buffer when converting into this one.
    if (StartsWith(canonical, "ISO-2022-CN-EXT"))
        return std::nullopt;
    const iconv_t descriptor = ThreadConverters().get(canonical, false);
    if (descriptor == kNoConverter)
        return std::nullopt;
    if (!AsciiOpaque(canonical) && PlainAscii(utf8))
        return std::string(utf8);
    std::string out;
    out.reserve(utf8.size());
    const char* in = utf8.data();
    size_t left = utf8.size();
    if (Convert(descriptor, in, left, out) == Step::Invalid)
        return std::nullopt;
    EndShiftState(descriptor, out);
    return out;
}

} // namespace tolmail::platform
