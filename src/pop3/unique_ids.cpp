// "UIDL" (RFC 1939 7): the ids that name a message across sessions, as a listing for the
// host and as each Message's UniqueId.
#include "platform/library_access.h"
#include "pop3/message_impl.h"
#include "pop3/pop3_impl.h"
#include "pop3/session.h"
#include "socket/dialogue.h"

namespace tolmail {

namespace {

constexpr const char* kNotConnected = "UIDL: not connected";
constexpr const char* kNoReply = "UIDL: no reply";
constexpr const char* kRefused = "UIDL refused: ";
constexpr const char* kCutShort = "UIDL: the listing ended early; the session was closed";

} // namespace

bool TolvanPOP3::Impl::ReadUniqueIds(std::string& listing)
{
    listing.clear();
    if (!Socket->Connected()) {
        POP3Error = kNotConnected;
        return false;
    }
    socket::Dialogue talk = pop3::StatusDialogue(*Socket);
    talk.command("UIDL");
    talk.readReply();
    const std::string& reply = talk.reply();
    if (!pop3::StartsWith(reply, "+OK")) {
        if (reply.empty()) {
            // Whatever comes later cannot be matched to a command any more.
            Socket->CloseSocket();
            POP3Error = kNoReply;
        } else {
            POP3Error = kRefused + reply.substr(0, reply.find_first_of("\r\n"));
        }
        return false;
    }
    talk.messageFollows(false);
    for (std::string line;;) {
        Socket->GetlnData(line);
        if (line.empty()) {
            Socket->CloseSocket();
            listing.clear();
            POP3Error = kCutShort;
            return false;
        }
        if (line == ".\r\n")
            return true;
        listing += line[0] == '.' ? line.substr(1) : line;
    }
}

std::vector<std::string> TolvanPOP3::Impl::UniqueIdsByNumber()
{
    std::vector<std::string> ids;
    std::string listing;
    if (!FetchUniqueIds || !ReadUniqueIds(listing))
        return ids;
    for (size_t at = 0, end; (end = listing.find("\r\n", at)) != std::string::npos; at = end + 2) {
        const std::string_view line = std::string_view(listing).substr(at, end - at);
        const size_t blank = line.find(' ');
        const int32_t number = pop3::LeadingNumber(line);
        // Numbers past the mailbox's count are no message of this session.
        if (blank == std::string_view::npos || number < 1 || number > MessageCount)
            continue;
        if (ids.size() < static_cast<size_t>(number))
            ids.resize(static_cast<size_t>(number));
        ids[static_cast<size_t>(number) - 1] = std::string(line.substr(blank + 1));
    }
    return ids;
}

std::string TolvanPOP3::UniqueIds()
{
    const Ref<TolvanPOP3> keepAlive = shared_from_this();
    std::string listing;
    if (impl_->ReadUniqueIds(listing))
        impl_->POP3Error = "No Error";
    return listing;
}

namespace pop3 {

void SetUniqueId(Message& message, const std::vector<std::string>& ids, int32_t number)
{
    if (number >= 1 && static_cast<size_t>(number) <= ids.size())
        LibraryAccess::impl(message).UniqueId = ids[static_cast<size_t>(number) - 1];
}

} // namespace pop3

} // namespace tolmail
