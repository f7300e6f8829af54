// tolmail: send and fetch mail from the command line with the tolmail components.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "outcome.h"
#include "system.h"

namespace {

const char* const kUsage =
    "usage: tolmail <command> [options]\n"
    "       tolmail --version\n"
    "\n"
    "commands:\n"
    "  send    compose a message with attachments and deliver it to an SMTP server\n"
    "  fetch   list or download the messages of a POP3 mailbox and save their attachments\n"
    "\n"
    "Run 'tolmail <command> --help' for the options and exit statuses of a command.\n";

} // namespace

int main(int argc, char** argv)
{
    using namespace tolmail::cli;
    sys::StartProgram();
    const char* command = argc < 2 ? "" : argv[1];
    if (std::strcmp(command, "--help") == 0 || std::strcmp(command, "-h") == 0) {
        std::fputs(kUsage, stdout);
        return EX_OK;
    }
    if (std::strcmp(command, "--version") == 0 || std::strcmp(command, "-V") == 0) {
        std::puts(kVersionLine);
        return EX_OK;
    }
    if (std::strcmp(command, "send") == 0 || std::strcmp(command, "fetch") == 0) {
        SetCommandName(command);
        return Guarded([&] { return command[0] == 's' ? RunSend(argc - 1, argv + 1) : RunFetch(argc - 1, argv + 1); });
    }
    if (argc >= 2)
        ReportUsage(std::string("unknown command '") + command + "'");
    std::fputs(kUsage, stderr);
    return EX_USAGE;
}
