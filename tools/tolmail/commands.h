// The sub-commands of the tolmail command.
#pragma once

namespace tolmail::cli {

/// What --version prints.
inline constexpr const char* kVersionLine = "tolmail " TOLMAIL_VERSION;

/// `tolmail send ...`: argv[0] is "send". Returns the exit status; may throw.
int RunSend(int argc, char** argv);
/// `tolmail fetch ...`: argv[0] is "fetch". Returns the exit status; may throw.
int RunFetch(int argc, char** argv);

} // namespace tolmail::cli
