// The state of a TolvanPOP3 component and the steps its methods share.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/save_progress.h"
#include "platform/hidden.h"
#include "platform/library_access.h"
#include "tolmail/Messages.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/events.h"
#include "tolmail/security_mode.h"

namespace tolmail {

namespace socket {
class Dialogue;
}

class TOLMAIL_HIDDEN TolvanPOP3::Impl final : public model::SaveProgress {
public:
    // Stored properties with their defaults.
    std::string Login;
    int16_t Port = 110;
    std::string Host;
    bool SaveAttachment = false;
    std::string CachedDirectory;
    std::string AlternativeType = "PLAIN";
    int32_t MaxMemAttachment = 16384;
    int32_t TimeOut = 15;
    std::string Password;
    std::string POP3Error;
    int32_t Security = security_mode::None;
    std::string CAFile;
    bool SkipCertificateCheck = false;
    bool UseAPOP = false;
    bool UseAuthPlain = false;
    bool AllowPasswordWithoutTLS = false;
    bool FetchUniqueIds = false;
    bool InternationalText = false;

    // Private state.
    Ref<TolvanSocket> Socket;
    Ref<tolmail::Messages> Messages;
    int32_t MessageCount = 0;
    int32_t MailboxSize = 0;
    bool CancelRequested = false;
    int32_t loopsRunning = 0;  // GetMessages / GetMessageHeader in progress (handlers may nest them)
    EventSource<TolvanPOP3Events> Events;

    /// Raises OnPOP3Event: the event's task, its text with `named` in its place.
    void raise(const TaskEvent& event, int32_t param1 = 0, int32_t param2 = 0, std::string_view named = {}) const;

    // Attachment.Save's progress, as the model layer reports it.
    void decoding(const std::string& file, int32_t total, int32_t left) override;
    void decodingDone(int32_t total) override;

    /// Tries the names of the host list in order; reads the greeting of the first that
    /// accepts the connection into `talk`. socket_result::Ok, or the last socket code
    /// with POP3Error saying what happened.
    int32_t ConnectHostList(socket::Dialogue& talk);
    /// "STLS" and the handshake: Ok when TLS protects the session (or WhenOffered and the
    /// server declined); else TlsFailed with the connection closed.
    int32_t StartTls(socket::Dialogue& talk);
    /// Fails with TlsFailed: POP3Error "TLS failed: " + why.
    int32_t TlsFailure(const std::string& why);
    /// The log-in after the greeting (APOP, AUTH PLAIN or USER/PASS), as Security and the
    /// log-in switches ask; the reply is left in `talk` for Connect to judge. The socket's
    /// code of the last read, or LoginUnavailable (the connection closed, nothing secret
    /// sent).
    int32_t LogIn(socket::Dialogue& talk, const std::string& greeting);
    /// "UIDL": true with the listing's lines (byte-stuffing undone) in `listing`; false
    /// with POP3Error saying why (a listing cut short also ends the session).
    bool ReadUniqueIds(std::string& listing);
    /// When FetchUniqueIds is set: the listing's id of each message number; empty otherwise
    /// or when the server gave none.
    std::vector<std::string> UniqueIdsByNumber();
    /// "STAT": the message count and mailbox size.
    void ReadStatistics();
    /// "NOOP" or "RSET": NotConnected, Refused ("-ERR"), NoReply, else Ok.
    int32_t SimpleCommand(const char* command);
    /// Creates message n in `into` (handed back in `created`) and fills its header
    /// from "LIST" and "TOP n 0".
    int32_t FetchHeader(int32_t n, const Ref<tolmail::Messages>& into, const WeakRef<TolvanPOP3>& self,
                        Ref<Message>& created);
};

using Pop3Impl = LibraryAccess::Of<TolvanPOP3>::Impl;

} // namespace tolmail
