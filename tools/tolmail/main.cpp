// tolmail: send and fetch mail from the command line with the tolmail components.
#include <cstdio>
#include <cstring>

#include "commands.h"

namespace {

const char* const kUsage =
    "usage: tolmail <command> [options]\n"
    "\n"
    "commands:\n"
    "  send    compose a message with attachments and deliver it to an SMTP server\n"
    "  fetch   list or download the messages of a POP3 mailbox and save their attachments\n"
    "\n"
    "Run 'tolmail <command> --help' for the options of a command.\n";

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (std::strcmp(argv[1], "send") == 0)
        return tolmail::cli::RunSend(argc - 1, argv + 1);
    if (std::strcmp(argv[1], "fetch") == 0)
        return tolmail::cli::RunFetch(argc - 1, argv + 1);
    std::fprintf(stderr, "tolmail: unknown command '%s'\n\n%s", argv[1], kUsage);
    return 2;
}
