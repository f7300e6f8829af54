// Composition of the header block of a sent message (RFC 5322 3.6).
#include "smtp/headers.h"

#include <array>

#include "codec/encoded_word_encoder.h"
#include "codec/wordfunc.h"
#include "smtp/header_value.h"
#include "smtp/international_headers.h"

namespace tolmail::smtp {

namespace {

constexpr std::array<const char*, 4> kRecipientPrefixes = {"", "To: ", "Cc: ", "Bcc: "};

/// X-MSMail-Priority by priority 0 to 5; 0 writes no line.
constexpr std::array<const char*, 6> kMSMailPriorities = {
    nullptr, "High", "High", "Normal", "Normal", "Low",
};

constexpr const char* kCrLf = "\r\n";

bool holdsEncodedWords(const std::string& text)
{
    return text.find("=?UTF-8?") != std::string::npos;
}

/// The recipient entries of the international mode, folded between two entries where
/// the line would pass its end and carries encoded words.
std::string internationalRecipients(const MessageFields& m, uint8_t type)
{
    std::string line;
    for (const auto& r : m.recipients) {
        if (r.RecipientType != type)
            continue;
        if (line.empty()) {
            line = kRecipientPrefixes[type];
            line += MailboxText(r.Name, r.Email, line.size());
            continue;
        }
        const size_t start = ColumnAfter(line) + 1;  // after the comma
        std::string entry = MailboxText(r.Name, r.Email, start);
        const bool overflows = entry.find('\n') != std::string::npos || start + entry.size() > codec::kFoldedLineLength;
        // The plain composition never folds here; lines of printable ASCII stay as it writes them.
        if (overflows && (holdsEncodedWords(line) || holdsEncodedWords(entry))) {
            line += ",\r\n ";
            entry = MailboxText(r.Name, r.Email, 1);
        } else {
            line += ",";
        }
        line += entry;
    }
    if (!line.empty())
        line += kCrLf;
    return line;
}

} // namespace

std::string BuildRecipientLine(const MessageFields& m, uint8_t type)
{
    if (type < 1 || type > 3)
        return {};
    if (m.InternationalText)
        return internationalRecipients(m, type);
    std::string line;
    for (const auto& r : m.recipients) {
        if (r.RecipientType != type)
            continue;
        line += line.empty() ? kRecipientPrefixes[type] : ",";
        line += FoldHeaderValue(r.Name) + " <" + r.Email + ">";
    }
    if (!line.empty())
        line += kCrLf;
    return line;
}

std::string BuildDateValue(const std::string& dateTime, const platform::LocalTime& now)
{
    if (!dateTime.empty())
        return dateTime;
    return platform::MailDateText(now) + " " + codec::TimeZoneOffsetText(now.biasMinutes);
}

std::string CharsetName(const MessageFields& m)
{
    if (!m.CustomCharset.empty())
        return m.CustomCharset;
    if (m.InternationalText)
        return "UTF-8";
    return m.charset == 1 ? "US-ASCII" : "ISO-8859-1";
}

std::string ComposeHeaders(const MessageFields& m, const platform::LocalTime& now)
{
    const bool international = m.InternationalText;
    std::string block;
    block.reserve(512 + m.CustomHeaders.size());
    block += "From: ";
    block += international ? MailboxText(m.FromName, m.FromEmail, 6) : FoldHeaderValue(m.FromName) + " <" + m.FromEmail + ">";
    block += kCrLf;
    // Bcc recipients travel in the envelope alone: a header line would show them to
    // every recipient of the message.
    for (uint8_t type = 1; type <= 2; ++type)
        block += BuildRecipientLine(m, type);
    block += "Subject: " + (international ? UnstructuredText(m.Subject, 9) : FoldHeaderValue(m.Subject)) + kCrLf;
    block += "Date: " + FoldHeaderValue(BuildDateValue(m.DateTime, now)) + kCrLf;
    if (m.ReturnReceipt)
        block += "Return-Receipt-To: " + m.FromEmail + kCrLf;
    if (!m.ReplyTo.empty())
        block += "Reply-To: " + (international ? AddressText(m.ReplyTo, 10) : FoldHeaderValue(m.ReplyTo)) + kCrLf;
    // A positive number is written with a blank where its sign would stand.
    block += "X-Priority: " + std::string(m.priority >= 0 ? " " : "") + std::to_string(m.priority) + kCrLf;
    const bool hasMSMail = m.priority >= 1 && m.priority <= 5 && kMSMailPriorities[m.priority] != nullptr;
    if (m.UseMSMail && hasMSMail)
        block += std::string("X-MSMail-Priority: ") + kMSMailPriorities[m.priority] + kCrLf;
    if (!international) {
        block += m.CustomHeaders;
        return block;
    }
    for (const auto& [name, value] : m.CustomFields)
        block += name + ": " + UnstructuredText(value, name.size() + 2) + kCrLf;
    return block;
}

std::string ComposeHeaders(const MessageFields& m)
{
    return ComposeHeaders(m, platform::LocalNow());
}

} // namespace tolmail::smtp
