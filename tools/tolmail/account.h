// Accounts: a configuration file of named sets of option values, so that a server, its
// port and the log-in need not be typed on every command line.
#pragma once

#include <span>
#include <vector>

#include "options.h"

namespace tolmail::cli {

/// The options `given` on the command line, preceded by the values of the chosen account
/// (--account, else the file's default, else the defaults section alone) in the
/// configuration file (--config, else sys::UsualConfigPath(): $XDG_CONFIG_HOME/tolmail/config,
/// else ~/.config/tolmail/config): applied in order, the command line wins. Keys the command
/// has no option for are passed over, so one file serves both commands. With --help or
/// --version, or when no file is named and the usual one does not exist, `given` alone.
/// Throws ConfigError (the file is open to others, a line is malformed, the account is
/// unknown) and UsageError.
std::vector<GivenOption> WithAccount(std::vector<GivenOption> given, std::span<const KnownOption> table);

} // namespace tolmail::cli
