// The sub-commands of the tolmail command.
#pragma once

namespace tolmail::cli {

/// `tolmail send ...`: argv[0] is "send". Returns the exit status.
int RunSend(int argc, char** argv);
/// `tolmail fetch ...`: argv[0] is "fetch". Returns the exit status.
int RunFetch(int argc, char** argv);

} // namespace tolmail::cli
