#include "account.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "outcome.h"
#include "system.h"
#include "terminal_text.h"

namespace tolmail::cli {

namespace {

constexpr unsigned kGroupOrOthersReadWrite = 0066;

// Every key either command understands; a key outside this list is a typing mistake.
const std::set<std::string> kKeys = {"server",  "port",      "timeout",          "user",
                                     "from",    "from-name", "password-file",    "password-command",
                                     "reply-to", "charset",  "alternative",      "cache-dir",
                                     "tls",     "ca-file",   "insecure"};

// The password's sources replace each other: a file named on the command line must not
// lose to the account's command because the command comes later in the search.
bool IsPasswordSource(const std::string& key) { return key == "password-file" || key == "password-command"; }

struct Setting {
    std::string key, value;
    int line;
};

struct Section {
    std::string base;  // "account NAME : BASE" starts from BASE's values
    std::vector<Setting> settings;
};

struct ConfigFile {
    std::string path;
    std::vector<Setting> defaults;
    std::map<std::string, Section> accounts;
    std::string defaultAccount;
};

std::string Trim(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

/// The file's text; it may hold passwords or commands that print them, so one that
/// others may read or change is refused, as is anything but a regular file.
std::string ReadPrivateFile(const std::string& path)
{
    const std::string shown = "the configuration file " + Printable(path);
    const int fd = sys::OpenToRead(path);
    if (fd < 0)
        throw ConfigError("cannot open " + shown + ": " + std::strerror(errno),
                          errno == ENOENT ? EX_NOINPUT : EX_CONFIG);
    sys::FileFacts facts;
    std::string why;
    if (!sys::Describe(fd, facts) || !facts.regular)
        why = shown + " is not a regular file";
    else if (facts.sharedMode & kGroupOrOthersReadWrite)
        why = shown + " is readable or writable by group or others (chmod 600 it)";
    std::string text;
    char buffer[4096];
    for (long got; why.empty() && (got = sys::ReadSome(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0)
            why = "cannot read " + shown + ": " + std::strerror(errno);
        else
            text.append(buffer, static_cast<size_t>(got));
    }
    sys::Close(fd);
    if (!why.empty())
        throw ConfigError(why);
    return text;
}

ConfigFile Parse(const std::string& path, const std::string& text)
{
    ConfigFile file{path, {}, {}, {}};
    std::vector<Setting>* current = &file.defaults;
    std::istringstream lines(text);
    std::string raw;
    for (int number = 1; std::getline(lines, raw); ++number) {
        const auto fault = [&](const std::string& why) {
            return ConfigError(Printable(path) + ":" + std::to_string(number) + ": " + why);
        };
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        const size_t gap = line.find_first_of(" \t");
        const std::string key = line.substr(0, gap);
        std::string value = gap == std::string::npos ? "" : Trim(line.substr(gap));
        // Quotes keep a value's outer spaces or a leading '#'.
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        if (key == "defaults") {
            if (!value.empty())
                throw fault("'defaults' takes no value");
            current = &file.defaults;
        } else if (key == "account") {
            const size_t colon = value.find(':');
            const std::string name = Trim(value.substr(0, colon));
            const std::string base = colon == std::string::npos ? "" : Trim(value.substr(colon + 1));
            if (name.empty() || name.find_first_of(" \t") != std::string::npos ||
                (colon != std::string::npos && base.empty()))
                throw fault("expected 'account NAME' or 'account NAME : BASE'");
            if (file.accounts.count(name))
                throw fault("account '" + Printable(name) + "' is defined twice");
            // "account default : NAME" thus makes NAME the default, as the account
            // called "default" is taken when no "default NAME" line says otherwise.
            file.accounts[name].base = base;
            current = &file.accounts[name].settings;
        } else if (key == "default") {
            if (value.empty() || value.find_first_of(" \t") != std::string::npos)
                throw fault("expected 'default NAME'");
            file.defaultAccount = value;
        } else if (kKeys.count(key)) {
            if (value.empty())
                throw fault("'" + key + "' needs a value");
            current->push_back({key, value, number});
        } else {
            throw fault("unknown key '" + Printable(key) + "'");
        }
    }
    return file;
}

/// The settings of `name` after those of its bases, in file order.
void Collect(const ConfigFile& file, const std::string& name, std::vector<Setting>& into, int depth = 0)
{
    const auto found = file.accounts.find(name);
    if (found == file.accounts.end())
        throw ConfigError("no account '" + Printable(name) + "' in " + Printable(file.path));
    if (depth > static_cast<int>(file.accounts.size()))
        throw ConfigError("account '" + Printable(name) + "' in " + Printable(file.path) + " is its own base");
    if (!found->second.base.empty())
        Collect(file, found->second.base, into, depth + 1);
    into.insert(into.end(), found->second.settings.begin(), found->second.settings.end());
}

} // namespace

std::vector<GivenOption> WithAccount(std::vector<GivenOption> given, std::span<const KnownOption> table)
{
    std::string path, account;
    bool passwordGiven = false;
    for (const GivenOption& option : given) {
        const std::string name = option.known->name;
        passwordGiven = passwordGiven || IsPasswordSource(name);
        if (name == "help" || name == "version")
            return given;
        if (name == "config")
            path = option.text;
        else if (name == "account")
            account = option.text;
    }
    if (path.empty()) {
        path = sys::UsualConfigPath();
        sys::FileFacts facts;
        if (path.empty() || (!sys::DescribePath(path, facts, false) && errno == ENOENT)) {
            if (!account.empty())
                throw ConfigError("no account '" + Printable(account) + "': there is no configuration file" +
                                  (path.empty() ? "" : " " + Printable(path)));
            return given;
        }
    }
    const ConfigFile file = Parse(path, ReadPrivateFile(path));
    std::vector<Setting> settings = file.defaults;
    if (account.empty())
        account = file.defaultAccount.empty() && file.accounts.count("default") ? "default" : file.defaultAccount;
    if (!account.empty())
        Collect(file, account, settings);
    std::vector<GivenOption> merged;
    for (const Setting& setting : settings) {
        const KnownOption* known = FindOption(table, setting.key);
        if (!known || known->commandLineOnly || (passwordGiven && IsPasswordSource(setting.key)))
            continue;
        try {
            merged.push_back(GivenValue(*known, setting.value));
        } catch (const UsageError& e) {
            throw ConfigError(Printable(path) + ":" + std::to_string(setting.line) + ": " + e.what());
        }
    }
    merged.insert(merged.end(), given.begin(), given.end());
    return merged;
}

} // namespace tolmail::cli
