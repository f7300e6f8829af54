// The result codes of TolvanPOP3's members and of the messages it retrieves, and the
// progress events they raise.
#pragma once

#include <cstdint>

#include "tolmail/file_codes.h"
#include "tolmail/socket_codes.h"
#include "tolmail/task_event.h"

/// Results of TolvanPOP3's methods and of Message.GetMessage and DeleteAtServer. Where
/// a code has several names, each belongs to the members it lists. Connect also passes
/// on the codes of the socket's Connect and GetlnData (socket_result), and
/// Attachment.Save returns those of file_result.
namespace tolmail::pop3_result {

/// Success, for every member.
inline constexpr int32_t Ok = 0;
/// KeepAlive, CancelDelete, DeleteAtServer: no reply came. Disconnect: no reply came,
/// or there was no connection. GetMessage, GetMessageHeader: the server stopped
/// sending within TimeOut.
inline constexpr int32_t NoReply = 1;
/// KeepAlive, CancelDelete: the socket is not connected.
inline constexpr int32_t NotConnected = 2;
/// GetMessage, GetMessageHeader, DeleteAtServer: there was no connection, or it closed
/// before the message (or the reply to DELE) was whole.
inline constexpr int32_t ConnectionLost = 2;
/// GetMessageHeader: the LIST reply was neither "+OK" nor "-ERR".
inline constexpr int32_t UnexpectedListReply = 2;
/// Connect: the component is already connected; nothing was done.
inline constexpr int32_t AlreadyConnected = 3;
/// Connect: Host is empty; nothing was sent.
inline constexpr int32_t NoHost = 4;
/// GetMessage: a part's temporary file could not be created or written.
inline constexpr int32_t TempFileFailed = 4;
/// Connect: Login is empty; nothing was sent.
inline constexpr int32_t NoLogin = 5;
/// Connect: the server refused the password, or Login or Password holds a line break
/// (then nothing was sent).
inline constexpr int32_t LoginRefused = 5;
/// GetMessage (text kept on disk): the message-text file could not be created or written.
inline constexpr int32_t TextFileFailed = 8;
/// KeepAlive, CancelDelete, GetMessage, GetMessageHeader, DeleteAtServer: the server
/// answered "-ERR".
inline constexpr int32_t Refused = 16;
/// Connect: the greeting did not begin with "+OK"; the next host is not tried.
inline constexpr int32_t NotPop3Server = 32;
/// Disconnect: QUIT was answered with "-ERR".
inline constexpr int32_t QuitRefused = 32;
/// GetMessage, GetMessageHeader: an unexpected reply, a line longer than
/// socket_limit::LongestLine, or a message beyond the parser's limits.
inline constexpr int32_t ProtocolError = 64;
/// Connect: TLS could not protect the session (the handshake or the certificate check
/// failed, Security required STLS and the server did not list or refused it, or its
/// answer to CAPA was cut short); the connection is closed and nothing was sent in
/// clear after it. POP3Error begins "TLS failed: ".
inline constexpr int32_t TlsFailed = 128;
/// Connect: no safe way to log in: UseAPOP was set and the greeting carries no
/// timestamp, or the password would have crossed the network unencrypted. The
/// connection is closed; no password was sent.
inline constexpr int32_t LoginUnavailable = 256;

} // namespace tolmail::pop3_result

/// The progress events of TolvanPOP3, raised through OnPOP3Event: by the component, by
/// its messages, and by Attachment.Save for a body in a temporary file.
namespace tolmail::pop3_event {

/// Connect, before "USER".
inline constexpr TaskEvent Verification{1, "AUTHORIZATION: Verification", nullptr, "", "0", "0"};
/// Connect: the server refused the password.
inline constexpr TaskEvent Denied{2, "AUTHORIZATION: Denied", nullptr, "", "0", "0"};
/// Connect: no reply to "USER" or "PASS".
inline constexpr TaskEvent Timeout{2, "AUTHORIZATION: Timeout", nullptr, "", "0", "0"};
/// Connect: logged in, before "STAT".
inline constexpr TaskEvent Granted{3, "AUTHORIZATION: Granted", nullptr, "", "0", "0"};
/// Disconnect, first.
inline constexpr TaskEvent Disconnecting{5, "LOGOFF: Disconnecting", nullptr, "", "0", "0"};
/// Disconnect, after the reply to "QUIT".
inline constexpr TaskEvent CleanLogoff{6, "LOGOFF: Clean Logoff", nullptr, "", "0", "0"};
/// Disconnect without a connection.
inline constexpr TaskEvent DirtyLogoff{7, "LOGOFF: Dirty Logoff", nullptr, "", "0", "0"};
/// A message is being released (its temporary files go).
inline constexpr TaskEvent CleaningUp{10, "MESSAGE: Cleaning Up Temporary Files", nullptr, "", "0", "0"};
/// GetMessage, first.
inline constexpr TaskEvent Retrieving{11, "MESSAGE: Retrieving", nullptr, "", "0", "GetMessage's param"};
/// GetMessage: the body is multipart.
inline constexpr TaskEvent CheckingMultipart{12, "MESSAGE: Checking MultiPart Content-Type", nullptr, "", "0",
                                             "GetMessage's param"};
/// GetMessage: the body is a single part.
inline constexpr TaskEvent CheckingNonMime{13, "MESSAGE: Checking Non-Mime Email", nullptr, "", "0",
                                           "GetMessage's param"};
/// GetMessage, before the retrieved message is deleted at the server.
inline constexpr TaskEvent Deleting{14, "MESSAGE: Deleting... ", nullptr, "", "0", "GetMessage's param"};
/// GetMessageHeader, before each message's header is fetched.
inline constexpr TaskEvent EmailHeader{15, "MESSAGE: Email Header", nullptr, "", "0", "the message number"};
/// Attachment.Save, before each piece of a temporary file is decoded.
inline constexpr TaskEvent Decoding{20, "ATTACHMENT: Decoding ", "the temporary file's name", " ...",
                                    "the temporary file's length in bytes",
                                    "the bytes of it not yet decoded, before this piece"};
/// Attachment.Save: the temporary file was decoded whole.
inline constexpr TaskEvent DecodingDone{21, "ATTACHMENT: Decoding Done", nullptr, "",
                                        "the temporary file's length in bytes", "0"};

/// Every event above, in the order of their tasks.
inline constexpr TaskEvent All[] = {
    Verification, Denied, Timeout, Granted, Disconnecting, CleanLogoff, DirtyLogoff, CleaningUp,
    Retrieving, CheckingMultipart, CheckingNonMime, Deleting, EmailHeader, Decoding, DecodingDone
};

} // namespace tolmail::pop3_event
