// Message: one message of the mailbox, its parsed header fields, recipients and parts.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/Attachments.h"
#include "tolmail/Recipients.h"
#include "tolmail/caller.h"
#include "tolmail/ref.h"

namespace tolmail {

class TolvanPOP3;
class TolvanSocket;

class Message {
    struct Private {
        explicit Private() = default;
    };
    friend class Messages;

public:
    explicit Message(Private);
    /// Raises task 10 through its component (when that still exists), deletes its
    /// message-text file, releases its recipients and attachments.
    ~Message();
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    std::string CharSet() const;
    void CharSet(const std::string& value);
    Ref<tolmail::Recipients> Recipients();
    Ref<tolmail::Attachments> Attachments();
    /// Downloads the whole message ("RETR"); bit value 2 of param deletes it afterwards.
    int32_t GetMessage(int32_t param);
    /// Marks the message deleted at the server ("DELE").
    int32_t DeleteAtServer();
    std::string Subject() const;
    std::string Size() const;
    std::string ReplyToAddress() const;
    std::string ReplyToName() const;
    std::string Priority() const;
    std::string MessageText() const;
    std::string MessageId() const;
    int32_t MessageStatus() const;
    std::string CompleteHeader() const;
    std::string FullMsgFilename() const;
    std::string FromAddress() const;
    std::string FromName() const;
    std::string DateTime() const;
    std::string ContentType() const;
    std::string ContentSubType() const;
    bool IsMIME() const;
    std::string ReturnReceipt() const;

    class Impl;  // fields and the retrieval steps (src/pop3)
    /// Component-only: the message's state, for the library's retrieval code.
    Impl& impl(const detail::Caller& caller);

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
