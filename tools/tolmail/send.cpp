// tolmail send (placeholder until the command lands).
#include <cstdio>

#include "commands.h"

namespace tolmail::cli {

int RunSend(int, char**)
{
    std::fputs("tolmail send: not available yet\n", stderr);
    return 2;
}

} // namespace tolmail::cli
