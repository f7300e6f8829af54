// TolvanSMTP's state and its dialogue with the server (RFC 5321).
#pragma once

#include <cstdint>
#include <string>

#include "smtp/message.h"
#include "tolmail/TolvanSMTP.h"
#include "tolmail/TolvanSocket.h"
#include "tolmail/events.h"

namespace tolmail {

class TolvanSMTP::Impl {
public:
    Impl();

    int32_t Connect();
    int32_t Send();
    int32_t Disconnect();

    /// Sets SMTPError to "No Error", then judges the reply of a step: 1 greeting "220",
    /// 2 HELO/MAIL/RCPT/end of data "250", 3 DATA "354", 4 QUIT "221".
    bool CheckReply(int step, const std::string& reply);

    void raise(const std::string& text, int32_t task, int32_t param1 = 0, int32_t param2 = 0);

    Ref<TolvanSocket> socket;
    EventSource<TolvanSMTPEvents> events;
    smtp::MessageFields message;
    std::string hostList = "127.0.0.1";
    int16_t port = 25;
    int32_t timeOut = 15;
    std::string smtpError;

private:
    int32_t sendMime();
    int32_t sendPlain();
    /// MAIL FROM and every RCPT TO; 0, or the result that Send returns.
    int32_t sendEnvelope(const std::string& mailFrom);
    void command(const std::string& line);
};

} // namespace tolmail
