// Messages: the collection that TolvanPOP3 fills; it builds each Message with its
// fields, its socket and its weak back-reference to the component.
#include "tolmail/Messages.h"

#include "platform/library_caller.h"
#include "pop3/message_impl.h"

namespace tolmail {

Ref<Messages> Messages::Create(const detail::Caller& caller)
{
    caller.require("Messages.Create");
    return std::make_shared<Messages>(Private{});
}

void Messages::DeleteAllMessage()
{
    for (int32_t position = Count(); position >= 1; --position)
        Delete(Variant(position));
}

Ref<Message> Messages::AddMessage(int32_t serverNumber, const std::string& CharSet, const std::string& ContentType,
                                  const std::string& DateTime, const std::string& FromName,
                                  const std::string& FromAddress, const std::string& FullMsgFilename,
                                  const std::string& CompleteHeader, int32_t MessageStatus,
                                  const std::string& MessageId, const std::string& MessageText,
                                  const std::string& Priority, const std::string& ReplyToName,
                                  const std::string& ReplyToAddress, const std::string& Size,
                                  const std::string& Subject, WeakRef<TolvanPOP3> Pop3Handle, const std::string& sKey,
                                  const detail::Caller& caller)
{
    caller.require("Messages.AddMessage");
    auto message = std::make_shared<Message>(Message::Private{});
    Message::Impl& fields = message->impl(caller);
    fields.ServerNumber = serverNumber;
    message->CharSet(CharSet);
    fields.ContentType = ContentType;
    fields.DateTime = DateTime;
    fields.FromName = FromName;
    fields.FromAddress = FromAddress;
    fields.FullMsgFilename = FullMsgFilename;
    fields.CompleteHeader = CompleteHeader;
    fields.MessageStatus = MessageStatus;
    fields.MessageId = MessageId;
    fields.MessageText = MessageText;
    fields.Priority = Priority;
    fields.ReplyToName = ReplyToName;
    fields.ReplyToAddress = ReplyToAddress;
    fields.Size = Size;
    fields.Subject = Subject;
    fields.Owner = std::move(Pop3Handle);
    if (Ref<TolvanPOP3> owner = fields.Owner.lock())
        fields.Socket = owner->SocketOf(caller);
    fields.Attachments = Attachments::Create(caller);
    fields.Recipients = Recipients::Create(caller);
    // A duplicate key throws here; the new message is then released at once.
    store_.add(message, sKey);
    return message;
}

} // namespace tolmail
