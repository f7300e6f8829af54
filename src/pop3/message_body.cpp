// Placeholder body reader until the MIME walk lands: drains the body to its end.
#include "pop3/message_impl.h"

namespace tolmail {

int32_t Message::Impl::ReadSinglePart()
{
    for (;;) {
        std::string piece;
        Socket->GetData(piece, 0);
        if (piece.empty())
            return 1;
        MessageText += piece;
        if (MessageText.size() >= 5 && MessageText.compare(MessageText.size() - 5, 5, "\r\n.\r\n") == 0)
            break;
    }
    MessageStatus = 4;
    return 0;
}

int32_t Message::Impl::WalkMultipart(const std::string&, std::string& buffer)
{
    for (;;) {
        if (buffer.size() >= 5 && buffer.compare(buffer.size() - 5, 5, "\r\n.\r\n") == 0)
            return 0;
        std::string piece;
        Socket->GetData(piece, 0);
        if (piece.empty())
            return 1;
        buffer += piece;
    }
}

int32_t Message::Impl::FinishParts()
{
    return 0;
}

namespace pop3 {
std::string UnfoldHeader(const std::string& text)
{
    return text;
}
std::string HeaderValue(const std::string&, const std::string&)
{
    return {};
}
} // namespace pop3

} // namespace tolmail
