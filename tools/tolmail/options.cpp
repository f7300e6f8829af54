#include "options.h"

#include <getopt.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace tolmail::cli {

namespace {

// getopt_long reports an option by its value: the letter when it has one, else this
// offset plus the option's index, which no letter can reach.
constexpr int kNoLetterBase = 256;

std::string Dashed(const KnownOption& known) { return std::string("--") + known.name; }

long CheckedNumber(const KnownOption& known, const char* text)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    const std::string range = std::to_string(known.min) + ".." + std::to_string(known.max);
    if (end == text || *end != '\0')
        throw UsageError(Dashed(known) + ": '" + text + "' is not a number (" + range + ")");
    if (errno == ERANGE || value < known.min || value > known.max)
        throw UsageError(Dashed(known) + ": " + text + " is out of range " + range);
    return value;
}

} // namespace

GivenOption GivenValue(const KnownOption& known, const std::string& text)
{
    GivenOption option{&known, text, 0};
    if (known.kind == KnownOption::Number)
        option.number = CheckedNumber(known, text.c_str());
    if (known.check)
        known.check(text);
    return option;
}

const KnownOption* FindOption(std::span<const KnownOption> table, const std::string& name)
{
    for (const KnownOption& known : table)
        if (name == known.name)
            return &known;
    return nullptr;
}

std::vector<GivenOption> ParseOptions(int argc, char** argv, std::span<const KnownOption> table)
{
    std::vector<option> longs;
    // A leading ':' makes a missing value ':' rather than '?', so both can be told apart.
    std::string shorts = ":";
    for (size_t i = 0; i < table.size(); ++i) {
        const KnownOption& known = table[i];
        const int hasArg = known.kind == KnownOption::Flag ? no_argument : required_argument;
        const int value = known.letter ? known.letter : kNoLetterBase + static_cast<int>(i);
        longs.push_back({known.name, hasArg, nullptr, value});
        if (known.letter) {
            shorts += known.letter;
            if (hasArg == required_argument)
                shorts += ':';
        }
    }
    longs.push_back({nullptr, 0, nullptr, 0});

    auto knownFor = [&](int value) -> const KnownOption* {
        if (value >= kNoLetterBase && value - kNoLetterBase < static_cast<int>(table.size()))
            return &table[static_cast<size_t>(value - kNoLetterBase)];
        for (const KnownOption& known : table)
            if (known.letter && known.letter == value)
                return &known;
        return nullptr;
    };

    // The first fault is kept rather than thrown at once: --help anywhere on the line
    // answers instead, as a user who asks for help after a mistake expects.
    std::vector<GivenOption> given;
    std::string fault;
    bool helpAsked = false;
    opterr = 0;
    optind = 0;  // glibc: 0 starts afresh, should a caller parse twice
    for (int index = -1, value; (value = getopt_long(argc, argv, shorts.c_str(), longs.data(), &index)) != -1;
         index = -1) {
        const char* const arg = argv[optind - 1];
        try {
            if (value == '?') {
                if (optopt != 0 && optopt < kNoLetterBase && !knownFor(optopt))
                    throw UsageError(std::string("unknown option '-") + static_cast<char>(optopt) + "'");
                throw UsageError(std::string("unknown or ambiguous option '") + arg + "'");
            }
            if (value == ':') {
                const KnownOption* known = knownFor(optopt);
                throw UsageError((known ? Dashed(*known) : std::string(arg)) + " needs a value");
            }
            const KnownOption* known = knownFor(value);
            if (!known)
                throw UsageError(std::string("unknown option '") + arg + "'");
            helpAsked = helpAsked || std::string_view(known->name) == "help";
            given.push_back(GivenValue(*known, optarg ? optarg : ""));
        } catch (const UsageError& e) {
            if (fault.empty())
                fault = e.what();
        }
    }
    if (fault.empty() && optind < argc)
        fault = std::string("unexpected argument '") + argv[optind] + "'";
    if (!fault.empty() && !helpAsked)
        throw UsageError(fault);
    return given;
}

} // namespace tolmail::cli
