// How the tolmail command ends: one line on standard error for each failure, and an
// exit status in the sysexits.h tradition, so that scripts can tell a mistyped command
// from a server that is down from a mailbox that refused the password.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

#include "exit_status.h"

namespace tolmail::cli {

/// A fault of the configuration (the accounts file, a password source): what() is the
/// whole line to print, status() the exit status.
class ConfigError : public std::runtime_error {
public:
    explicit ConfigError(const std::string& line, int status = EX_CONFIG) : std::runtime_error(line), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

/// Which member produced a result code: the same number means different things in
/// each (4 is "cannot connect" from a log-in but "temporary file failed" from a retrieval).
enum class Source {
    SmtpSend,      ///< TolvanSMTP Send and Disconnect (passing on the socket's Connect codes)
    SmtpAdd,       ///< TolvanSMTP AddRecipients, AddAttachment, AddCustomHeader
    Pop3Connect,   ///< TolvanPOP3 Connect (passing on the socket's codes)
    Pop3Session,   ///< TolvanPOP3 retrieval, deletion, log-off
    FileRead,      ///< reading an input file (ImportMailBody)
    FileWrite,     ///< writing a file (Attachment.Save, the message text)
};

/// What a result code means to the person running the command.
struct Verdict {
    int status;          ///< the exit status (EX_OK when the code is a success)
    const char* reason;  ///< a few words, used when the component gives none
};

/// The verdict on `code` from `source`; an unknown code is EX_SOFTWARE.
Verdict Judge(Source source, int32_t code);

/// The sub-command's name for the lines ("send", "fetch"); "" before one is chosen.
void SetCommandName(const std::string& name);

/// Prints "tolmail CMD: WHAT: WHY (COMPONENT code N)" and returns the exit status. WHY
/// is the component's own words when `words` holds any, after the code's reason.
int Report(const std::string& what, Source source, int32_t code, const std::string& words = "");

/// Prints "tolmail CMD: WHAT: WHY" for a failure that no component code describes (a
/// file's strerror, a usage mistake) and returns `status`.
int Report(const std::string& what, const std::string& why, int status);

/// A usage error: one line naming the fault and where help is, EX_USAGE.
int ReportUsage(const std::string& fault);

/// Runs a sub-command so that nothing thrown escapes: whatever is thrown ends the
/// command with one line and EX_SOFTWARE rather than an abort.
int Guarded(const std::function<int()>& command);

} // namespace tolmail::cli
