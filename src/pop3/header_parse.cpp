// Header lines of a retrieved message (RFC 5322, RFC 2045): field or continuation,
// the table of fields a Message keeps, recipients and the Content-Type split.
#include "pop3/header_parse.h"

#include <algorithm>

#include "codec/encoded_word_decoder.h"
#include "codec/wordfunc.h"
#include "platform/library_access.h"
#include "pop3/international_text.h"
#include "pop3/session.h"

namespace tolmail::pop3 {

namespace {

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

/// Gathers a To or Cc value. The default reading drops what cannot begin an address,
/// which would also drop an encoded word's "=?" or a name's first non-ASCII letter: the
/// international reading drops only separators.
void GatherAddresses(const MessageImpl& message, std::string& list, std::string value)
{
    if (!message.InternationalText) {
        Gather(list, codec::StripLeadingJunk(value));
        return;
    }
    const size_t first = value.find_first_not_of(", ");
    Gather(list, first == std::string::npos ? std::string() : value.substr(first));
}

std::string NameOf(const MessageImpl& message, const std::string& name)
{
    return message.InternationalText ? DisplayName(name) : name;
}

struct FieldRule {
    const char* name;  // upper case
    bool retrOnly;     // FetchHeader ignores it
    void (*apply)(MessageImpl& message, HeaderScan& scan, std::string value);
};

constexpr FieldRule kFieldRules[] = {
    {"FROM", false,
     [](MessageImpl& m, HeaderScan&, std::string value) {
         codec::AddressEntry entry = codec::SplitAddress(value);
         m.FromName = NameOf(m, entry.Name);
         m.FromAddress = entry.Address;
     }},
    {"CC", false,
     [](MessageImpl& m, HeaderScan& s, std::string value) { GatherAddresses(m, s.ccList, std::move(value)); }},
    {"TO", false,
     [](MessageImpl& m, HeaderScan& s, std::string value) { GatherAddresses(m, s.toList, std::move(value)); }},
    {"SUBJECT", false,
     [](MessageImpl& m, HeaderScan&, std::string value) {
         m.Subject = m.InternationalText ? codec::DecodeEncodedWords(value) : std::move(value);
     }},
    {"DATE", false, [](MessageImpl& m, HeaderScan&, std::string value) { m.DateTime = std::move(value); }},
    {"RETURN-RECEIPT-TO", false,
     [](MessageImpl& m, HeaderScan&, std::string value) { m.ReturnReceipt = std::move(value); }},
    {"REPLY-TO", false,
     [](MessageImpl& m, HeaderScan&, std::string value) {
         codec::AddressEntry entry = codec::SplitAddress(value);
         m.ReplyToName = NameOf(m, entry.Name);
         m.ReplyToAddress = entry.Address;
     }},
    {"X-PRIORITY", false, [](MessageImpl& m, HeaderScan&, std::string value) { m.Priority = std::move(value); }},
    {"PRIORITY", true, [](MessageImpl& m, HeaderScan&, std::string value) { m.Priority = std::move(value); }},
    {"X-MSMAIL-PRIORITY", false,
     [](MessageImpl& m, HeaderScan&, std::string value) {
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
    {"MESSAGE-ID", false, [](MessageImpl& m, HeaderScan&, std::string value) { m.MessageId = std::move(value); }},
    {"MIME-VERSION", false, [](MessageImpl& m, HeaderScan&, std::string) { m.IsMIME = true; }},
    {"CONTENT-TYPE", false,
     [](MessageImpl& m, HeaderScan&, std::string value) { Gather(m.ContentType, value); }},
    {"CONTENT-TRANSFER-ENCODING", false,
     [](MessageImpl& m, HeaderScan&, std::string value) { m.TransferEncoding = std::move(value); }},
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
void ApplyField(MessageImpl& message, HeaderScan& scan)
{
    if (const FieldRule* rule = RuleFor(scan.name, scan.reader))
        rule->apply(message, scan, TrimBlanks(HeaderBlanks(message.InternationalText, scan.value)));
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

void AddRecipients(MessageImpl& message, std::string& list, int16_t type)
{
    Ref<Recipients> recipients = message.Recipients;
    while (!list.empty() && recipients->Count() < kMaxRecipients) {
        codec::AddressEntry entry = codec::SplitAddress(list);
        recipients->Add(entry.Address, NameOf(message, entry.Name), type);
    }
}

} // namespace

HeaderLine TakeHeaderLine(MessageImpl& message, HeaderScan& scan, std::string_view raw)
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

void FinishHeader(MessageImpl& message, HeaderScan& scan, bool addRecipients)
{
    ApplyField(message, scan);
    if (addRecipients) {
        if (!message.Recipients)
            message.Recipients = LibraryAccess::create<Recipients>();
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
