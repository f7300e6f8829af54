/// \file
/// DialogueTrace: a host's view of the lines a mail component exchanges with its server.
#pragma once

#include <string>

#include "tolmail/export.h"

namespace tolmail {

/// Receives the dialogue of a TolvanSMTP or TolvanPOP3 component, line by line, as it
/// happens. Give one to the component's Trace member. A sink that throws loses that line
/// and nothing else: the session goes on.
class TOLMAIL_API DialogueTrace {
public:
    virtual ~DialogueTrace() = default;
    /// One line of the dialogue without its line end: `sent` for a command this component
    /// sent, else a reply line it read. Passwords and authentication data arrive masked.
    /// A message's contents come as one bracketed summary line, such as
    /// "[message data: 1234 bytes]" (sent) or "[message: 1234 bytes]" (read). When TLS
    /// starts, a read line such as "[TLS started: TLSv1.3 TLS_AES_256_GCM_SHA384]" names
    /// its version and cipher.
    virtual void OnDialogueLine(bool sent, const std::string& line) = 0;
};

} // namespace tolmail
