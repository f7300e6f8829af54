// The result codes of TolvanSMTP's members and the progress events it raises.
#pragma once

#include <cstdint>

#include "tolmail/file_codes.h"
#include "tolmail/socket_codes.h"
#include "tolmail/task_event.h"

/// Results of TolvanSMTP's methods. Where a code has two names, each belongs to the
/// members it lists. Connect and Send also pass on the code of the socket's Connect
/// (socket_result); ImportMailBody returns the codes of file_result.
namespace tolmail::smtp_result {

/// Success, for every member.
inline constexpr int32_t Ok = 0;
/// Connect: the component is already connected; nothing was done.
inline constexpr int32_t AlreadyConnected = 3;
/// Connect, Send: the host list is empty. (socket_result::OpenFailed, also 4, is the
/// socket's code passed on when the last host could not be reached.)
inline constexpr int32_t NoHost = 4;
/// AddRecipients, AddAttachment, AddCustomHeader: the argument was refused and nothing
/// was added.
inline constexpr int32_t ArgumentRefused = 5;
/// Send: the server refused a recipient; the connection was closed.
inline constexpr int32_t RecipientRefused = 5;
/// Connect, Send: no host greeted with "220" ("Host is down."), or the connection was
/// lost between the transactions of plain mode.
inline constexpr int32_t HostDown = 6;
/// Disconnect: there was no connection.
inline constexpr int32_t NotConnected = 6;
/// Send: FromEmail is empty, or holds a line break, a blank, "<", ">" or a control
/// character.
inline constexpr int32_t NoSender = 8;
/// Send: an attachment could not be read (or, in plain mode, was missing); the
/// connection was closed. SendMessageFile: the message file could not be read (nothing
/// was sent), or changed while it was sent (the connection was closed).
inline constexpr int32_t AttachmentFailed = 9;
/// Send (MIME mode): an attachment file was missing, or a piece of it could not be
/// sent; the connection was closed. SendMessageFile: the message file is missing;
/// nothing was sent.
inline constexpr int32_t AttachmentMissing = 10;
/// Send: there is no recipient.
inline constexpr int32_t NoRecipient = 16;
/// Connect, Send: HELO was not answered with "250"; the connection was closed.
inline constexpr int32_t HeloRefused = 32;
/// Send: MAIL FROM, DATA or the end of data was refused or not answered. Disconnect:
/// QUIT was not answered with "221" (the connection is closed all the same).
inline constexpr int32_t ServerRefused = 64;
/// Send: the data transfer broke off (the connection was lost, or the server took no
/// data for TimeOut seconds); the connection was closed, so the server drops the
/// partial message.
inline constexpr int32_t DataNotSent = 128;
/// Connect, Send (with a UserName): the server refused the authentication; SMTPError
/// holds its reply. The connection was closed.
inline constexpr int32_t AuthRefused = 256;
/// Connect, Send (with a UserName): no authentication was tried, because the server
/// offers no mechanism this component speaks for the credentials given, or the secret
/// would have crossed an unencrypted connection to another machine without
/// AllowPasswordWithoutTLS. The connection was closed.
inline constexpr int32_t AuthUnavailable = 512;
/// Connect, Send (with a Security other than None): the connection could not be
/// protected. The certificate was refused or the handshake failed, the server refused
/// STARTTLS, or it does not offer STARTTLS when Security requires it. SMTPError begins
/// with "TLS failed: " and says why (an expired certificate, one for another host, an
/// unknown issuer, the server's reply). The connection was closed; nothing went in clear.
inline constexpr int32_t TlsFailed = 1024;

} // namespace tolmail::smtp_result

/// The progress events of TolvanSMTP, raised through OnSMTPEvent. Tasks 1 to 3 belong
/// to the connection, 4 to 7 to the log-off, 10 to 12 to the transaction, 20 and 21 to
/// the encoding of each attachment.
namespace tolmail::smtp_event {

/// Connect, before each host of the list is tried.
inline constexpr TaskEvent Connecting{1, "CONNECT: Connecting to destination host (", "the host name", ")", "0", "0"};
/// Connect: the TCP connection to the host is up.
inline constexpr TaskEvent Connected{2, "CONNECT: Connected to ", "the host name", "", "0", "0"};
/// Connect: the greeting was not "220" or the HELO reply not "250" (an empty reply
/// when none came).
inline constexpr TaskEvent InvalidResponse{3, "CONNECT: Invalid Respond (", "the server's reply as read", ")", "0",
                                           "0"};
/// Disconnect, always first.
inline constexpr TaskEvent LoggingOff{4, "DISCONNECT: Loging off from Host", nullptr, "", "0", "0"};
/// Disconnect: QUIT was not answered with "221".
inline constexpr TaskEvent UnableToLogOff{5, "DISCONNECT: Unable to Logoff", nullptr, "", "0", "0"};
/// Disconnect: QUIT was answered with "221".
inline constexpr TaskEvent LoggedOff{6, "DISCONNECT: Logoff and Disconnect gracefully", nullptr, "", "0", "0"};
/// Disconnect without a connection.
inline constexpr TaskEvent NotConnected{7, "DISCONNECT: Not Connected", nullptr, "", "0", "0"};
/// Send, once before the first MAIL FROM.
inline constexpr TaskEvent SendingEnvelope{10, "TRANSACTION: Sending Sender and Recipients Information", nullptr, "",
                                           "0", "0"};
/// Send, before each DATA (plain mode has one transaction per attachment).
inline constexpr TaskEvent SendingBody{11, "TRANSACTION: Sending Mailbody & Attachments (if any)", nullptr, "", "0",
                                       "0"};
/// Send: the server accepted the end of data.
inline constexpr TaskEvent BodySent{12, "TRANSACTION: Mailbody sent", nullptr, "", "0", "0"};
/// Send, after each chunk of an attachment file is read.
inline constexpr TaskEvent Encoding{20, "ATTACHMENT: Encoding ", "the attachment's path as given to AddAttachment",
                                    " ...", "the file's length in bytes", "the bytes read so far"};
/// Send: an attachment file was read to its end and sent; ends each attachment, an
/// empty one (which raises no Encoding) included.
inline constexpr TaskEvent EncodingDone{21, "ATTACHMENT: Encoding Done", nullptr, "", "the file's length in bytes",
                                        "the bytes read in all"};

/// Every event above, in the order of their tasks.
inline constexpr TaskEvent All[] = {
    Connecting, Connected, InvalidResponse, LoggingOff, UnableToLogOff, LoggedOff, NotConnected,
    SendingEnvelope, SendingBody, BodySent, Encoding, EncodingDone
};

} // namespace tolmail::smtp_event
