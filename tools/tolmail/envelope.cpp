// Reading the envelope from a message's own header (RFC 5322 2.2.3 folding, 3.4
// address lists) while the message is copied for sending.
#include "envelope.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>

namespace tolmail::cli {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

/// The index just past the quoted string or comment that starts at `at` (its closing
/// character, or the end of the text when it is not closed). Comments nest.
size_t skipDelimited(std::string_view text, size_t at)
{
    const char open = text[at];
    const char close = open == '"' ? '"' : ')';
    int depth = 0;
    for (size_t i = at; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\\') {
            ++i;
        } else if (open == '(' && c == '(') {
            ++depth;
        } else if (c == close && (open == '"' ? i > at : --depth == 0)) {
            return i + 1;
        }
    }
    return text.size();
}

/// The addr-spec inside "<...>": an obsolete source route ("@a,@b:") is dropped.
std::string angleAddress(std::string_view inside)
{
    if (const size_t colon = inside.find(':'); !inside.empty() && inside[0] == '@' && colon != std::string_view::npos)
        inside.remove_prefix(colon + 1);
    std::string address;
    for (size_t i = 0; i < inside.size(); ++i) {
        if (inside[i] == '"' || inside[i] == '(') {
            const size_t end = skipDelimited(inside, i);
            if (inside[i] == '"')
                address.append(inside.substr(i, end - i));
            i = end - 1;
        } else if (!isBlank(inside[i])) {
            address += inside[i];
        }
    }
    return address;
}

} // namespace

std::vector<std::string> AddressesIn(std::string_view body)
{
    std::vector<std::string> addresses;
    // The text outside angle brackets and comments; blanks inside it shrink to one, so
    // that words without an address ("Bob Smith") stay one entry the component refuses
    // instead of becoming the local address "BobSmith".
    std::string bare;
    bool blankPending = false;
    std::string angle;  // the address in angle brackets, once one was seen
    bool hasAngle = false;
    const auto flush = [&] {
        std::string address = hasAngle ? angle : bare;
        if (!address.empty())
            addresses.push_back(std::move(address));
        bare.clear(), angle.clear(), hasAngle = false, blankPending = false;
    };
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (isBlank(c)) {
            blankPending = !bare.empty();
            continue;
        }
        if (blankPending && c != '(' && c != '<' && c != ',' && c != ';' && c != ':')
            bare += ' ';
        blankPending = false;
        if (c == '"' || c == '(') {
            const size_t end = skipDelimited(body, i);
            // A quoted string is a display name or the local part of a bare address;
            // which one shows only later, so it is kept.
            if (c == '"')
                bare.append(body.substr(i, end - i));
            i = end - 1;
        } else if (c == '<') {
            size_t end = i + 1;
            while (end < body.size() && body[end] != '>') {
                if (body[end] == '"' || body[end] == '(')
                    end = skipDelimited(body, end);
                else
                    ++end;
            }
            angle = angleAddress(body.substr(i + 1, end - i - 1));
            hasAngle = true;
            i = end;
        } else if (c == ':') {
            bare.clear();  // what came before was a group's name
        } else if (c == ',' || c == ';') {
            flush();
        } else {
            bare += c;
        }
    }
    flush();
    return addresses;
}

namespace {

/// One header field being read: its name and its body with folding undone.
struct Field {
    std::string name, body;
};

void collect(const Field& field, HeaderAddresses& found)
{
    const char* name = field.name.c_str();
    std::vector<std::string>* list = nullptr;
    if (::strcasecmp(name, "To") == 0)
        list = &found.to;
    else if (::strcasecmp(name, "Cc") == 0)
        list = &found.cc;
    else if (::strcasecmp(name, "Bcc") == 0)
        list = &found.bcc;
    if (list != nullptr) {
        for (std::string& address : AddressesIn(field.body))
            list->push_back(std::move(address));
    } else if (::strcasecmp(name, "From") == 0 && found.from.empty()) {
        if (const auto addresses = AddressesIn(field.body); !addresses.empty())
            found.from = addresses.front();
    }
}

/// The next line with its "\n" (without one at the end of the input), NUL bytes and all;
/// false when nothing is left or reading failed.
bool ReadLine(std::FILE* in, std::string& line)
{
    line.clear();
    for (int c; (c = std::getc(in)) != EOF;) {
        line += static_cast<char>(c);
        if (c == '\n')
            break;
    }
    return !line.empty();
}

} // namespace

bool CopyMessage(std::FILE* in, std::FILE* out, bool dropBcc, HeaderAddresses& found)
{
    // The header, line by line.
    std::string text;
    Field field;
    bool dropping = false;
    for (;;) {
        if (!ReadLine(in, text)) {
            if (std::ferror(in))
                return false;
            break;  // a message that is all header
        }
        const std::string_view line(text);
        const bool continued = line[0] == ' ' || line[0] == '\t';
        const bool empty = line == "\n" || line == "\r\n";
        if (!continued) {
            if (!field.name.empty())
                collect(field, found);
            field = {};
            const size_t colon = line.find(':');
            if (!empty && colon != std::string_view::npos) {
                field.name = line.substr(0, colon);
                while (!field.name.empty() && isBlank(field.name.back()))
                    field.name.pop_back();
                field.body = line.substr(colon + 1);
            }
            dropping = dropBcc && ::strcasecmp(field.name.c_str(), "Bcc") == 0;
        } else {
            field.body.append(line);
        }
        if (!dropping && std::fwrite(line.data(), 1, line.size(), out) != line.size())
            return false;
        if (empty)
            break;  // the body follows, copied as it is
    }
    if (!field.name.empty())
        collect(field, found);

    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) {
        if (std::fwrite(chunk, 1, n, out) != n)
            return false;
    }
    return !std::ferror(in) && std::fflush(out) == 0;
}

} // namespace tolmail::cli
