// The state of a TolvanPOP3 component and the steps its methods share.
#pragma once

#include <cstdint>
#include <string>

#include "tolmail/Messages.h"
#include "tolmail/TolvanPOP3.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/events.h"

namespace tolmail {

class TolvanPOP3::Impl {
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

    // Private state.
    Ref<TolvanSocket> Socket;
    Ref<tolmail::Messages> Messages;
    int32_t MessageCount = 0;
    int32_t MailboxSize = 0;
    bool CancelRequested = false;
    int32_t loopsRunning = 0;  // GetMessages / GetMessageHeader in progress (handlers may nest them)
    EventSource<TolvanPOP3Events> Events;

    void raise(const TaskEvent& event, int32_t param1 = 0, int32_t param2 = 0) const;

    /// Tries the names of the host list in order; reads the greeting of the first that
    /// accepts the connection. socket_result::Ok, or the last socket code.
    int32_t ConnectHostList(std::string& greeting);
    /// "STAT": the message count and mailbox size.
    void ReadStatistics();
    /// "NOOP" or "RSET": NotConnected, Refused ("-ERR"), NoReply, else Ok.
    int32_t SimpleCommand(const char* command);
    /// Creates message n in `into` (handed back in `created`) and fills its header
    /// from "LIST" and "TOP n 0".
    int32_t FetchHeader(int32_t n, const Ref<tolmail::Messages>& into, const WeakRef<TolvanPOP3>& self,
                        Ref<Message>& created);
};

} // namespace tolmail
