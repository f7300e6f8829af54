// Header lines of a retrieved message (RFC 5322, RFC 2045): field or continuation,
// the table of fields a Message keeps, recipients and the Content-Type split.
#include "pop3/header_parse.h"

#include <algorithm>

#include "codec/wordfunc.h"
#include "platform/library_caller.h"
#include "pop3/session.h"

namespace tolmail::pop3 {

namespace {

using codec::NormalizeBlanks;
using codec::TrimBlanks;

/// Appends a value to a gathered list (To, Cc, Content-Type) with a blank between.
void Gather(std::string& list, const std::string& value)
{
    if (list.size() >= kMaxFieldList)
        return;
    list = TrimBlanks(list + " " + value);
    if (list.size() > kMaxFieldList)
        list.resize(kMaxFieldList);
}

void Gather(std::string& list, std::string value, bool stripJunk)
{
    Gather(list, stripJunk ? codec::StripLeadingJunk(value) : value);
}

struct FieldRule {
    const char* name;  // upper case
    bool retrOnly;     // FetchHeader ignores it
    void (*apply)(Message::Impl& message, HeaderScan& scan, std::string value);
};

constexpr FieldRule kFieldRules[] = {
    {"FROM", false,
     [](Message::Impl& m, HeaderScan&, std::string value) {
         codec::AddressEntry entry = codec::SplitAddress(value);
         m.FromName = entry.Name;
         m.FromAddress = entry.Address;
     }},
    {"CC", false, [](Message::Impl&, HeaderScan& s, std::string value) { Gather(s.ccList, std::move(value), true); }},
    {"TO", false, [](Message::Impl&, HeaderScan& s, std::string value) { Gather(s.toList, std::move(value), true); }},
    {"SUBJECT", false, [](Message::Impl& m, HeaderScan&, std::string value) { m.Subject = std::move(value); }},
    {"DATE", false, [](Message::Impl& m, HeaderScan&, std::string value) { m.DateTime = std::move(value); }},
    {"RETURN-RECEIPT-TO", false,
     [](Message::Impl& m, HeaderScan&, std::string value) { m.ReturnReceipt = std::move(value); }},
    {"REPLY-TO", false,
     [](Message::Impl& m, HeaderScan&, std::string value) {
         codec::AddressEntry entry = codec::SplitAddress(value);
         m.ReplyToName = entry.Name;
         m.ReplyToAddress = entry.Address;
     }},
    {"X-PRIORITY", false, [](Message::Impl& m, HeaderScan&, std::string value) { m.Priority = std::move(value); }},
    {"PRIORITY", true, [](Message::Impl& m, HeaderScan&, std::string value) { m.Priority = std::move(value); }},
    {"X-MSMAIL-PRIORITY", false,
     [](Message::Impl& m, HeaderScan&, std::string value) {
         // Only a missing priority is derived from the words of this field.
         if (!m.Priority.empty())
             return;
         // Digits as characters: GCC 12 warns falsely (-Wrestrict, GCC bug 105329) when
         // a one-character literal is assigned to a string.
         std::string word = UpperAscii(value);
         if (word == "LOW")
             m.Priority = '5';
         else if (word == "NORMAL")
             m.Priority = '3';
         else if (word == "HIGH")
             m.Priority = '1';
     }},
    {"MESSAGE-ID", false, [](Message::Impl& m, HeaderScan&, std::string value) { m.MessageId = std::move(value); }},
    {"MIME-VERSION", false, [](Message::Impl& m, HeaderScan&, std::string) { m.IsMIME = true; }},
    {"CONTENT-TYPE", false,
     [](Message::Impl& m, HeaderScan&, std::string value) { Gather(m.ContentType, value); }},
};

const FieldRule* RuleFor(const std::string& name, HeaderReader reader)
{
    std::string upper = UpperAscii(name);
    for (const FieldRule& rule : kFieldRules) {
        if (upper == rule.name)
            return (rule.retrOnly && reader == HeaderReader::Top) ? nullptr : &rule;
    }
    return nullptr;
}

/// Applies the field read so far, once all its lines are in.
void ApplyField(Message::Impl& message, HeaderScan& scan)
{
    if (const FieldRule* rule = RuleFor(scan.name, scan.reader))
        rule->apply(message, scan, TrimBlanks(NormalizeBlanks(scan.value)));
    scan.name.clear();
    scan.value.clear();
}

/// Adds a continuation line to the field's value: the line break goes, the folding
/// white space stays (a line that does not begin with it is joined with a blank).
void Unfold(std::string& value, std::string_view line)
{
    if (value.size() >= kMaxFieldList)
        return;
    if (line.empty() || (line[0] != ' ' && line[0] != '\t'))
        value += ' ';
    value.append(line.substr(0, kMaxFieldList - std::min(value.size(), kMaxFieldList)));
}

void AddRecipients(Message::Impl& message, std::string& list, int16_t type)
{
    Ref<Recipients> recipients = message.Recipients;
    while (!list.empty() && recipients->Count() < kMaxRecipients) {
        codec::AddressEntry entry = codec::SplitAddress(list);
        recipients->Add(entry.Address, entry.Name, type);
    }
}

} // namespace

HeaderLine TakeHeaderLine(Message::Impl& message, HeaderScan& scan, std::string_view raw)
{
    if (raw.empty())
        return HeaderLine::Nothing;
    if (raw == "\r\n")
        return HeaderLine::Blank;
    if (raw.size() > 2 && raw.substr(raw.size() - 2) == "\r\n")
        raw.remove_suffix(2);
    if (raw == ".")
        return HeaderLine::Terminator;
    if (StartsWith(raw, ".."))
        raw.remove_prefix(1);  // the server doubled a leading dot
    if (raw.size() > kMaxHeaderLineKept)
        scan.dropped = true;
    const std::string_view line = raw.substr(0, kMaxHeaderLineKept);

    if (message.CompleteHeader.size() + line.size() + 2 <= kMaxCompleteHeader) {
        message.CompleteHeader += line;
        message.CompleteHeader += "\r\n";
    } else {
        scan.dropped = true;
    }

    const size_t nameLength = FieldNameLength(line);
    if (nameLength == 0) {
        Unfold(scan.value, line);  // before the first field line this is dropped with no name
        return HeaderLine::Content;
    }
    ApplyField(message, scan);
    scan.name = line.substr(0, nameLength);
    scan.value = line.substr(nameLength + 1);
    return HeaderLine::Content;
}

size_t FieldNameLength(std::string_view line)
{
    size_t n = 0;
    while (n < line.size() && line[n] > ' ' && line[n] < 127 && line[n] != ':')
        ++n;
    return n > 0 && n < line.size() && line[n] == ':' ? n : 0;
}

void FinishHeader(Message::Impl& message, HeaderScan& scan, bool addRecipients)
{
    ApplyField(message, scan);
    if (addRecipients) {
        if (!message.Recipients)
            message.Recipients = Recipients::Create(detail::libraryCaller());
        AddRecipients(message, scan.toList, 1);
        AddRecipients(message, scan.ccList, 2);
    }

    if (message.ContentType.find('/') == std::string::npos)
        return;
    const std::string whole = message.ContentType;  // the split writes into ContentType
    codec::ParseContentType(whole, message.ContentType, message.ContentSubType, message.ContentParams);
    if (UpperAscii(message.ContentType) == "TEXT" && !message.ContentParams.empty())
        message.CharSet = message.ContentParams;
}

} // namespace tolmail::pop3
