// The option parser that both sub-commands share: getopt_long underneath, so long and
// short forms, "--opt=value" and "--opt value" all behave as users expect of a
// command-line tool, and every number is checked against the range its option allows.
#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolmail::cli {

/// An option a command understands.
struct KnownOption {
    enum Kind { Flag, Text, Number };
    const char* name;  ///< long name, without the leading "--"
    char letter;       ///< short form, or 0 when there is none
    Kind kind;
    long min = 0, max = 0;  ///< the accepted range of a Number
    /// Never taken from an account: an account's value under this name means something
    /// else to this command (send's log-in is not the mailbox's).
    bool commandLineOnly = false;
    /// Throws UsageError (naming the option) for a value the option cannot take; run
    /// where the value is read, so that an account's value is refused with its file and
    /// line. Null: any text.
    void (*check)(const std::string& value) = nullptr;
};

/// One option as given, in command-line order (repeatable options appear repeatedly).
struct GivenOption {
    const KnownOption* known;
    std::string text;  ///< the value as given (empty for a Flag)
    long number = 0;   ///< the value of a Number, already range-checked
};

/// A command line the command cannot run with; what() names the option at fault.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

/// Parses argv (argv[0] is the sub-command's name). Throws UsageError for the first
/// unknown option, missing value, number malformed or out of range, or operand, unless
/// an option named "help" is among them: then the valid options are returned.
std::vector<GivenOption> ParseOptions(int argc, char** argv, std::span<const KnownOption> table);

/// `text` as the value of `known`, checked as on the command line (a Number's range,
/// the option's own check);
/// for values that come from elsewhere, such as an account. Throws UsageError.
GivenOption GivenValue(const KnownOption& known, const std::string& text);

/// The option of `table` called `name`, or nullptr.
const KnownOption* FindOption(std::span<const KnownOption> table, const std::string& name);

/// The ranges that both commands check.
inline constexpr long kLowestPort = 1;
// The socket layer refuses 65535: it reads as all ones in network order.
inline constexpr long kHighestPort = 65534;
inline constexpr long kLongestTimeOut = 1500;

} // namespace tolmail::cli
