/// \file
/// Message: one message of the mailbox.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/Attachments.h"
#include "tolmail/Recipients.h"
#include "tolmail/export.h"
#include "tolmail/ref.h"

namespace tolmail {

/// One message of the mailbox: its parsed header fields, recipients and parts. Made by
/// TolvanPOP3 (GetMessages, GetMessageHeader) only. Its server calls go through the
/// component's connection; its events are raised by the component while that exists.
///
/// The retrieval results (GetMessage, DeleteAtServer) are pop3_result codes: 0 done;
/// 1 no reply in time (the message stopped before its end); 2 not connected or the
/// connection lost; 4 a part's temporary file could not be created or written; 8 the
/// message-text file or the whole-message file could not be created or written; 16 the server answered "-ERR";
/// 64 protocol error (an unexpected reply, a line over 1 MiB, a message beyond the
/// parser's limits). TolvanPOP3::POP3Error gives the text of the last one.
class TOLMAIL_API Message {
public:
    /// Raises pop3_event CleaningUp (task 10) through its component when that still
    /// exists, deletes its message-text file and releases its recipients and attachments.
    ~Message();
    Message(const Message&) = delete;
    Message& operator=(const Message&) = delete;

    /// The parameter text of a text message's Content-Type (its charset); "UTF-8" once
    /// TolvanPOP3::InternationalText has converted MessageText.
    std::string CharSet() const;
    /// Replaces the CharSet text.
    void CharSet(const std::string& value);
    /// The To (Types 1) and Cc (Types 2) recipients.
    Ref<tolmail::Recipients> Recipients();
    /// The parts of a MIME message, or the uuencoded blocks of a plain one.
    Ref<tolmail::Attachments> Attachments();
    /// Downloads the whole message ("RETR") and parses it. Bit value 2 of param deletes
    /// it at the server afterwards (then MessageStatus is 8); bit value 4 keeps the text
    /// in a file (FullMsgFilename) instead of MessageText; bit value 8 also keeps the
    /// whole message as it arrived in a file (RawMsgFilename). Bits combine. Raises
    /// pop3_event Retrieving (task 11, param2 = param), CheckingMultipart (12) or
    /// CheckingNonMime (13), and Deleting (14). Returns a pop3_result code (see the
    /// class); 8 also when the bit-8 file could not be created or written.
    int32_t GetMessage(int32_t param);
    /// Marks the message deleted at the server ("DELE"): 0, 1 no reply (the session is
    /// abandoned), 2 not connected, 16 refused.
    int32_t DeleteAtServer();
    /// The Subject header (as UTF-8 with TolvanPOP3::InternationalText).
    std::string Subject() const;
    /// The size in bytes the server listed, as decimal text.
    std::string Size() const;
    /// The Reply-To address.
    std::string ReplyToAddress() const;
    /// The Reply-To display name.
    std::string ReplyToName() const;
    /// The X-Priority or Priority value; without one, "1", "3" or "5" from an
    /// X-MSMail-Priority of High, Normal or Low.
    std::string Priority() const;
    /// The chosen text of the message (empty when it went to FullMsgFilename); decoded
    /// and as UTF-8 with TolvanPOP3::InternationalText.
    std::string MessageText() const;
    /// The Message-ID header.
    std::string MessageId() const;
    /// The server's unique id of the message ("UIDL"): the same in every session, unlike
    /// the message number. Filled when TolvanPOP3::FetchUniqueIds was set; empty when it was
    /// not or the server keeps no such ids.
    std::string UniqueId() const;
    /// 0 until the body was read to its end, then 4; 8 after GetMessage deleted the
    /// message at the server.
    int32_t MessageStatus() const;
    /// The header lines as received, each ending in CR LF.
    std::string CompleteHeader() const;
    /// The file that holds the message text (GetMessage with bit 4); deleted with the
    /// message.
    std::string FullMsgFilename() const;
    /// The file that holds the message as it arrived (GetMessage with bit 8): the header
    /// lines as received, the empty line and the body, line ends as on the wire,
    /// byte-stuffing undone, without the terminating "." line. Set only when the whole
    /// message was read and written; deleted with the message, like FullMsgFilename.
    std::string RawMsgFilename() const;
    /// The From address.
    std::string FromAddress() const;
    /// The From display name (as UTF-8 with TolvanPOP3::InternationalText, as is
    /// ReplyToName).
    std::string FromName() const;
    /// The Date header, verbatim.
    std::string DateTime() const;
    /// The MIME type of the message ("text", "multipart").
    std::string ContentType() const;
    /// The MIME subtype of the message ("plain", "mixed").
    std::string ContentSubType() const;
    /// True when the header carries MIME-Version.
    bool IsMIME() const;
    /// The Return-Receipt-To header.
    std::string ReturnReceipt() const;

private:
    friend class LibraryAccess;
    Message();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
