/// \file
/// TolvanPOP3: logs into one POP3 mailbox (RFC 1939), downloads and parses messages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tolmail/Messages.h"
#include "tolmail/dialogue_trace.h"
#include "tolmail/events.h"
#include "tolmail/export.h"
#include "tolmail/pop3_codes.h"
#include "tolmail/ref.h"

namespace tolmail {

/// The event of TolvanPOP3 (dispatch id 1). Derive and override; Advise the sink.
class TOLMAIL_API TolvanPOP3Events {
public:
    virtual ~TolvanPOP3Events() = default;
    /// Progress of the session: `task` and `paramtext` as the pop3_event table lists
    /// them; param1 and param2 as each event describes (a message number, byte counts).
    virtual void OnPOP3Event(const std::string& paramtext, int32_t task, int32_t param1, int32_t param2)
    {
        (void)paramtext, (void)task, (void)param1, (void)param2;
    }
};

/// A POP3 client: logs into one mailbox, fills Messages with headers or whole
/// messages, and raises its progress through TolvanPOP3Events.
///
/// Session results are pop3_result codes: Connect 0 logged in, 3 already connected,
/// 4 Host empty, 5 Login empty or refused, 32 not a POP3 server, 128 TLS failed, 256 no
/// safe way to log in, else the socket's code for the last host; KeepAlive and CancelDelete 0, 1 no reply, 2 not connected,
/// 16 "-ERR"; Disconnect 0, 1 no reply, 32 "-ERR". POP3Error gives the text.
class TOLMAIL_API TolvanPOP3 : public std::enable_shared_from_this<TolvanPOP3> {
public:
    /// Creates a component together with the socket it owns and an empty Messages.
    static Ref<TolvanPOP3> Create();
    /// Releases the messages and closes a connected socket without "QUIT".
    ~TolvanPOP3();
    TolvanPOP3(const TolvanPOP3&) = delete;
    TolvanPOP3& operator=(const TolvanPOP3&) = delete;

    /// The user name sent with "USER".
    std::string Login() const;
    /// Sets the user name; a line break in it makes Connect fail with 5.
    void Login(const std::string& value);
    /// The server port, 110 by default.
    int16_t Port() const;
    /// Sets the server port.
    void Port(int16_t value);
    /// One server name, or several separated by ";" tried in order.
    std::string Host() const;
    /// Sets the host list.
    void Host(const std::string& value);
    /// A stored flag, false by default; the retrieval does not read it.
    bool SaveAttachment() const;
    /// Sets SaveAttachment.
    void SaveAttachment(bool value);
    /// The directory (with its trailing separator) for temporary files of parts and
    /// message texts.
    std::string CachedDirectory() const;
    /// Sets CachedDirectory.
    void CachedDirectory(const std::string& value);
    /// The subtype of a multipart/alternative text chosen as MessageText ("PLAIN").
    std::string AlternativeType() const;
    /// Sets AlternativeType.
    void AlternativeType(const std::string& value);
    /// Undoes deletions of this session ("RSET").
    int32_t CancelDelete();
    /// Keeps the session open ("NOOP").
    int32_t KeepAlive();
    /// Replaces Messages with the headers of every message ("LIST", "TOP n 0"), raising
    /// pop3_event EmailHeader (task 15, param2 the message number) for each; Cancel stops
    /// it. 0, or the first failing message's pop3_result code.
    int32_t GetMessageHeader();
    /// Replaces Messages with every message downloaded by Message::GetMessage(param);
    /// Cancel stops it. 0, or the first failing message's pop3_result code (that
    /// message stays in Messages as far as it was filled).
    int32_t GetMessages(uint8_t param);
    /// The number of messages "STAT" gave at log-in.
    int32_t GetMessageCount();
    /// The mailbox size in bytes "STAT" gave at log-in.
    int32_t GetMessageSize();
    /// Connects to the first host of the list that accepts and logs in ("USER",
    /// "PASS"), then reads "STAT". Raises pop3_event Verification (1), then Granted (3),
    /// Denied or Timeout (2). Returns a code listed for the class. When no session came
    /// about, POP3Error says why for the last host tried (refused, name not resolved, no
    /// answer or no greeting in time).
    int32_t Connect();
    /// Ends the session with "QUIT" (the server then commits deletions). Raises
    /// Disconnecting (5) and CleanLogoff (6), or DirtyLogoff (7) when not connected.
    int32_t Disconnect();
    /// Asks a running GetMessages or GetMessageHeader loop to stop before its next
    /// message; true when such a loop is running to see the request.
    bool Cancel();
    /// Sets the size in bytes below which a part's body is kept in memory (16384 by
    /// default); larger bodies go to a temporary file.
    void MaxMemAttachment(int32_t value);
    /// The in-memory limit for a part's body, in bytes.
    int32_t MaxMemAttachment() const;
    /// Always "1.10b".
    std::string Version() const;
    /// Sets the seconds a reply may take; values below 5 are stored as 5.
    void TimeOut(int32_t value);
    /// The seconds a reply may take (15 by default).
    int32_t TimeOut() const;
    /// Sets the password sent with "PASS"; a line break in it makes Connect fail with 5.
    void Password(const std::string& value);
    /// The password.
    std::string Password() const;
    /// The messages of the last GetMessages or GetMessageHeader.
    Ref<tolmail::Messages> Messages();
    /// Replaces the collection (null: the next read makes an empty one).
    void Messages(Ref<tolmail::Messages> value);
    /// The text of the last failed check or retrieval step ("No Error" when it passed).
    std::string POP3Error() const;

    /// How the session is protected, a security_mode value: None (the default) plain
    /// TCP; WhenOffered "STLS" when the server's "CAPA" list names it and the server
    /// accepts it, else plain; Required "STLS" or Connect fails with TlsFailed; Implicit
    /// TLS from the first byte (port 995).
    int32_t Security() const;
    /// Sets Security.
    void Security(int32_t value);
    /// A PEM file of certificate authorities to trust besides the system's (a private
    /// authority's server); empty by default.
    std::string CAFile() const;
    /// Sets CAFile.
    void CAFile(const std::string& value);
    /// When true, TLS accepts any certificate: encrypted, but open to whoever sits in
    /// between. Only for test servers. False by default.
    bool SkipCertificateCheck() const;
    /// Sets SkipCertificateCheck.
    void SkipCertificateCheck(bool value);
    /// When true, Connect logs in with "APOP" (RFC 1939): only a digest of the greeting's
    /// timestamp and the password is sent. A greeting without a timestamp makes Connect
    /// fail with LoginUnavailable; the password is then not sent in any other way.
    bool UseAPOP() const;
    /// Sets UseAPOP.
    void UseAPOP(bool value);
    /// When true, Connect logs in with "AUTH PLAIN" (RFC 5034) instead of USER and PASS.
    bool UseAuthPlain() const;
    /// Sets UseAuthPlain.
    void UseAuthPlain(bool value);
    /// Whether the password (USER/PASS or AUTH PLAIN) may cross an unencrypted connection
    /// to a server on another machine. False by default, but the check applies only once
    /// the session opts into the newer log-in rules, i.e. Security is not None or
    /// UseAuthPlain is set; a component left at its defaults sends USER/PASS as it always
    /// did. Refused: Connect fails with LoginUnavailable before the password is sent.
    bool AllowPasswordWithoutTLS() const;
    /// Sets AllowPasswordWithoutTLS.
    void AllowPasswordWithoutTLS(bool value);
    /// When true, GetMessages and GetMessageHeader first ask for the "UIDL" listing and
    /// fill each Message's UniqueId. False by default.
    bool FetchUniqueIds() const;
    /// Sets FetchUniqueIds.
    void FetchUniqueIds(bool value);
    /// When true, messages read from then on are given as UTF-8: Subject, display names
    /// (FromName, ReplyToName, Recipient.Name) and each Attachment's Description with
    /// encoded words decoded; attachment names taken from the name and filename
    /// parameters in every form mailers write, in their own letter case; MessageText with
    /// its transfer encoding undone and converted from its charset (CharSet then says
    /// "UTF-8"). Bytes in an unknown charset, or invalid in theirs, are read as Latin-1.
    /// False by default: every field keeps the bytes as they came.
    bool InternationalText() const;
    /// Sets InternationalText.
    void InternationalText(bool value);
    /// The server's "UIDL" listing, one "number id" line per message, each ending in CR
    /// LF. Empty when the mailbox is empty, or when the server refused (POP3Error then
    /// holds its reply) or the connection failed.
    std::string UniqueIds();

    /// Shows the dialogue with the server to `sink`, line by line (null: no longer).
    /// The password is masked.
    void Trace(std::shared_ptr<DialogueTrace> sink);
    /// Connects an event sink; returns the cookie that disconnects it.
    uint32_t Advise(std::shared_ptr<TolvanPOP3Events> sink);
    /// Disconnects the sink of this cookie (an unknown cookie is ignored).
    void Unadvise(uint32_t cookie);

private:
    friend class LibraryAccess;
    TolvanPOP3();
    class Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace tolmail
