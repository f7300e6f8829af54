// Where the log-in password comes from. Never the command line, where other users see it.
#pragma once

#include <string>

namespace tolmail::cli {

/// What the password sources need to know.
struct PasswordRequest {
    std::string file;     ///< --password-file: its first line
    std::string command;  ///< --password-command: the first line it prints
    std::string host;     ///< for ~/.netrc and the prompt
    std::string user;     ///< for ~/.netrc and the prompt
};

/// The password from the first source that is set: the file, the command,
/// TOLMAIL_PASSWORD, a "machine HOST login USER password PW" entry of the netrc file
/// (sys::NetrcPath(): ~/.netrc), and last a prompt on the terminal without echo when
/// standard input is a terminal. Throws
/// ConfigError (with EX_NOINPUT, EX_DATAERR, EX_CONFIG, ...) when that source fails
/// or none is set.
std::string FindPassword(const PasswordRequest& request);

} // namespace tolmail::cli
